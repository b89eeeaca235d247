// The committed exhibit models read back through osgDB with the size and placement the exhibit
// relies on.
#include <gtest/gtest.h>
#include <support/Paths.h>

#include <osg/ComputeBoundsVisitor>
#include <osg/Geode>
#include <osgDB/ReadFile>

namespace {

struct Bounds : osg::ComputeBoundsVisitor {
    std::vector<double> eyes;  ///< the height (y) of each geode named "eye"
    void apply(osg::Geode& geode) override {
        if (geode.getName() == "eye") eyes.push_back(geode.getBound().center().y());
        traverse(geode);
    }
};

TEST(ExhibitModels, TheCharacterStandsOnItsFeetFacingForwardAndThePlaySignOnTheMarker) {
    const std::string media = quorvtest::sourceDirectory() + "/exhibit/media_Tovarin/";
    osg::ref_ptr<osg::Node> character = osgDB::readNodeFile(media + "tarmeliaCentrado.osg");
    osg::ref_ptr<osg::Node> play = osgDB::readNodeFile(media + "Play.3ds");
    ASSERT_TRUE(character.valid() && play.valid());
    Bounds c, p;
    character->accept(c);
    play->accept(p);
    const osg::BoundingBox& box = c.getBoundingBox();
    // Scaled 20 times it stands 60 to 80 mm on a 120 mm marker, feet on the ground, within it.
    EXPECT_NEAR(box.zMin(), 0.0, 0.02);
    EXPECT_TRUE(20 * box.zMax() >= 60.0 && 20 * box.zMax() <= 80.0) << box.zMax();
    EXPECT_LT(20 * (box.xMax() - box.xMin()), 60.0);
    EXPECT_NEAR(box.center().x(), 0.0, 0.05);
    EXPECT_TRUE(c.eyes.size() == 2u && c.eyes[0] > 0.4 && c.eyes[1] > 0.4)
        << "the face looks to +y";
    // Lit: normals kept unit length under the marker's scale.
    EXPECT_TRUE(character->getStateSet() &&
                character->getStateSet()->getMode(GL_NORMALIZE) & osg::StateAttribute::ON);
    const osg::BoundingBox& disc = p.getBoundingBox();  // 100 across, centred, standing on it
    EXPECT_NEAR(disc.xMax() - disc.xMin(), 100.0, 2.0);
    EXPECT_NEAR(disc.yMax() - disc.yMin(), 100.0, 2.0);
    EXPECT_NEAR(std::hypot(disc.center().x(), disc.center().y()), 0.0, 1.0);
    EXPECT_NEAR(disc.zMin(), 0.0, 0.01);
    EXPECT_TRUE(disc.zMax() > 5.0 && disc.zMax() < 40.0) << "it has some depth";
}

}  // namespace
