#pragma once

#include "Paths.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <string>

namespace quorvtest {

/// Prepares this process for OsgArt::instance() in a unit test: the scripted tracker plugin
/// (which logs the marker configurations it receives to `trackerLog` and refuses the pattern
/// "patt.refused"), no camera (a black picture), and the exhibit folder as working directory.
inline void prepareScriptedViewer(const std::string& trackerLog) {
    const std::string plugins =
        buildDirectory() + "/tests/scripted-plugins:" + buildDirectory() + "/plugins";
    setenv("QUORV_PLUGIN_PATH", plugins.c_str(), 1);
    setenv("QUORV_TRACKER_LOG", trackerLog.c_str(), 1);
    setenv("QUORV_TRACKER_REFUSE", "patt.refused", 1);
    setenv("QUORV_VIDEO", (::testing::TempDir() + "no_such_feed.avi").c_str(), 1);
    ASSERT_EQ(chdir((sourceDirectory() + "/exhibit").c_str()), 0);
}

}  // namespace quorvtest
