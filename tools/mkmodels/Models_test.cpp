// The committed exhibit models read back through osgDB with the size and placement the exhibit
// relies on.
#include <gtest/gtest.h>
#include <support/Paths.h>

#include <osg/ComputeBoundsVisitor>
#include <osg/Geode>
#include <osgDB/ReadFile>

namespace {

osg::BoundingBox boundsOf(osg::Node* node) {
    osg::ComputeBoundsVisitor visitor;
    node->accept(visitor);
    return visitor.getBoundingBox();
}

const std::string media = quorvtest::sourceDirectory() + "/exhibit/media_Tovarin/";

TEST(ExhibitModels, TheCharacterStandsOnItsFeetFacingForwardAndThePlaySignOnTheMarker) {
    osg::ref_ptr<osg::Node> character = osgDB::readNodeFile(media + "tarmeliaCentrado.osg");
    ASSERT_TRUE(character.valid());
    const osg::BoundingBox box = boundsOf(character.get());
    EXPECT_NEAR(box.zMin(), 0.0, 0.02) << "feet on the ground";
    // Scaled 20 times it stands 60 to 80 mm on a 120 mm marker and keeps within it.
    EXPECT_TRUE(20 * box.zMax() >= 60.0 && 20 * box.zMax() <= 80.0) << box.zMax();
    EXPECT_LT(20 * (box.xMax() - box.xMin()), 60.0);
    EXPECT_NEAR(box.center().x(), 0.0, 0.05);
    struct Eyes : osg::NodeVisitor {
        Eyes() : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN) {}
        void apply(osg::Geode& geode) override {
            if (geode.getName() == "eye") y.push_back(boundsOf(&geode).center().y());
        }
        std::vector<double> y;
    } eyes;
    character->accept(eyes);
    ASSERT_EQ(eyes.y.size(), 2u);
    EXPECT_TRUE(eyes.y[0] > 0.4 && eyes.y[1] > 0.4) << "the face looks to +y";
    // Lit: normals kept unit length under the marker's scale.
    EXPECT_TRUE(character->getStateSet() &&
                character->getStateSet()->getMode(GL_NORMALIZE) & osg::StateAttribute::ON);

    osg::ref_ptr<osg::Node> play = osgDB::readNodeFile(media + "Play.3ds");
    ASSERT_TRUE(play.valid());
    const osg::BoundingBox disc = boundsOf(play.get());  // 100 across, centred, standing on it
    EXPECT_NEAR(disc.xMax() - disc.xMin(), 100.0, 2.0);
    EXPECT_NEAR(disc.yMax() - disc.yMin(), 100.0, 2.0);
    EXPECT_NEAR(disc.center().length2() - disc.center().z() * disc.center().z(), 0.0, 1.0);
    EXPECT_NEAR(disc.zMin(), 0.0, 0.01);
    EXPECT_TRUE(disc.zMax() > 5.0 && disc.zMax() < 40.0) << "it has some depth";
}

}  // namespace
