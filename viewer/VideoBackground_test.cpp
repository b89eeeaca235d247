#include <gtest/gtest.h>

#include <osg/Geometry>
#include <sstream>

#include "OsgArt.h"

namespace {

/// A still picture standing in for a live video.
struct StillVideo : osgART::Video {
    bool open() override { return true; }
    void start() override {}
    void stop() override {}
    void close(bool) override {}
    bool update(const osg::FrameStamp*) override { return false; }
};

// The layer spans the view, (0, 0) at its bottom-left and (w, h) at its top-right, and its quad
// shows the image first row on top, from the corner of its power-of-two texture.
TEST(VideoBackground, TheVideoFillsTheViewFirstRowOnTop) {
    osg::ref_ptr<StillVideo> video = new StillVideo;
    video->allocateImage(640, 480, 1, GL_BGR, GL_UNSIGNED_BYTE);
    osg::ref_ptr<osgART::VideoLayer> layer = OsgArt::createVideoBackground(video.get());
    // (0, 0) to (w, h) is the whole view, from its bottom-left to its top-right.
    EXPECT_EQ(layer->getProjectionMatrix(), osg::Matrixd::ortho2D(0, 640, 0, 480));
    ASSERT_EQ(layer->getNumChildren(), 1u);
    // Each corner "x,y" of the quad and the texture coordinates "s,t" it shows.
    const osg::Geometry* quad = layer->getChild(0)->asGeode()->getDrawable(0)->asGeometry();
    const auto& corners = *dynamic_cast<const osg::Vec3Array*>(quad->getVertexArray());
    const auto& coords = *dynamic_cast<const osg::Vec2Array*>(quad->getTexCoordArray(0));
    std::ostringstream out;
    for (size_t i = 0; i < corners.size(); ++i)
        out << corners[i].x() << "," << corners[i].y() << ":" << coords[i].x() << ","
            << coords[i].y() << " ";
    EXPECT_EQ(out.str(), "0,0:0,0.9375 640,0:0.625,0.9375 640,480:0.625,0 0,480:0,0 ");
}

}  // namespace
