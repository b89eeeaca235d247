#include "VideoGeode.h"

#include <gtest/gtest.h>

#include <osg/MatrixTransform>
#include <osg/Texture2D>
#include <osg/TextureRectangle>
#include <osgUtil/UpdateVisitor>

#include "TrackerCallback.h"
#include "Utils.h"

namespace {

TEST(VideoGeode, TheTextureHoldsTheImageInThePowerOfTwoSizeOrAsARectangle) {
    for (auto [size, texture] :
         {std::pair{0u, 1u}, {1u, 1u}, {480u, 512u}, {512u, 512u}, {513u, 1024u}})
        EXPECT_EQ(osgART::nextPowerOfTwo(size), texture) << size;
    osg::ref_ptr<osg::Image> image = new osg::Image;
    image->allocateImage(640, 480, 1, GL_BGR, GL_UNSIGNED_BYTE);
    osg::ref_ptr<osgART::VideoGeode> pot =
        new osgART::VideoGeode(osgART::VideoGeode::USE_TEXTURE_2D, image.get());
    auto* texture = dynamic_cast<osg::Texture2D*>(
        pot->getStateSet()->getTextureAttribute(0, osg::StateAttribute::TEXTURE));
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(texture->getTextureWidth() * 10000 + texture->getTextureHeight(), 10240512);
    EXPECT_EQ(texture->getImage(), image.get());
    osg::ref_ptr<osgART::VideoGeode> rect =
        new osgART::VideoGeode(osgART::VideoGeode::USE_TEXTURE_RECTANGLE, image.get());
    EXPECT_TRUE(dynamic_cast<osg::TextureRectangle*>(
        rect->getStateSet()->getTextureAttribute(0, osg::StateAttribute::TEXTURE)));
}

/// Counts its analyses and reports every marker seen or lost, at a fixed pose.
struct CountingTracker : osgART::Tracker {
    osgART::Marker* addMarker(const std::string&) override {
        _markers.push_back(new osgART::Marker);
        return _markers.back().get();
    }
    void update() override {
        ++analyses;
        for (auto& marker : _markers) marker->setTracked(seen, osg::Matrixd::translate(1, 2, -300));
    }
    int analyses = 0;
    bool seen = false;
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

    // One update traversal: the analyses so far, whether the marker is valid, whether the
    // transform holds the tracker's pose.
    osgUtil::UpdateVisitor visitor;
    osg::ref_ptr<osg::FrameStamp> stamp = new osg::FrameStamp;
    visitor.setFrameStamp(stamp.get());
    const auto traverse = [&](bool seen, bool newImage) {
        tracker->seen = seen;
        if (newImage) image->dirty();
        stamp->setFrameNumber(stamp->getFrameNumber() + 1);
        root->accept(visitor);
        return std::to_string(tracker->analyses) + (marker->valid() ? " valid" : "") +
               (transform->getMatrix() == osg::Matrixd::translate(1, 2, -300) ? " posed" : "");
    };
    EXPECT_EQ(traverse(false, false), "1");
    EXPECT_EQ(traverse(true, false), "1") << "the same image analysed again";
    EXPECT_EQ(traverse(true, true), "2 valid posed");
    EXPECT_EQ(traverse(false, true), "3 posed") << "lost: the transform keeps its last pose";
    marker->setActive(false);
    EXPECT_EQ(traverse(true, true), "4 posed") << "an inactive marker is never valid";
}

}  // namespace
