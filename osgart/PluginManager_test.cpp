#include "PluginManager.h"

#include <gtest/gtest.h>
#include <support/Paths.h>
#include <sys/stat.h>

#include <fstream>

#include "Tracker.h"
#include "Video.h"

// (That the environment's folders come first is what lets the program tests pick the scripted
// tracker.) A folder holding a file with the video plugin's name that is no library at all, then
// the real plugin folder: the broken file is tried first and the real one still loads.
TEST(PluginManager, SearchesTheEnvironmentFoldersFirstAndSkipsFilesThatDoNotLoad) {
    const std::string broken = ::testing::TempDir() + "quorv_broken_plugins",
                      real = quorvtest::buildPath("plugins");
    mkdir(broken.c_str(), 0755);
    std::ofstream(broken + "/osgart_video_artoolkit2.so") << "not a shared library";
    setenv("QUORV_PLUGIN_PATH", (broken + ":" + real).c_str(), 1);
    osgART::PluginManager* manager = osgART::PluginManager::instance();
    EXPECT_TRUE(
        dynamic_cast<osgART::Video*>(manager->get(manager->load("osgart_video_artoolkit2"))) &&
        dynamic_cast<osgART::Tracker*>(manager->get(manager->load("osgart_tracker_artoolkit2"))))
        << manager->lastError();
    EXPECT_TRUE(manager->load("osgart_no_such_plugin") == -1 &&
                manager->lastError().find("not found") != std::string::npos)
        << manager->lastError();
    EXPECT_FALSE(manager->get(-1) || manager->get(12345));
}
