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

TEST(VideoQuad, ShowsTheImageFirstRowOnTopInBothTextureModes) {
    osg::ref_ptr<osg::Image> image = new osg::Image;
    image->allocateImage(640, 480, 1, GL_BGR, GL_UNSIGNED_BYTE);
    using Geode = osgART::VideoGeode;
    const struct {
        Geode::TextureMode mode;
        float w, h;
        const char* quad;
    } cases[] = {{Geode::USE_TEXTURE_2D, 640, 480,
                  "0,0:0,0.9375 640,0:0.625,0.9375 640,480:0.625,0 0,480:0,0 "},
                 {Geode::USE_TEXTURE_2D, 1280, 720,
                  "0,0:0,0.703125 1280,0:0.625,0.703125 1280,720:0.625,0 0,720:0,0 "},
                 {Geode::USE_TEXTURE_RECTANGLE, 640, 480,
                  "0,0:0,480 640,0:640,480 640,480:640,0 0,480:0,0 "}};
    for (const auto& c : cases) {
        osg::ref_ptr<Geode> geode = new Geode(c.mode, image.get());
        OsgArt::createVideoQuad(geode.get(), c.w, c.h);
        EXPECT_EQ(quad(geode.get()), c.quad);
    }
}

TEST(VideoBackground, TheLayerShowsTheVideoOverTheWholeView) {
    osg::ref_ptr<StillVideo> video = new StillVideo;
    video->allocateImage(320, 240, 1, GL_BGR, GL_UNSIGNED_BYTE);
    osg::ref_ptr<osgART::VideoLayer> layer = OsgArt::createVideoBackground(video.get());
    ASSERT_EQ(layer->getNumChildren(), 1u);
    EXPECT_EQ(quad(dynamic_cast<osgART::VideoGeode*>(layer->getChild(0))),
              "0,0:0,0.9375 320,0:0.625,0.9375 320,240:0.625,0 0,240:0,0 ");
    // (0, 0) is the bottom-left of the view and (w, h) its top-right.
    EXPECT_LT((osg::Vec3d(0, 0, 0) * layer->getProjectionMatrix() - osg::Vec3d(-1, -1, 0)).length(),
              1e-9);
    EXPECT_LT(
        (osg::Vec3d(320, 240, 0) * layer->getProjectionMatrix() - osg::Vec3d(1, 1, 0)).length(),
        1e-9);
}

}  // namespace
