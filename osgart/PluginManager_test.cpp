#include "PluginManager.h"

#include <gtest/gtest.h>
#include <support/Paths.h>
#include <sys/stat.h>

#include <fstream>

#include "Tracker.h"
#include "Video.h"

namespace {

TEST(PluginManager, SearchesTheEnvironmentFoldersFirstAndSkipsFilesThatDoNotLoad) {
    // A folder holding a file with the video plugin's name that is no library at all, then the
    // real plugin folder: the broken file is tried first and the real one still loads.
    const std::string broken = ::testing::TempDir() + "quorv_broken_plugins";
    mkdir(broken.c_str(), 0755);
    std::ofstream(broken + "/osgart_video_artoolkit2.so") << "not a shared library";
    setenv("QUORV_PLUGIN_PATH", (broken + ":" + quorvtest::buildPath("plugins")).c_str(), 1);
    const auto folders = osgART::PluginManager::searchPath();
    ASSERT_EQ(folders.size(), 3u);
    EXPECT_EQ(folders[0] + " " + folders[1], broken + " " + quorvtest::buildPath("plugins"));
    EXPECT_NE(folders[2].find("/plugins"), std::string::npos) << "beside the executable";

    osgART::PluginManager* manager = osgART::PluginManager::instance();
    const int video = manager->load("osgart_video_artoolkit2");
    const int tracker = manager->load("osgart_tracker_artoolkit2");
    EXPECT_TRUE(dynamic_cast<osgART::Video*>(manager->get(video))) << manager->lastError();
    EXPECT_TRUE(dynamic_cast<osgART::Tracker*>(manager->get(tracker))) << manager->lastError();
    EXPECT_EQ(manager->load("osgart_no_such_plugin"), -1);
    EXPECT_NE(manager->lastError().find("not found"), std::string::npos) << manager->lastError();
    EXPECT_FALSE(manager->get(-1) || manager->get(12345));
}

}  // namespace
