// The tracker callback of the scene's root. (The video geode's texture, its size and
// coordinates are checked with the background's quad in viewer/VideoBackground_test.)
#include "TrackerCallback.h"

#include <gtest/gtest.h>

#include <osg/MatrixTransform>
#include <osgUtil/UpdateVisitor>

#include "Utils.h"

namespace {

/// Counts its analyses and reports every marker seen or lost, at a fixed pose.
struct CountingTracker : osgART::Tracker {
    osgART::Marker* addMarker(const std::string&) override {
        return _markers.emplace_back(new osgART::Marker).get();
    }
    void update() override {
        ++analyses;
        for (auto& marker : _markers) marker->setTracked(seen, osg::Matrixd::translate(1, 2, -3));
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
    osg::ref_ptr<osg::MatrixTransform> transform = new osg::MatrixTransform;
    root->addChild(transform.get());
    osgART::TrackerCallback::addOrSet(root.get(), tracker.get());
    osgART::TrackerCallback::addOrSet(root.get(), tracker.get());  // replaces, does not stack
    osgART::Marker* marker = tracker->addMarker("");
    marker->setActive(true);
    osgART::attachDefaultEventCallbacks(transform.get(), marker);

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
               (transform->getMatrix() == osg::Matrixd::translate(1, 2, -3) ? " posed" : "");
    };
    EXPECT_EQ(traverse(false, false), "1");
    EXPECT_EQ(traverse(true, false), "1") << "the same image analysed again";
    EXPECT_EQ(traverse(true, true), "2 valid posed");
    EXPECT_EQ(traverse(false, true), "3 posed") << "lost: the transform keeps its last pose";
    marker->setActive(false);
    EXPECT_EQ(traverse(true, true), "4 posed") << "an inactive marker is never valid";
}

}  // namespace
