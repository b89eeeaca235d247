#include <gtest/gtest.h>
#include <support/ScriptedViewer.h>

#include "OsgArt.h"

namespace {

// (What the viewer prints, that its content is drawn over the video, that keys reach the
// character and that a refused pattern ends the program are checked in whole-program tests.)
TEST(MarkerRegistry, RegistrationHandsTheTrackerItsConfigurationAndTheFirstBindingOfANameStays) {
    OsgArt* viewer = quorvtest::scriptedViewer();
    // The tracker on the root, the video under the camera.
    osg::Group* root = viewer->getSceneData()->asGroup();
    osg::Camera* camera = root->getChild(0)->asCamera();
    ASSERT_TRUE(camera && camera->getNumChildren() == 1u && root->getUpdateCallback());

    ::testing::internal::CaptureStdout();
    viewer->addMarker("data_Tovarin", "patt.tovex", true, 120);
    viewer->addMarker("folder", "multi.dat", false, 120);
    viewer->addMarker("f", "patt.tovex", true, -5);
    // Each configuration as the scripted tracker received it, between IN and OUT.
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "ADDMARKER\nIN\nsingle;data_Tovarin\\patt.tovex;120;0;0\nOUT\nEND ADDMARKER\n"
              "ADDMARKER\nIN\nmulti;folder\\multi.dat\nOUT\nEND ADDMARKER\n"
              "ADDMARKER\nIN\nsingle;f\\patt.tovex;-5;0;0\nOUT\nEND ADDMARKER\n");
    // The second "patt.tovex" hangs under the camera too, following a marker no name reaches.
    osg::MatrixTransform* transform = viewer->getMarkerTransform("patt.tovex");
    osgART::Marker* marker = viewer->getMarker("patt.tovex");
    ASSERT_TRUE(transform && marker && marker->isActive() && camera->getNumChildren() == 4u);
    EXPECT_EQ(camera->getChild(1), transform);
    EXPECT_FALSE(viewer->isMarkerVisible("patt.tovex") || viewer->isTransformVisible(transform));
    marker->setTracked(true);
    EXPECT_TRUE(viewer->isMarkerVisible("patt.tovex") && viewer->isTransformVisible(transform));
    // Neither another marker's transform nor a stray one borrows its visibility; lookups are exact.
    EXPECT_FALSE(
        viewer->isTransformVisible(camera->getChild(3)->asTransform()->asMatrixTransform()) ||
        viewer->isTransformVisible(viewer->getMarkerTransform("multi.dat")) ||
        viewer->isTransformVisible(new osg::MatrixTransform));
    EXPECT_FALSE(viewer->isMarkerVisible("PATT.TOVEX") || viewer->isMarkerVisible("patt.tovex ") ||
                 viewer->getMarkerTransform("Patt.tovex") || viewer->getMarker("patt"));
    marker->setTracked(false);
    EXPECT_FALSE(viewer->isMarkerVisible("patt.tovex") || viewer->isTransformVisible(transform));
}

}  // namespace
