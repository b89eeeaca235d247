// The committed exhibit models read back through osgDB with the size and placement the exhibit
// relies on.
#include <gtest/gtest.h>
#include <support/Paths.h>

#include <osg/ComputeBoundsVisitor>
#include <osg/Geode>
#include <osgDB/ReadFile>

namespace {

/// The bounds of a model and the height (y) of each geode named "eye".
struct Bounds : osg::ComputeBoundsVisitor {
    std::vector<double> eyes;
    void apply(osg::Geode& geode) override {
        if (geode.getName() == "eye") eyes.push_back(geode.getBound().center().y());
        traverse(geode);
    }
};

TEST(ExhibitModels, TheCharacterStandsOnItsFeetFacingForwardAndThePlaySignOnTheMarker) {
    const std::string media = quorvtest::sourceDirectory() + "/exhibit/media_Tovarin/";
    Bounds c, p;
    osgDB::readRefNodeFile(media + "tarmeliaCentrado.osg")->accept(c);
    osgDB::readRefNodeFile(media + "Play.3ds")->accept(p);
    // Scaled 20 times it stands 60 to 80 mm on a 120 mm marker, feet on the ground, within it,
    // its face to +y; the Play disc is 100 across, centred, standing on the marker.
    const osg::BoundingBox &box = c.getBoundingBox(), &disc = p.getBoundingBox();
    EXPECT_TRUE(box.zMax() >= 3.0 && box.zMax() <= 4.0 && box.xMax() - box.xMin() < 3)
        << box.zMax();
    EXPECT_NEAR(std::abs(box.zMin()) + std::abs(box.center().x()), 0.0, 0.05);
    EXPECT_TRUE(c.eyes.size() == 2u && c.eyes[0] > 0.4 && c.eyes[1] > 0.4);
    EXPECT_NEAR(disc.xMax() - disc.xMin() + disc.yMax() - disc.yMin(), 200.0, 3.0);
    EXPECT_NEAR(std::abs(disc.center().x()) + std::abs(disc.center().y()) + std::abs(disc.zMin()),
                0.0, 1.0);
    EXPECT_TRUE(disc.zMax() > 5.0 && disc.zMax() < 40.0) << "it has some depth";
}

}  // namespace
