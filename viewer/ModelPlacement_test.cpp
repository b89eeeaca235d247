#include "OsgArt.h"

#include <gtest/gtest.h>

#include <osg/Geode>
#include <osg/PositionAttitudeTransform>

namespace {

osg::Vec3d placed(osg::Node* model, osg::Group* parent, const osg::Vec3d& vertex) {
    // The model's local-to-parent matrix, from the model up to (not including) the parent.
    osg::NodePathList paths = model->getParentalNodePaths(parent);
    EXPECT_EQ(paths.size(), 1u);
    osg::NodePath path = paths.front();
    path.erase(path.begin());  // the parent itself
    return vertex * osg::computeLocalToWorld(path);
}

TEST(AttachModel, ScalesAboutTheModelOriginThenMovesByAnUnscaledOffset) {
    osg::ref_ptr<osg::Group> parent = new osg::Group;
    parent->addChild(new osg::Group);  // an earlier child stays first
    osg::ref_ptr<osg::Geode> model = new osg::Geode;
    ::testing::internal::CaptureStdout();
    OsgArt::attachModel(parent.get(), model.get(), osg::Vec3d(0, 0, 5), osg::Vec3d(20, 20, 20));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");

    ASSERT_EQ(parent->getNumChildren(), 2u);
    auto* placement = dynamic_cast<osg::MatrixTransform*>(parent->getChild(1));
    ASSERT_NE(placement, nullptr);
    EXPECT_EQ(placement->getMatrix(), osg::Matrixd::translate(0, 0, 5));
    ASSERT_EQ(placement->getNumChildren(), 1u);
    auto* scaling = dynamic_cast<osg::PositionAttitudeTransform*>(placement->getChild(0));
    ASSERT_NE(scaling, nullptr);
    ASSERT_EQ(scaling->getNumChildren(), 1u);
    EXPECT_EQ(scaling->getChild(0), model.get());

    const osg::Vec3d p = placed(model.get(), parent.get(), osg::Vec3d(1, 0, 0));
    EXPECT_NEAR(p.x(), 20.0, 1e-9);
    EXPECT_NEAR(p.y(), 0.0, 1e-9);
    EXPECT_NEAR(p.z(), 5.0, 1e-9);

    // A second model under the same parent gets its own subtree, after the first.
    osg::ref_ptr<osg::Geode> other = new osg::Geode;
    OsgArt::attachModel(parent.get(), other.get(), osg::Vec3d(), osg::Vec3d(1, 1, 1));
    ASSERT_EQ(parent->getNumChildren(), 3u);
    EXPECT_EQ(placed(other.get(), parent.get(), osg::Vec3d(1, 2, 3)), osg::Vec3d(1, 2, 3));
}

TEST(AttachModel, AMissingModelIsReportedAndItsTransformsStillHang) {
    osg::ref_ptr<osg::Group> parent = new osg::Group;
    ::testing::internal::CaptureStdout();
    OsgArt::attachModel(parent.get(), nullptr, osg::Vec3d(1, 2, 3), osg::Vec3d(2, 2, 2));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), " could not find model \n");
    ASSERT_EQ(parent->getNumChildren(), 1u);
    auto* placement = dynamic_cast<osg::MatrixTransform*>(parent->getChild(0));
    ASSERT_NE(placement, nullptr);
    ASSERT_EQ(placement->getNumChildren(), 1u);
    auto* scaling = dynamic_cast<osg::PositionAttitudeTransform*>(placement->getChild(0));
    ASSERT_NE(scaling, nullptr);
    EXPECT_EQ(scaling->getNumChildren(), 0u);
    EXPECT_EQ(scaling->getScale(), osg::Vec3d(2, 2, 2));
}

}  // namespace
