// The committed exhibit models read back through osgDB with the size and placement the exhibit
// relies on.
#include <support/Paths.h>

#include <gtest/gtest.h>

#include <osg/ComputeBoundsVisitor>
#include <osg/Geode>
#include <osgDB/ReadFile>

namespace {

osg::BoundingBox boundsOf(osg::Node* node) {
    osg::ComputeBoundsVisitor visitor;
    node->accept(visitor);
    return visitor.getBoundingBox();
}

/// Every geode named `name` below `node`.
std::vector<osg::Geode*> named(osg::Node* node, const std::string& name) {
    struct Finder : osg::NodeVisitor {
        Finder(const std::string& n) : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN), wanted(n) {}
        void apply(osg::Geode& geode) override {
            if (geode.getName() == wanted) found.push_back(&geode);
        }
        std::string wanted;
        std::vector<osg::Geode*> found;
    } finder(name);
    node->accept(finder);
    return finder.found;
}

const std::string media = quorvtest::sourceDirectory() + "/exhibit/media_Tovarin/";

TEST(ExhibitModels, TheCharacterStandsOnItsFeetFacingForward) {
    osg::ref_ptr<osg::Node> character = osgDB::readNodeFile(media + "tarmeliaCentrado.osg");
    ASSERT_TRUE(character.valid());
    const osg::BoundingBox box = boundsOf(character.get());
    EXPECT_NEAR(box.zMin(), 0.0, 0.02) << "feet on the ground";
    EXPECT_GE(box.zMax(), 3.0);
    EXPECT_LE(box.zMax(), 4.0);
    // Scaled 20 times it stands 60 to 80 mm on a 120 mm marker and keeps within it.
    EXPECT_GE(20 * box.zMax(), 60.0);
    EXPECT_LE(20 * box.zMax(), 80.0);
    EXPECT_LT(20 * (box.xMax() - box.xMin()), 60.0);
    EXPECT_NEAR(box.center().x(), 0.0, 0.05);

    const auto eyes = named(character.get(), "eye");
    ASSERT_EQ(eyes.size(), 2u);
    for (osg::Geode* eye : eyes) EXPECT_GT(boundsOf(eye).center().y(), 0.4) << "the face looks to +y";
    // Lit: its state carries materials and keeps normals unit length under the marker's scale.
    EXPECT_TRUE(character->getStateSet() &&
                character->getStateSet()->getMode(GL_NORMALIZE) & osg::StateAttribute::ON);
}

TEST(ExhibitModels, ThePlaySignIsADiscAHundredAcrossStandingOnTheMarker) {
    osg::ref_ptr<osg::Node> play = osgDB::readNodeFile(media + "Play.3ds");
    ASSERT_TRUE(play.valid());
    const osg::BoundingBox box = boundsOf(play.get());
    EXPECT_NEAR(box.xMax() - box.xMin(), 100.0, 2.0);
    EXPECT_NEAR(box.yMax() - box.yMin(), 100.0, 2.0);
    EXPECT_NEAR(box.center().x(), 0.0, 1.0);
    EXPECT_NEAR(box.center().y(), 0.0, 1.0);
    EXPECT_NEAR(box.zMin(), 0.0, 0.01);
    EXPECT_GT(box.zMax(), 5.0) << "it has depth";
    EXPECT_LT(box.zMax(), 40.0);
}

}  // namespace
