#pragma once
// The viewer of unit tests, on the scripted tracker (tests/support/ScriptedTracker.cpp).
#include <OsgArt.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "Paths.h"

namespace quorvtest {

/// OsgArt::instance() on the scripted tracker, which prints each marker configuration it
/// receives on a line of the standard output; with no camera (a black picture), in the exhibit
/// folder; `patterns` of data_Tovarin registered, 120 wide. What it prints on the way is dropped.
inline OsgArt* scriptedViewer(const std::vector<std::string>& patterns = {}) {
    const std::string plugins = buildPath("tests/scripted-plugins:") + buildPath("plugins");
    setenv("QUORV_PLUGIN_PATH", plugins.c_str(), 1);
    setenv("QUORV_TRACKER_LOG", "-", 1);
    setenv("QUORV_VIDEO", (::testing::TempDir() + "no_such_feed.avi").c_str(), 1);
    EXPECT_EQ(chdir((sourceDirectory() + "/exhibit").c_str()), 0);
    ::testing::internal::CaptureStdout();
    OsgArt* viewer = OsgArt::instance();
    for (const std::string& pattern : patterns)
        viewer->addMarker("data_Tovarin", pattern, true, 120);
    ::testing::internal::GetCapturedStdout();
    return viewer;
}

}  // namespace quorvtest
