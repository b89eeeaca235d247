#include "OsgArt.h"

#include <support/ScriptedViewer.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <algorithm>
#include <string>
#include <vector>
#include <osgViewer/ViewerEventHandlers>

namespace {

/// One viewer for the whole binary (it is process-wide), made with the scripted tracker, which
/// logs every configuration string it receives and refuses the pattern "patt.refused".
class MarkerRegistryTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        log = ::testing::TempDir() + "quorv_registry_configs.txt";
        std::remove(log.c_str());
        quorvtest::prepareScriptedViewer(log);
        ::testing::internal::CaptureStdout();
        viewer = OsgArt::instance();
        constructionOutput = ::testing::internal::GetCapturedStdout();
    }

    /// The configuration strings the tracker has received so far.
    static std::vector<std::string> configurations() {
        std::ifstream in(log);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    static osg::Camera* camera() {
        return viewer->getSceneData()->asGroup()->getChild(0)->asCamera();
    }

    static OsgArt* viewer;
    static std::string log;
    static std::string constructionOutput;
};

OsgArt* MarkerRegistryTest::viewer = nullptr;
std::string MarkerRegistryTest::log;
std::string MarkerRegistryTest::constructionOutput;

TEST_F(MarkerRegistryTest, AViewerStartsWithTheSkeletonAndAnEmptyRegistry) {
    EXPECT_EQ(constructionOutput, "yeah\n");
    ASSERT_NE(viewer, nullptr);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(OsgArt::instance(), viewer);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");

    EXPECT_TRUE(viewer->getMarkers().empty());
    osg::Group* root = viewer->getSceneData()->asGroup();
    ASSERT_NE(root, nullptr);
    ASSERT_EQ(root->getNumChildren(), 1u);
    ASSERT_NE(camera(), nullptr);
    ASSERT_EQ(camera()->getNumChildren(), 1u);
    auto* layer = dynamic_cast<osgART::VideoLayer*>(camera()->getChild(0));
    ASSERT_NE(layer, nullptr);
    EXPECT_EQ(layer->getStateSet()->getBinNumber(), 0);
    EXPECT_EQ(layer->getStateSet()->getBinName(), "RenderBin");
    EXPECT_EQ(layer->getStateSet()->getRenderBinMode(), osg::StateSet::USE_RENDERBIN_DETAILS);
    EXPECT_NE(root->getUpdateCallback(), nullptr);  // the tracker's

    // The four standard handlers, in order.
    const std::vector<osg::ref_ptr<osgGA::EventHandler>> handlers(
        viewer->getEventHandlers().begin(), viewer->getEventHandlers().end());
    ASSERT_GE(handlers.size(), 4u);
    EXPECT_NE(dynamic_cast<osgViewer::StatsHandler*>(handlers[0].get()), nullptr);
    EXPECT_NE(dynamic_cast<osgViewer::WindowSizeHandler*>(handlers[1].get()), nullptr);
    EXPECT_NE(dynamic_cast<osgViewer::ThreadingHandler*>(handlers[2].get()), nullptr);
    EXPECT_NE(dynamic_cast<osgViewer::HelpHandler*>(handlers[3].get()), nullptr);
}

TEST_F(MarkerRegistryTest, RegistrationHandsTheTrackerTheConfigurationAndPrintsFourLines) {
    const size_t before = configurations().size();
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(viewer->addMarker("data_Tovarin", "patt.tovex", true, 120));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "ADDMARKER\nIN\nOUT\nEND ADDMARKER\n");
    viewer->addMarker("folder", "multi.dat", false, 120);
    viewer->addMarker("f", "patt.neg", true, -5);
    viewer->addMarker("f", "patt.zero", true, 0);
    const auto all = configurations();
    ASSERT_EQ(all.size(), before + 4);
    EXPECT_EQ(all[before], "single;data_Tovarin\\patt.tovex;120;0;0");
    EXPECT_EQ(all[before + 1], "multi;folder\\multi.dat");
    EXPECT_EQ(all[before + 2], "single;f\\patt.neg;-5;0;0");
    EXPECT_EQ(all[before + 3], "single;f\\patt.zero;0;0;0");

    osg::MatrixTransform* transform = viewer->getMarkerTransform("patt.tovex");
    ASSERT_NE(transform, nullptr);
    EXPECT_EQ(transform->getName(), "marker");
    EXPECT_EQ(transform->getStateSet()->getBinNumber(), 100);
    EXPECT_EQ(transform->getStateSet()->getBinName(), "RenderBin");
    EXPECT_EQ(transform->getStateSet()->getRenderBinMode(), osg::StateSet::USE_RENDERBIN_DETAILS);
    EXPECT_TRUE(camera()->containsNode(transform));
    ASSERT_NE(viewer->getMarker("patt.tovex"), nullptr);
    EXPECT_TRUE(viewer->getMarker("patt.tovex")->isActive());
}

