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

/// The one quad of `geode`: each corner "x,y" and the texture coordinates "s,t" it shows.
std::string quad(osg::Geode* geode) {
    if (!geode || geode->getNumDrawables() != 1u) return "no quad";
    const osg::Geometry* quad = geode->getDrawable(0)->asGeometry();
    const auto& corners = *dynamic_cast<const osg::Vec3Array*>(quad->getVertexArray());
    const auto& coords = *dynamic_cast<const osg::Vec2Array*>(quad->getTexCoordArray(0));
    std::ostringstream out;
    for (size_t i = 0; i < corners.size(); ++i)
        out << corners[i].x() << "," << corners[i].y() << ":" << coords[i].x() << ","
            << coords[i].y() << " ";
    return out.str();
}

// The layer spans the view, (0, 0) at its bottom-left and (w, h) at its top-right, and its quad
// shows the image first row on top; so do quads of either texture mode at any size.
TEST(VideoBackground, TheVideoFillsTheViewFirstRowOnTopInBothTextureModes) {
    osg::ref_ptr<StillVideo> video = new StillVideo;
    video->allocateImage(640, 480, 1, GL_BGR, GL_UNSIGNED_BYTE);
    osg::ref_ptr<osgART::VideoLayer> layer = OsgArt::createVideoBackground(video.get());
    // (0, 0) to (w, h) is the whole view, from its bottom-left to its top-right.
    EXPECT_EQ(layer->getProjectionMatrix(), osg::Matrixd::ortho2D(0, 640, 0, 480));
    ASSERT_EQ(layer->getNumChildren(), 1u);
    using Geode = osgART::VideoGeode;
    osg::ref_ptr<Geode> wide = new Geode(Geode::USE_TEXTURE_2D, video.get()),
                        rectangle = new Geode(Geode::USE_TEXTURE_RECTANGLE, video.get());
    OsgArt::createVideoQuad(wide.get(), 1280, 720);
    OsgArt::createVideoQuad(rectangle.get(), 640, 480);
    EXPECT_EQ(quad(layer->getChild(0)->asGeode()),
              "0,0:0,0.9375 640,0:0.625,0.9375 640,480:0.625,0 0,480:0,0 ");
    EXPECT_EQ(quad(wide.get()), "0,0:0,0.703125 1280,0:0.625,0.703125 1280,720:0.625,0 0,720:0,0 ");
    EXPECT_EQ(quad(rectangle.get()), "0,0:0,480 640,0:640,480 640,480:640,0 0,480:0,0 ");
}

}  // namespace
