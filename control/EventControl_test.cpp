#include "EventControl.h"

#include <gtest/gtest.h>
#include <support/ScriptedViewer.h>

#include <cstdio>
#include <osg/Geode>
#include <osg/io_utils>

namespace {

using Event = osgGA::GUIEventAdapter;

TEST(EventControl, WhileTheMarkerIsSeenKeysTurnThePlacementAndWalkTwoUnitsAlongTheHeading) {
    OsgArt* viewer = quorvtest::scriptedViewer({"patt.tovex"});
    osgART::Marker* seen = viewer->getMarker("patt.tovex");
    osg::MatrixTransform* marker = viewer->getMarkerTransform("patt.tovex");
    osg::ref_ptr<EventControl> control = new EventControl;
    // Sends each key in turn; whether every one was taken.
    const auto press = [&](const std::string& keys, Event::EventType type = Event::KEYDOWN) {
        bool taken = true;
        for (char key : keys) {
            osg::ref_ptr<Event> event = new Event;
            event->setEventType(type);
            event->setKey(key);
            taken = control->handle(*event, *viewer) && taken;
        }
        return taken;
    };
    // The exhibit's scene: the character holder at (0, 30, 0), placement and scale transforms.
    const auto holder = [&] {
        marker->removeChildren(0, marker->getNumChildren());
        marker->addChild(new osg::MatrixTransform(osg::Matrixd::translate(0, 30, 0)));
        OsgArt::attachModel(marker->getChild(0)->asGroup(), new osg::Geode, {}, {20, 20, 20});
        seen->setTracked(true);
        return marker->getChild(0)->asTransform()->asMatrixTransform();
    };
    // Keys and where they take the holder from (0, 30); 19 turns go past 180 degrees, 36 make a
    // full circle; other keys are taken but do nothing.
    for (const char* row :
         {"I 0 2", "k 0 -2", "JLX 0 0", "ji -0.3473 1.9696", "JK 0.3473 -1.9696",
          "Li 0.3473 1.9696", "IJI -0.3473 3.9696", "JJJJJJJJJJJJJJJJJJJI 0.3473 -1.9696",
          "jjjjjjjjjjjjjjjjjjjjjjjjjjjjjjjjjjjjI 0 2"}) {
        char keys[64];
        double x = 0, y = 0;
        std::sscanf(row, "%63s %lf %lf", keys, &x, &y);
        osg::MatrixTransform* moved = holder();
        EXPECT_TRUE(press(keys));
        const osg::Vec3d got = moved->getMatrix().getTrans();
        EXPECT_LT((got - osg::Vec3d(x, 30 + y, 0)).length(), 1e-4) << keys << ": " << got;
    }
    // Nothing but key presses, and none while the marker is lost.
    osg::MatrixTransform* moved = holder();
    EXPECT_FALSE(press("I", Event::KEYUP) || press("I", Event::PUSH) || press("I", Event::FRAME));
    seen->setTracked(false);
    EXPECT_FALSE(press("IJ"));
    EXPECT_EQ(moved->getMatrix(), osg::Matrixd::translate(0, 30, 0));
    // Without its transforms the character is left alone, the keys to others.
    marker->replaceChild(moved, new osg::Group);
    seen->setTracked(true);
    EXPECT_FALSE(press("I"));
}

}  // namespace