TEST_F(MarkerRegistryTest, KeysAreExactOrderedAndTheFirstBindingOfANameStays) {
    viewer->addMarker("data_Tovarin", "patt.roundplay", true, 120);
    viewer->addMarker("data_Tovarin", "patt.camara", true, 120);
    std::vector<std::string> keys;
    for (const auto& entry : viewer->getMarkers()) keys.push_back(entry.first);
    EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
    const auto camara = std::find(keys.begin(), keys.end(), "patt.camara");
    const auto roundplay = std::find(keys.begin(), keys.end(), "patt.roundplay");
    EXPECT_LT(camara, roundplay);

    osg::MatrixTransform* first = viewer->getMarkerTransform("patt.camara");
    osgART::Marker* firstMarker = viewer->getMarker("patt.camara");
    const unsigned int children = camera()->getNumChildren();
    viewer->addMarker("data_Tovarin", "patt.camara", true, 120);
    EXPECT_EQ(viewer->getMarkerTransform("patt.camara"), first);
    EXPECT_EQ(viewer->getMarker("patt.camara"), firstMarker);
    // Both transforms hang under the camera; only the first is reachable by name.
    ASSERT_EQ(camera()->getNumChildren(), children + 1);
    auto* second = dynamic_cast<osg::MatrixTransform*>(camera()->getChild(children));
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first);
    EXPECT_FALSE(viewer->isTransformVisible(second));

    EXPECT_EQ(viewer->getMarkerTransform("patt.camara "), nullptr);
    EXPECT_EQ(viewer->getMarkerTransform("Patt.camara"), nullptr);
    EXPECT_EQ(viewer->getMarker("patt"), nullptr);
    EXPECT_FALSE(viewer->isMarkerVisible("PATT.CAMARA"));
}

TEST_F(MarkerRegistryTest, VisibilityFollowsTheMarkerByNameAndByTransform) {
    viewer->addMarker("data_Tovarin", "patt.seen", true, 120);
    osgART::Marker* marker = viewer->getMarker("patt.seen");
    osg::MatrixTransform* transform = viewer->getMarkerTransform("patt.seen");
    ASSERT_NE(marker, nullptr);
    EXPECT_FALSE(viewer->isMarkerVisible("patt.seen"));
    EXPECT_FALSE(viewer->isTransformVisible(transform));

    marker->setTracked(true, osg::Matrixd::translate(0, 0, -400));
    EXPECT_TRUE(viewer->isMarkerVisible("patt.seen"));
    EXPECT_TRUE(viewer->isTransformVisible(transform));
    // Another marker's transform does not borrow this one's visibility.
    EXPECT_FALSE(viewer->isTransformVisible(viewer->getMarkerTransform("patt.tovex")));
    EXPECT_FALSE(viewer->isTransformVisible(new osg::MatrixTransform));

    marker->setTracked(false);
    EXPECT_FALSE(viewer->isMarkerVisible("patt.seen"));
    EXPECT_FALSE(viewer->isTransformVisible(transform));
}

TEST_F(MarkerRegistryTest, ARefusedPatternEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(viewer->addMarker("data_Tovarin", "patt.refused", true, 120),
                ::testing::ExitedWithCode(255), "Could not add marker!");
}

}  // namespace
