#include "PluginManager.h"
#include "Tracker.h"
#include "Video.h"

#include <gtest/gtest.h>
#include <support/Paths.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>

namespace {

std::string buildDir() { return quorvtest::buildDirectory(); }

class PluginManagerTest : public ::testing::Test {
protected:
    void SetUp() override { osgART::PluginManager::instance(true); }
    void TearDown() override {
        unsetenv("QUORV_PLUGIN_PATH");
        osgART::PluginManager::instance(true);
    }
};

TEST_F(PluginManagerTest, MissingPluginGivesNoObject) {
    setenv("QUORV_PLUGIN_PATH", ::testing::TempDir().c_str(), 1);
    osgART::PluginManager* manager = osgART::PluginManager::instance(false);
    const int id = manager->load("osgart_no_such_plugin", true);
    EXPECT_EQ(id, -1);
    EXPECT_EQ(manager->get(id), nullptr);
    EXPECT_EQ(manager->get(12345), nullptr);
    EXPECT_NE(manager->lastError().find("not found"), std::string::npos);
}

TEST_F(PluginManagerTest, SearchesTheEnvironmentFoldersFirstAndSkipsBrokenFiles) {
    // A folder holding a file with the plugin's name that is no library at all, then the real
    // plugin folder: the broken file is tried first and the real one still loads.
    const std::string broken = ::testing::TempDir() + "quorv_broken_plugins";
    mkdir(broken.c_str(), 0755);
    std::ofstream(broken + "/osgart_video_artoolkit2.so") << "not a shared library";
    const std::string path = broken + ":" + buildDir() + "/plugins";
    setenv("QUORV_PLUGIN_PATH", path.c_str(), 1);

    const auto folders = osgART::PluginManager::searchPath();
    ASSERT_GE(folders.size(), 3u);
    EXPECT_EQ(folders[0], broken);
    EXPECT_EQ(folders[1], buildDir() + "/plugins");
    EXPECT_NE(folders.back().find("/plugins"), std::string::npos);  // beside the executable

    osgART::PluginManager* manager = osgART::PluginManager::instance(false);
    const int videoId = manager->load("osgart_video_artoolkit2", true);
    const int trackerId = manager->load("osgart_tracker_artoolkit2", true);
    ASSERT_GE(videoId, 0) << manager->lastError();
    ASSERT_GE(trackerId, 0) << manager->lastError();
    EXPECT_NE(videoId, trackerId);
    EXPECT_NE(dynamic_cast<osgART::Video*>(manager->get(videoId)), nullptr);
    EXPECT_EQ(dynamic_cast<osgART::Tracker*>(manager->get(videoId)), nullptr);
    auto* tracker = dynamic_cast<osgART::Tracker*>(manager->get(trackerId));
    ASSERT_NE(tracker, nullptr);
    EXPECT_NE(tracker->getOrCreateCalibration(), nullptr);
}

}  // namespace
