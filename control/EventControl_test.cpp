#include "EventControl.h"

#include <OsgArt.h>
#include <support/ScriptedViewer.h>

#include <gtest/gtest.h>

#include <osg/Geode>

#include <cmath>

namespace {

/// The exhibit's scene under "patt.tovex" (marker transform, character holder at (0, 30, 0),
/// placement and scale transforms, model) and a second marker with content of its own.
class EventControlTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        quorvtest::prepareScriptedViewer(::testing::TempDir() + "quorv_control_configs.txt");
        ::testing::internal::CaptureStdout();
        viewer = OsgArt::instance();
        viewer->addMarker("data_Tovarin", "patt.tovex", true, 120);
        viewer->addMarker("data_Tovarin", "patt.roundplay", true, 120);
        ::testing::internal::GetCapturedStdout();
    }

    void SetUp() override {
        for (const char* name : {"patt.tovex", "patt.roundplay"}) {
            osg::MatrixTransform* marker = viewer->getMarkerTransform(name);
            marker->removeChildren(0, marker->getNumChildren());
        }
        holder = new osg::MatrixTransform(osg::Matrixd::translate(osg::Vec3f(0, 30, 0)));
        OsgArt::attachModel(holder.get(), new osg::Geode, osg::Vec3d(), osg::Vec3d(20, 20, 20));
        viewer->getMarkerTransform("patt.tovex")->addChild(holder.get());
        placement = dynamic_cast<osg::MatrixTransform*>(holder->getChild(0));
        OsgArt::attachModel(viewer->getMarkerTransform("patt.roundplay"), new osg::Geode,
                            osg::Vec3d(), osg::Vec3d(1, 1, 1));
        other = dynamic_cast<osg::MatrixTransform*>(
            viewer->getMarkerTransform("patt.roundplay")->getChild(0));
        setSeen(true);
        viewer->getMarker("patt.roundplay")->setTracked(true);
    }

    static void setSeen(bool seen) { viewer->getMarker("patt.tovex")->setTracked(seen); }

    bool send(osgGA::GUIEventAdapter::EventType type, int key = 0) {
        osg::ref_ptr<osgGA::GUIEventAdapter> event = new osgGA::GUIEventAdapter;
        event->setEventType(type);
        event->setKey(key);
        return control->handle(*event, *viewer);
    }
    bool press(int key) { return send(osgGA::GUIEventAdapter::KEYDOWN, key); }

    /// Where one press of I moves the holder from its current matrix.
    osg::Vec3d walkStep() {
        const osg::Vec3d before = holder->getMatrix().getTrans();
        EXPECT_TRUE(press('I'));
        return holder->getMatrix().getTrans() - before;
    }

    static OsgArt* viewer;
    osg::ref_ptr<EventControl> control = new EventControl;
    osg::ref_ptr<osg::MatrixTransform> holder;
    osg::MatrixTransform* placement = nullptr;
    osg::MatrixTransform* other = nullptr;
};

OsgArt* EventControlTest::viewer = nullptr;

bool nearMatrix(const osg::Matrixd& a, const osg::Matrixd& b) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            if (std::abs(a(i, j) - b(i, j)) > 1e-9) return false;
    return true;
}

bool nearIdentity(const osg::Matrixd& m) { return nearMatrix(m, osg::Matrixd()); }

void expectNear(const osg::Vec3d& got, const osg::Vec3d& want) {
    EXPECT_NEAR(got.x(), want.x(), 1e-4) << "x";
    EXPECT_NEAR(got.y(), want.y(), 1e-4) << "y";
    EXPECT_NEAR(got.z(), want.z(), 1e-4) << "z";
}

TEST_F(EventControlTest, TheViewerRegistersItLastAmongFiveHandlers) {
    const auto& handlers = viewer->getEventHandlers();
    ASSERT_EQ(handlers.size(), 5u);
    EXPECT_NE(dynamic_cast<EventControl*>(handlers.back().get()), nullptr);
}

