#include "OsgArt.h"

#include <gtest/gtest.h>

#include <osg/Geometry>

namespace {

/// A still picture standing in for a live video.
class StillVideo : public osgART::Video {
public:
    StillVideo(int w, int h) { allocateImage(w, h, 1, GL_BGR, GL_UNSIGNED_BYTE); }
    bool open() override { return true; }
    void start() override {}
    void stop() override {}
    void close(bool) override {}
    bool update(const osg::FrameStamp*) override { return false; }
};

osg::Geometry* onlyQuad(osgART::VideoGeode* geode) {
    EXPECT_EQ(geode->getNumDrawables(), 1u);
    return geode->getDrawable(0)->asGeometry();
}

void expectTexCoords(osg::Geometry* quad, const std::vector<osg::Vec2f>& expected) {
    auto* coords = dynamic_cast<osg::Vec2Array*>(quad->getTexCoordArray(0));
    ASSERT_NE(coords, nullptr);
    ASSERT_EQ(coords->size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_FLOAT_EQ((*coords)[i].x(), expected[i].x()) << "corner " << i;
        EXPECT_FLOAT_EQ((*coords)[i].y(), expected[i].y()) << "corner " << i;
    }
}

TEST(VideoQuad, CornersAndTextureCoordinatesFor640x480InBothModes) {
    osg::ref_ptr<osg::Image> image = new osg::Image;
    image->allocateImage(640, 480, 1, GL_BGR, GL_UNSIGNED_BYTE);

    osg::ref_ptr<osgART::VideoGeode> pot =
        new osgART::VideoGeode(osgART::VideoGeode::USE_TEXTURE_2D, image.get());
    OsgArt::createVideoQuad(pot.get(), 640.0f, 480.0f);
    osg::Geometry* quad = onlyQuad(pot.get());
    ASSERT_NE(quad, nullptr);
    expectTexCoords(quad, {{0.0f, 0.9375f}, {0.625f, 0.9375f}, {0.625f, 0.0f}, {0.0f, 0.0f}});

    // Counter-clockwise from +z, from the origin to (w, h).
    auto* vertices = dynamic_cast<osg::Vec3Array*>(quad->getVertexArray());
    ASSERT_NE(vertices, nullptr);
    ASSERT_EQ(vertices->size(), 4u);
    EXPECT_EQ((*vertices)[0], osg::Vec3f(0, 0, 0));
    EXPECT_EQ((*vertices)[1], osg::Vec3f(640, 0, 0));
    EXPECT_EQ((*vertices)[2], osg::Vec3f(640, 480, 0));
    EXPECT_EQ((*vertices)[3], osg::Vec3f(0, 480, 0));
    ASSERT_EQ(quad->getNumPrimitiveSets(), 1u);
    auto* draw = dynamic_cast<osg::DrawArrays*>(quad->getPrimitiveSet(0));
    ASSERT_NE(draw, nullptr);
    EXPECT_EQ(draw->getMode(), static_cast<GLenum>(GL_QUADS));
    EXPECT_EQ(draw->getFirst(), 0);
    EXPECT_EQ(draw->getCount(), 4);
    EXPECT_EQ(quad->getNormalArray(), nullptr);
    EXPECT_EQ(quad->getColorArray(), nullptr);

    osg::ref_ptr<osgART::VideoGeode> rect =
        new osgART::VideoGeode(osgART::VideoGeode::USE_TEXTURE_RECTANGLE, image.get());
    OsgArt::createVideoQuad(rect.get(), 640.0f, 480.0f);
    expectTexCoords(onlyQuad(rect.get()), {{0, 480}, {640, 480}, {640, 0}, {0, 0}});
}

TEST(VideoQuad, OddSizesUseTheTruncatedPowerOfTwo) {
    osg::ref_ptr<osg::Image> image = new osg::Image;
    osg::ref_ptr<osgART::VideoGeode> pot =
        new osgART::VideoGeode(osgART::VideoGeode::USE_TEXTURE_2D, image.get());
    OsgArt::createVideoQuad(pot.get(), 1280.0f, 720.0f);
    expectTexCoords(onlyQuad(pot.get()),
                    {{0, 0.703125f}, {0.625f, 0.703125f}, {0.625f, 0}, {0, 0}});
}

TEST(VideoBackground, LayerSpansTheImageInPixels) {
    osg::ref_ptr<StillVideo> video = new StillVideo(320, 240);
    osg::ref_ptr<osgART::VideoLayer> layer = OsgArt::createVideoBackground(video.get());
    ASSERT_EQ(layer->getNumChildren(), 1u);
    auto* geode = dynamic_cast<osgART::VideoGeode*>(layer->getChild(0));
    ASSERT_NE(geode, nullptr);
    EXPECT_EQ(geode->getTextureMode(), osgART::VideoGeode::USE_TEXTURE_2D);
    expectTexCoords(onlyQuad(geode), {{0, 0.9375f}, {0.625f, 0.9375f}, {0.625f, 0}, {0, 0}});

    // (0, 0) is the bottom-left of the view and (w, h) its top-right.
    const osg::Matrixd projection = layer->getProjectionMatrix();
    const osg::Vec3d low = osg::Vec3d(0, 0, 0) * projection;
    const osg::Vec3d high = osg::Vec3d(320, 240, 0) * projection;
    EXPECT_NEAR(low.x(), -1.0, 1e-9);
    EXPECT_NEAR(low.y(), -1.0, 1e-9);
    EXPECT_NEAR(high.x(), 1.0, 1e-9);
    EXPECT_NEAR(high.y(), 1.0, 1e-9);
}

}  // namespace
