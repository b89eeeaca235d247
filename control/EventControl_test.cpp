#include "EventControl.h"

#include <gtest/gtest.h>
#include <support/ScriptedViewer.h>

#include <osg/Geode>
#include <osg/io_utils>
#include <sstream>

namespace {

using Event = osgGA::GUIEventAdapter;

OsgArt* viewer() {
    static OsgArt* viewer = quorvtest::scriptedViewer({"patt.tovex"});
    return viewer;
}

/// The exhibit's scene under "patt.tovex", seen: the character holder at (0, 30, 0), placement
/// and scale transforms, model. Returns the holder.
osg::MatrixTransform* buildScene() {
    osg::MatrixTransform* marker = viewer()->getMarkerTransform("patt.tovex");
    marker->removeChildren(0, marker->getNumChildren());
    marker->addChild(new osg::MatrixTransform(osg::Matrixd::translate(0, 30, 0)));
    OsgArt::attachModel(marker->getChild(0)->asGroup(), new osg::Geode, {}, {20, 20, 20});
    viewer()->getMarker("patt.tovex")->setTracked(true);
    return marker->getChild(0)->asTransform()->asMatrixTransform();
}

/// Sends each key in turn; whether every one was taken.
bool press(const std::string& keys, Event::EventType type = Event::KEYDOWN) {
    static osg::ref_ptr<EventControl> control = new EventControl;
    bool taken = true;
    for (char key : keys) {
        osg::ref_ptr<Event> event = new Event;
        event->setEventType(type);
        event->setKey(key);
        taken = control->handle(*event, *viewer()) && taken;
    }
    return taken;
}

TEST(EventControl, TurnsTurnThePlacementAndWalksGoTwoUnitsAlongTheHeading) {
    // Keys pressed on the scene as set up, and where they take the holder from (0, 30); 19 turns
    // go past 180 degrees, 36 make a full circle.
    for (const char* row :
         {"I 0 2", "i 0 2", "K 0 -2", "k 0 -2", "JL 0 0", "JI -0.3473 1.9696", "ji -0.3473 1.9696",
          "JK 0.3473 -1.9696", "LI 0.3473 1.9696", "li 0.3473 1.9696", "IJI -0.3473 3.9696",
          "JJJJJJJJJJJJJJJJJJJI 0.3473 -1.9696", "jjjjjjjjjjjjjjjjjjjjjjjjjjjjjjjjjjjjI 0 2"}) {
        std::istringstream fields(row);
        std::string keys;
        osg::Vec3d want;
        fields >> keys >> want.x() >> want.y();
        osg::MatrixTransform* holder = buildScene();
        EXPECT_TRUE(press(keys));
        const osg::Vec3d got = holder->getMatrix().getTrans();
        EXPECT_LT((got - want - osg::Vec3d(0, 30, 0)).length(), 1e-4) << row << ": " << got;
    }
}

TEST(EventControl, TakesOnlyKeyPressesWhileTheMarkerIsSeenAndTheCharacterIsThere) {
    osg::MatrixTransform* holder = buildScene();
    EXPECT_TRUE(dynamic_cast<EventControl*>(viewer()->getEventHandlers().back().get()))
        << "the viewer hands it the keys last";
    for (auto type : {Event::KEYUP, Event::PUSH, Event::DRAG, Event::FRAME})
        EXPECT_FALSE(press("I", type)) << type;
    viewer()->getMarker("patt.tovex")->setTracked(false);
    EXPECT_FALSE(press("IJ"));
    viewer()->getMarker("patt.tovex")->setTracked(true);
    EXPECT_TRUE(press(" X"));  // taken, though they do nothing
    EXPECT_TRUE(press("I"));
    EXPECT_EQ(holder->getMatrix(), osg::Matrixd::translate(0, 32, 0)) << "one walk, no turn";

    // Without the transforms the set-up hangs under the marker, keys are left to others.
    osg::MatrixTransform* marker = viewer()->getMarkerTransform("patt.tovex");
    marker->replaceChild(holder, new osg::Group);
    EXPECT_FALSE(press("I"));
    osg::ref_ptr<osg::MatrixTransform> bare = new osg::MatrixTransform;
    marker->replaceChild(marker->getChild(0), bare.get());
    EXPECT_FALSE(press("J"));
    EXPECT_TRUE(bare->getMatrix().isIdentity());
    marker->removeChildren(0, 1);
    EXPECT_FALSE(press("I"));
}

}  // namespace
