// The tracker callback of the scene's root. (That marker transforms follow the tracker's poses,
// and hide while their marker is lost, is checked on screen in exhibit_content_test.)
#include "TrackerCallback.h"

#include <gtest/gtest.h>

#include <osgUtil/UpdateVisitor>

namespace {

/// Counts its analyses.
struct CountingTracker : osgART::Tracker {
    osgART::Marker* addMarker(const std::string&) override { return nullptr; }
    void update() override { ++analyses; }
    int analyses = 0;
};

TEST(TrackerCallback, AnalysesEachNewImageOnceAndASecondCallbackReplacesTheFirst) {
    osg::ref_ptr<CountingTracker> tracker = new CountingTracker;
    osg::ref_ptr<osg::Image> image = new osg::Image;
    image->allocateImage(8, 8, 1, GL_BGR, GL_UNSIGNED_BYTE);
    tracker->setImage(image.get());
    osg::ref_ptr<osg::Group> root = new osg::Group;
    osgART::TrackerCallback::addOrSet(root.get(), tracker.get());
    osgART::TrackerCallback::addOrSet(root.get(), tracker.get());
    osgUtil::UpdateVisitor visitor;
    visitor.setFrameStamp(new osg::FrameStamp);
    std::string analyses;  // after each traversal, the first two on the same image
    for (bool newImage : {false, false, true, true}) {
        if (newImage) image->dirty();
        root->accept(visitor);
        analyses += std::to_string(tracker->analyses);
    }
    EXPECT_EQ(analyses, "1123");
}

}  // namespace