TEST_F(EventControlTest, OnlyKeyPressesWhileTheMarkerIsSeenAreTaken) {
    const osg::Matrixd start = holder->getMatrix();
    EXPECT_FALSE(send(osgGA::GUIEventAdapter::KEYUP, 'I'));
    EXPECT_FALSE(send(osgGA::GUIEventAdapter::PUSH));
    EXPECT_FALSE(send(osgGA::GUIEventAdapter::DRAG));
    EXPECT_FALSE(send(osgGA::GUIEventAdapter::FRAME));
    EXPECT_EQ(holder->getMatrix(), start);

    setSeen(false);
    EXPECT_FALSE(press('I'));
    EXPECT_FALSE(send(osgGA::GUIEventAdapter::KEYUP, 'I'));
    EXPECT_EQ(holder->getMatrix(), start);
    // The press while unseen is not remembered: once seen, one press moves once.
    setSeen(true);
    expectNear(walkStep(), osg::Vec3d(0, 2, 0));

    // Keys without an action are taken and change nothing.
    const osg::Matrixd now = holder->getMatrix();
    EXPECT_TRUE(press(' '));
    EXPECT_TRUE(press('X'));
    EXPECT_EQ(holder->getMatrix(), now);
    EXPECT_TRUE(placement->getMatrix().isIdentity());
}

TEST_F(EventControlTest, WalksAlongTheHeadingInTheMarkerFrame) {
    expectNear(holder->getMatrix().getTrans(), osg::Vec3d(0, 30, 0));
    expectNear(walkStep(), osg::Vec3d(0, 2, 0));
    ASSERT_TRUE(press('k'));
    expectNear(holder->getMatrix().getTrans(), osg::Vec3d(0, 30, 0));

    ASSERT_TRUE(press('J'));
    expectNear(walkStep(), osg::Vec3d(-0.3473, 1.9696, 0));
    ASSERT_TRUE(press('L'));
    EXPECT_TRUE(nearIdentity(placement->getMatrix()));
    ASSERT_TRUE(press('l'));
    expectNear(walkStep(), osg::Vec3d(0.3473, 1.9696, 0));
    ASSERT_TRUE(press('j'));

    // The heading keeps its meaning past 180 degrees: 19 turns of 10 degrees face backwards.
    for (int i = 0; i < 19; ++i) ASSERT_TRUE(press('J'));
    expectNear(walkStep(), osg::Vec3d(0.3473, -1.9696, 0));
    for (int i = 0; i < 17; ++i) ASSERT_TRUE(press('j'));  // 36 turns in all: a full circle
    expectNear(walkStep(), osg::Vec3d(0, 2, 0));

    // The turns changed only the placement transform; the holder only ever moved.
    osg::Matrixd unmoved = holder->getMatrix();
    unmoved.setTrans(0, 0, 0);
    EXPECT_TRUE(nearIdentity(unmoved));
}

TEST_F(EventControlTest, UpperAndLowerCaseActAlikeAndOtherMarkersStayPut) {
    const osg::Matrixd otherStart = other->getMatrix();
    ASSERT_TRUE(press('J'));
    const osg::Matrixd upper = placement->getMatrix();
    ASSERT_TRUE(press('L'));
    ASSERT_TRUE(press('j'));
    EXPECT_TRUE(nearMatrix(placement->getMatrix(), upper));
    const osg::Vec3d up = walkStep();
    holder->setMatrix(osg::Matrixd::translate(0, 30, 0));
    ASSERT_TRUE(press('i'));
    expectNear(holder->getMatrix().getTrans() - osg::Vec3d(0, 30, 0), up);
    ASSERT_TRUE(press('K'));
    ASSERT_TRUE(press('k'));
    expectNear(holder->getMatrix().getTrans() - osg::Vec3d(0, 30, 0), -up);
    EXPECT_EQ(other->getMatrix(), otherStart);
}

TEST_F(EventControlTest, IgnoresKeysWhenTheHolderOrPlacementIsMissing) {
    osg::MatrixTransform* marker = viewer->getMarkerTransform("patt.tovex");
    marker->removeChildren(0, marker->getNumChildren());
    EXPECT_FALSE(press('I'));
    marker->addChild(new osg::Group);  // not a transform
    EXPECT_FALSE(press('J'));
    marker->removeChildren(0, 1);
    osg::ref_ptr<osg::MatrixTransform> bare = new osg::MatrixTransform;
    marker->addChild(bare.get());  // a holder with nothing under it
    EXPECT_FALSE(press('I'));
    EXPECT_TRUE(bare->getMatrix().isIdentity());
}

}  // namespace
