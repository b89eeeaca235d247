#pragma once
// The viewer of unit tests, on the scripted tracker (tests/support/ScriptedTracker.cpp).
#include <OsgArt.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "Paths.h"

namespace quorvtest {

/// Prepares this process for OsgArt::instance(): the scripted tracker, printing each marker
/// configuration it receives on a line of the standard output; no camera (a black picture); the
/// exhibit folder as working directory.
inline void prepareScriptedViewer() {
    const std::string plugins = buildPath("tests/scripted-plugins:") + buildPath("plugins");
    setenv("QUORV_PLUGIN_PATH", plugins.c_str(), 1);
    setenv("QUORV_TRACKER_LOG", "-", 1);
    setenv("QUORV_VIDEO", (::testing::TempDir() + "no_such_feed.avi").c_str(), 1);
    EXPECT_EQ(chdir((sourceDirectory() + "/exhibit").c_str()), 0);
}

/// The viewer with `patterns` of data_Tovarin registered, 120 wide; what it prints is dropped.
inline OsgArt* scriptedViewer(const std::vector<std::string>& patterns) {
    prepareScriptedViewer();
    ::testing::internal::CaptureStdout();
    OsgArt* viewer = OsgArt::instance();
    for (const std::string& pattern : patterns)
        viewer->addMarker("data_Tovarin", pattern, true, 120);
    ::testing::internal::GetCapturedStdout();
    return viewer;
}

}  // namespace quorvtest
