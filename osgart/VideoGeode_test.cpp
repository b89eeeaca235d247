#include "Marker.h"
#include "Tracker.h"
#include "TrackerCallback.h"
#include "Utils.h"
#include "VideoGeode.h"

#include <gtest/gtest.h>

#include <osg/MatrixTransform>
#include <osg/Texture2D>
#include <osg/TextureRectangle>
#include <osgUtil/UpdateVisitor>

namespace {

TEST(NextPowerOfTwo, RoundsUpToTheTextureSize) {
    EXPECT_EQ(osgART::nextPowerOfTwo(640), 1024u);
    EXPECT_EQ(osgART::nextPowerOfTwo(480), 512u);
    EXPECT_EQ(osgART::nextPowerOfTwo(512), 512u);
    EXPECT_EQ(osgART::nextPowerOfTwo(513), 1024u);
    EXPECT_EQ(osgART::nextPowerOfTwo(1), 1u);
    EXPECT_EQ(osgART::nextPowerOfTwo(0), 1u);
}

TEST(VideoGeode, TextureKindFollowsTheMode) {
    osg::ref_ptr<osg::Image> image = new osg::Image;
    image->allocateImage(640, 480, 1, GL_BGR, GL_UNSIGNED_BYTE);
    osg::ref_ptr<osgART::VideoGeode> pot =
        new osgART::VideoGeode(osgART::VideoGeode::USE_TEXTURE_2D, image.get());
    auto* texture = dynamic_cast<osg::Texture2D*>(pot->getTexture());
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(texture->getTextureWidth(), 1024);
    EXPECT_EQ(texture->getTextureHeight(), 512);
    EXPECT_EQ(texture->getImage(), image.get());
    EXPECT_EQ(pot->getStateSet()->getTextureAttribute(0, osg::StateAttribute::TEXTURE), texture);

    osg::ref_ptr<osgART::VideoGeode> rect =
        new osgART::VideoGeode(osgART::VideoGeode::USE_TEXTURE_RECTANGLE, image.get());
    EXPECT_NE(dynamic_cast<osg::TextureRectangle*>(rect->getTexture()), nullptr);
    EXPECT_EQ(rect->getTextureMode(), osgART::VideoGeode::USE_TEXTURE_RECTANGLE);
}

/// A tracker that counts its analyses and reports one marker as seen at a fixed pose.
class CountingTracker : public osgART::Tracker {
public:
    osgART::Marker* addMarker(const std::string& configuration) override {
        auto* marker = new osgART::Marker(configuration);
        _markers.push_back(marker);
        return marker;
    }
    void update() override {
        ++analyses;
        for (auto& marker : _markers) marker->setTracked(seen, pose);
    }
    int analyses = 0;
    bool seen = false;
    osg::Matrixd pose = osg::Matrixd::translate(1.0, 2.0, -300.0);
};

TEST(TrackerCallback, AnalysesEachNewImageOnceAndMovesTheMarkerTransform) {
    osg::ref_ptr<CountingTracker> tracker = new CountingTracker;
    osg::ref_ptr<osg::Image> image = new osg::Image;
    image->allocateImage(8, 8, 1, GL_BGR, GL_UNSIGNED_BYTE);
    tracker->setImage(image.get());

    osg::ref_ptr<osg::Group> root = new osg::Group;
    osgART::TrackerCallback::addOrSet(root.get(), tracker.get());
    osgART::TrackerCallback::addOrSet(root.get(), tracker.get());  // replaces, does not stack
    osg::ref_ptr<osg::MatrixTransform> transform = new osg::MatrixTransform;
    osgART::Marker* marker = tracker->addMarker("m");
    marker->setActive(true);
    osgART::attachDefaultEventCallbacks(transform.get(), marker);
    root->addChild(transform.get());

    osgUtil::UpdateVisitor visitor;
    osg::ref_ptr<osg::FrameStamp> stamp = new osg::FrameStamp;
    visitor.setFrameStamp(stamp.get());
    auto traverse = [&] {
        stamp->setFrameNumber(stamp->getFrameNumber() + 1);
        root->accept(visitor);
    };

    traverse();
    EXPECT_EQ(tracker->analyses, 1);
    traverse();  // same image: not analysed again
    EXPECT_EQ(tracker->analyses, 1);
    EXPECT_TRUE(transform->getMatrix().isIdentity());

    tracker->seen = true;
    image->dirty();
    traverse();
    EXPECT_EQ(tracker->analyses, 2);
    EXPECT_TRUE(marker->valid());
    EXPECT_EQ(transform->getMatrix(), tracker->pose);

    // Lost: the transform keeps its last matrix and the marker is not valid.
    tracker->seen = false;
    image->dirty();
    traverse();
    EXPECT_FALSE(marker->valid());
    EXPECT_EQ(transform->getMatrix(), tracker->pose);

    // An inactive marker is never valid.
    marker->setActive(false);
    tracker->seen = true;
    image->dirty();
    traverse();
    EXPECT_FALSE(marker->valid());
}

}  // namespace
