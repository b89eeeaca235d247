#include <EventControl.h>
#include <gtest/gtest.h>
#include <support/ScriptedViewer.h>

#include <osgViewer/ViewerEventHandlers>

#include "OsgArt.h"

namespace {

/// One viewer for the whole binary (it is process-wide), on the scripted tracker. Each test
/// registers the markers it looks at.
class MarkerRegistryTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        log = quorvtest::prepareScriptedViewer();
        ::testing::internal::CaptureStdout();
        viewer = OsgArt::instance();
        printed = ::testing::internal::GetCapturedStdout();
    }
    static osg::Camera* camera() {
        return viewer->getSceneData()->asGroup()->getChild(0)->asCamera();
    }
    /// The render bin a node's state set asks for, "number name", or "" for its parent's.
    static std::string bin(osg::Node* node) {
        const osg::StateSet* state = node->getStateSet();
        if (!state || state->getRenderBinMode() != osg::StateSet::USE_RENDERBIN_DETAILS) return "";
        return std::to_string(state->getBinNumber()) + " " + state->getBinName();
    }

    inline static OsgArt* viewer = nullptr;
    inline static std::string log, printed;
};

TEST_F(MarkerRegistryTest, AViewerStartsWithTheVideoBehindAndTheHandlersInOrder) {
    EXPECT_EQ(printed, "yeah\n");
    osg::Group* root = viewer->getSceneData()->asGroup();
    ASSERT_TRUE(root && root->getNumChildren() == 1u && camera());
    ASSERT_EQ(camera()->getNumChildren(), 1u);
    auto* layer = dynamic_cast<osgART::VideoLayer*>(camera()->getChild(0));
    ASSERT_NE(layer, nullptr);
    EXPECT_EQ(bin(layer), "0 RenderBin");
    EXPECT_NE(root->getUpdateCallback(), nullptr) << "no tracker";
    const auto& handlers = viewer->getEventHandlers();
    ASSERT_EQ(handlers.size(), 5u);
    auto handler = handlers.begin();
    EXPECT_TRUE(dynamic_cast<osgViewer::StatsHandler*>((handler++)->get()) &&
                dynamic_cast<osgViewer::WindowSizeHandler*>((handler++)->get()) &&
                dynamic_cast<osgViewer::ThreadingHandler*>((handler++)->get()) &&
                dynamic_cast<osgViewer::HelpHandler*>((handler++)->get()) &&
                dynamic_cast<EventControl*>((handler++)->get()));
}

TEST_F(MarkerRegistryTest, RegistrationHandsTheTrackerItsConfigurationAndFollowsTheMarker) {
    const size_t before = quorvtest::linesOf(log).size();
    ::testing::internal::CaptureStdout();
    viewer->addMarker("data_Tovarin", "patt.tovex", true, 120);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "ADDMARKER\nIN\nOUT\nEND ADDMARKER\n");
    viewer->addMarker("folder", "multi.dat", false, 120);
    viewer->addMarker("f", "patt.neg", true, -5);
    const auto lines = quorvtest::linesOf(log);
    EXPECT_EQ(std::vector<std::string>(lines.begin() + before, lines.end()),
              (std::vector<std::string>{"single;data_Tovarin\\patt.tovex;120;0;0",
                                        "multi;folder\\multi.dat", "single;f\\patt.neg;-5;0;0"}));

    osg::MatrixTransform* transform = viewer->getMarkerTransform("patt.tovex");
    osgART::Marker* marker = viewer->getMarker("patt.tovex");
    ASSERT_TRUE(transform && marker && marker->isActive());
    EXPECT_EQ(transform->getName(), "marker");
    EXPECT_EQ(bin(transform), "100 RenderBin") << "drawn before the video";
    EXPECT_TRUE(camera()->containsNode(transform));
    EXPECT_FALSE(viewer->isMarkerVisible("patt.tovex") || viewer->isTransformVisible(transform));
    marker->setTracked(true);
    EXPECT_TRUE(viewer->isMarkerVisible("patt.tovex") && viewer->isTransformVisible(transform));
    // Another marker's transform does not borrow its visibility, nor does a stray transform.
    EXPECT_FALSE(viewer->isTransformVisible(viewer->getMarkerTransform("patt.neg")) ||
                 viewer->isTransformVisible(new osg::MatrixTransform));
    marker->setTracked(false);
    EXPECT_FALSE(viewer->isMarkerVisible("patt.tovex") || viewer->isTransformVisible(transform));
}

TEST_F(MarkerRegistryTest, TheFirstBindingOfANameStaysAndLookupsAreExact) {
    viewer->addMarker("data_Tovarin", "patt.camara", true, 120);
    osg::MatrixTransform* first = viewer->getMarkerTransform("patt.camara");
    osgART::Marker* marker = viewer->getMarker("patt.camara");
    viewer->addMarker("data_Tovarin", "patt.camara", true, 80);
    EXPECT_EQ(viewer->getMarkerTransform("patt.camara"), first);
    EXPECT_EQ(viewer->getMarker("patt.camara"), marker);
    // Both transforms hang under the camera; the second follows a marker no name reaches.
    osg::Node* second = camera()->getChild(camera()->getNumChildren() - 1);
    ASSERT_NE(second, first);
    ASSERT_NE(second->asTransform(), nullptr);
    marker->setTracked(true);
    EXPECT_FALSE(viewer->isTransformVisible(second->asTransform()->asMatrixTransform()));

    EXPECT_TRUE(viewer->isMarkerVisible("patt.camara"));
    EXPECT_FALSE(viewer->isMarkerVisible("PATT.CAMARA") || viewer->isMarkerVisible("patt.camara "));
    EXPECT_FALSE(viewer->getMarkerTransform("Patt.camara") || viewer->getMarker("patt"));
}

TEST_F(MarkerRegistryTest, ARefusedPatternEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(viewer->addMarker("data_Tovarin", "patt.refused", true, 120),
                ::testing::ExitedWithCode(255), "Could not add marker!");
}

}  // namespace
