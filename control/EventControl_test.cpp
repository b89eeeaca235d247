#include "EventControl.h"

#include <gtest/gtest.h>
#include <support/ScriptedViewer.h>

#include <osg/Geode>
#include <osg/io_utils>

namespace {

using Event = osgGA::GUIEventAdapter;

/// The exhibit's scene under "patt.tovex" (character holder at (0, 30, 0), placement and scale
/// transforms, model), with the marker seen.
class EventControlTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { viewer = quorvtest::scriptedViewer({"patt.tovex"}); }

    void SetUp() override { buildScene(); }
    void buildScene() {
        marker = viewer->getMarkerTransform("patt.tovex");
        marker->removeChildren(0, marker->getNumChildren());
        holder = new osg::MatrixTransform(osg::Matrixd::translate(0, 30, 0));
        OsgArt::attachModel(holder.get(), new osg::Geode, {}, {20, 20, 20});
        marker->addChild(holder.get());
        placement = dynamic_cast<osg::MatrixTransform*>(holder->getChild(0));
        setSeen(true);
    }

    void setSeen(bool seen) { viewer->getMarker("patt.tovex")->setTracked(seen); }
    bool send(Event::EventType type, int key) {
        osg::ref_ptr<Event> event = new Event;
        event->setEventType(type);
        event->setKey(key);
        return control->handle(*event, *viewer);
    }
    /// Presses each key in turn; whether every press was taken.
    bool press(const std::string& keys) {
        bool taken = true;
        for (char key : keys) taken = send(Event::KEYDOWN, key) && taken;
        return taken;
    }

    inline static OsgArt* viewer = nullptr;
    osg::ref_ptr<EventControl> control = new EventControl;
    osg::MatrixTransform* marker = nullptr;
    osg::ref_ptr<osg::MatrixTransform> holder;
    osg::MatrixTransform* placement = nullptr;
};

TEST_F(EventControlTest, TurnsTurnThePlacementAndWalksGoTwoUnitsAlongTheHeading) {
    const std::string left19(19, 'J'), left36(36, 'J');
    const struct {
        std::string turns;
        char walk;
        osg::Vec3d step;  // in the marker's frame
    } cases[] = {
        {"", 'I', {0, 2, 0}},
        {"", 'i', {0, 2, 0}},
        {"", 'K', {0, -2, 0}},
        {"", 'k', {0, -2, 0}},
        {"J", 'I', {-0.3473, 1.9696, 0}},
        {"j", 'I', {-0.3473, 1.9696, 0}},
        {"L", 'I', {0.3473, 1.9696, 0}},
        {"l", 'i', {0.3473, 1.9696, 0}},
        {"J", 'K', {0.3473, -1.9696, 0}},
        {"JL", 'I', {0, 2, 0}},
        {left19, 'I', {0.3473, -1.9696, 0}},  // past 180 degrees the heading keeps its meaning
        {left36, 'I', {0, 2, 0}},             // a full circle
    };
    for (const auto& c : cases) {
        buildScene();
        EXPECT_TRUE(press(c.turns));
        EXPECT_EQ(holder->getMatrix(), osg::Matrixd::translate(0, 30, 0)) << "turning moved it";
        EXPECT_TRUE(press(std::string(1, c.walk)));
        const osg::Vec3d step = holder->getMatrix().getTrans() - osg::Vec3d(0, 30, 0);
        EXPECT_LT((step - c.step).length(), 1e-4) << c.turns << c.walk << ": " << step;
        osg::Matrixd turn = holder->getMatrix();
        turn.setTrans(0, 0, 0);
        EXPECT_TRUE(turn.isIdentity()) << "the holder only ever moves";
    }
}

TEST_F(EventControlTest, TakesOnlyKeyPressesWhileTheMarkerIsSeenAndTheCharacterIsThere) {
    EXPECT_TRUE(dynamic_cast<EventControl*>(viewer->getEventHandlers().back().get()))
        << "the viewer hands it the keys last";
    for (auto type : {Event::KEYUP, Event::PUSH, Event::DRAG, Event::FRAME})
        EXPECT_FALSE(send(type, 'I')) << type;
    setSeen(false);
    EXPECT_FALSE(press("IJ"));
    setSeen(true);
    EXPECT_TRUE(press(" X"));  // taken, though they do nothing
    EXPECT_EQ(holder->getMatrix(), osg::Matrixd::translate(0, 30, 0));
    EXPECT_TRUE(placement->getMatrix().isIdentity());

    // Without the transforms the set-up hangs under the marker, keys are left to others.
    marker->replaceChild(holder.get(), new osg::Group);
    EXPECT_FALSE(press("I"));
    osg::ref_ptr<osg::MatrixTransform> bare = new osg::MatrixTransform;
    marker->replaceChild(marker->getChild(0), bare.get());
    EXPECT_FALSE(press("J"));
    EXPECT_TRUE(bare->getMatrix().isIdentity());
    marker->removeChildren(0, 1);
    EXPECT_FALSE(press("I"));
}

}  // namespace
