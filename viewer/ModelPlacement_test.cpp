#include <gtest/gtest.h>

#include "OsgArt.h"

TEST(AttachModel, ScalesAboutTheModelOriginThenMovesByAnUnscaledOffsetAfterEarlierChildren) {
    osg::ref_ptr<osg::Group> parent = new osg::Group;
    parent->addChild(new osg::Group);
    osg::ref_ptr<osg::Geode> model = new osg::Geode;
    ::testing::internal::CaptureStdout();
    OsgArt::attachModel(parent.get(), model.get(), {0, 0, 5}, {20, 20, 20});
    OsgArt::attachModel(parent.get(), nullptr, {1, 2, 3}, {2, 2, 2});
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), " could not find model \n");
    // parent, placement, scale, model; a missing model leaves its transforms all the same.
    const osg::NodePath path = model->getParentalNodePaths(parent.get()).at(0);
    ASSERT_TRUE(path.size() == 4u && path[1] == parent->getChild(1));
    EXPECT_EQ(osg::Vec3d(1, 0, 0) * osg::computeLocalToWorld({path[1], path[2]}),
              osg::Vec3d(20, 0, 5));
    osg::Group* placement = parent->getChild(2)->asGroup();
    ASSERT_TRUE(placement && placement->getNumChildren() == 1u);
    EXPECT_EQ(osg::computeLocalToWorld({placement, placement->getChild(0)}),
              osg::Matrixd::scale(2, 2, 2) * osg::Matrixd::translate(1, 2, 3));
}
