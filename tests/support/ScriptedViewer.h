#pragma once

#include <OsgArt.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "Paths.h"

namespace quorvtest {

/// Prepares this process for OsgArt::instance() in a unit test: the scripted tracker plugin
/// (which refuses the pattern "patt.refused" and logs the marker configurations it receives to
/// the file returned, fresh for this process), no camera (a black picture), and the exhibit
/// folder as working directory.
inline std::string prepareScriptedViewer() {
    const std::string log = ::testing::TempDir() + "quorv_tracker_" + std::to_string(getpid());
    std::remove(log.c_str());
    const std::string plugins =
        buildDirectory() + "/tests/scripted-plugins:" + buildDirectory() + "/plugins";
    setenv("QUORV_PLUGIN_PATH", plugins.c_str(), 1);
    setenv("QUORV_TRACKER_LOG", log.c_str(), 1);
    setenv("QUORV_TRACKER_REFUSE", "patt.refused", 1);
    setenv("QUORV_VIDEO", (::testing::TempDir() + "no_such_feed.avi").c_str(), 1);
    EXPECT_EQ(chdir((sourceDirectory() + "/exhibit").c_str()), 0);
    return log;
}

/// The viewer on the scripted tracker with `patterns` of data_Tovarin registered, 120 wide; what
/// it prints on the way is dropped.
inline OsgArt* scriptedViewer(const std::vector<std::string>& patterns) {
    prepareScriptedViewer();
    ::testing::internal::CaptureStdout();
    OsgArt* viewer = OsgArt::instance();
    for (const std::string& pattern : patterns)
        viewer->addMarker("data_Tovarin", pattern, true, 120);
    ::testing::internal::GetCapturedStdout();
    return viewer;
}

/// The lines of a text file.
inline std::vector<std::string> linesOf(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace quorvtest
