#pragma once

#include <osg/Geode>
#include <osg/Image>
#include <osg/Texture>

namespace osgART {

/// A geode that textures its drawables with a live video image on texture unit 0.
class VideoGeode : public osg::Geode {
public:
    enum TextureMode {
        /// A power-of-two 2-D texture with the image in its corner; drawables use normalised
        /// coordinates up to (s / nextPowerOfTwo(s), t / nextPowerOfTwo(t)).
        USE_TEXTURE_2D = 0,
        /// A rectangle texture of the image's own size; drawables use texel coordinates.
        USE_TEXTURE_RECTANGLE = 1,
    };

    VideoGeode(TextureMode mode, osg::Image* image);

    TextureMode getTextureMode() const { return _mode; }
    osg::Texture* getTexture() const { return _texture.get(); }

protected:
    ~VideoGeode() override = default;

private:
    TextureMode _mode;
    osg::ref_ptr<osg::Texture> _texture;
};

}  // namespace osgART
