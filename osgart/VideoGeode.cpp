#include "VideoGeode.h"

#include "Utils.h"
#include "Video.h"

#include <osg/GLExtensions>
#include <osg/NodeVisitor>
#include <osg/State>
#include <osg/TexEnv>
#include <osg/Texture2D>
#include <osg/TextureRectangle>

namespace osgART {
namespace {

/// Keeps a power-of-two texture and copies the image into its corner whenever the image
/// changes. The texture is allocated once; each new frame is one sub-image upload.
class CornerSubload : public osg::Texture2D::SubloadCallback {
public:
    CornerSubload(unsigned int width, unsigned int height) : _width(width), _height(height) {}

    void load(const osg::Texture2D& texture, osg::State& state) const override {
        const osg::Image* image = texture.getImage();
        if (!image) return;
        // Allocate the full power-of-two texture, then fill its corner. Four bytes a texel is
        // the layout renderers sample fastest (software GL samples three-byte texels through
        // a slower path).
        glPixelStorei(GL_UNPACK_ALIGNMENT, image->getPacking());
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, static_cast<GLsizei>(_width),
                     static_cast<GLsizei>(_height), 0, GL_RGB, GL_UNSIGNED_BYTE, nullptr);
        _uploaded = false;
        subload(texture, state);
    }

    /// The texture keeps its power-of-two size for good. (Without this, the texture would
    /// compare itself with the image's own size, find them different and be made anew in every
    /// frame.)
    bool textureObjectValid(const osg::Texture2D& texture, osg::State& state) const override {
        return texture.getTextureObject(state.getContextID()) != nullptr;
    }

    /// Uploads the picture when it has changed since the last upload.
    void subload(const osg::Texture2D& texture, osg::State&) const override {
        const osg::Image* image = texture.getImage();
        if (!image || !image->data()) return;
        if (_uploaded && image->getModifiedCount() == _uploadedCount) return;
        _uploaded = true;
        _uploadedCount = image->getModifiedCount();
        glPixelStorei(GL_UNPACK_ALIGNMENT, image->getPacking());
        glPixelStorei(GL_UNPACK_ROW_LENGTH, image->getRowLength());
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, image->s(), image->t(),
                        image->getPixelFormat(), image->getDataType(), image->data());
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    }

private:
    unsigned int _width;
    unsigned int _height;
    // The draw thread's alone (one graphics context).
    mutable bool _uploaded = false;
    mutable unsigned int _uploadedCount = 0;
};

/// Brings a new video frame into the image before the texture is applied; the call is a no-op
/// when the tracker's callback has already done it in this traversal.
class VideoUpdateCallback : public osg::NodeCallback {
public:
    explicit VideoUpdateCallback(Video* video) : _video(video) {}
    void operator()(osg::Node* node, osg::NodeVisitor* nv) override {
        osg::ref_ptr<Video> video;
        if (_video.lock(video)) video->update(nv->getFrameStamp());
        traverse(node, nv);
    }

private:
    osg::observer_ptr<Video> _video;
};

}  // namespace

VideoGeode::VideoGeode(TextureMode mode, osg::Image* image) : _mode(mode) {
    if (mode == USE_TEXTURE_RECTANGLE) {
        _texture = new osg::TextureRectangle(image);
    } else {
        auto* texture = new osg::Texture2D(image);
        const unsigned int s = image ? static_cast<unsigned int>(image->s()) : 1u;
        const unsigned int t = image ? static_cast<unsigned int>(image->t()) : 1u;
        texture->setTextureSize(static_cast<int>(nextPowerOfTwo(s)), static_cast<int>(nextPowerOfTwo(t)));
        texture->setSubloadCallback(new CornerSubload(nextPowerOfTwo(s), nextPowerOfTwo(t)));
        _texture = texture;
    }
    _texture->setFilter(osg::Texture::MIN_FILTER, osg::Texture::LINEAR);
    _texture->setFilter(osg::Texture::MAG_FILTER, osg::Texture::LINEAR);
    _texture->setWrap(osg::Texture::WRAP_S, osg::Texture::CLAMP_TO_EDGE);
    _texture->setWrap(osg::Texture::WRAP_T, osg::Texture::CLAMP_TO_EDGE);
    _texture->setResizeNonPowerOfTwoHint(false);
    // The image changes every frame: the draw of one frame must be done with it before the
    // next update traversal writes it again.
    _texture->setDataVariance(osg::Object::DYNAMIC);

    osg::StateSet* state = getOrCreateStateSet();
    state->setDataVariance(osg::Object::DYNAMIC);
    state->setTextureAttributeAndModes(0, _texture.get(), osg::StateAttribute::ON);
    state->setMode(GL_LIGHTING, osg::StateAttribute::OFF);
    // The picture is shown as captured, whatever colour the scene's default material leaves
    // current (its drawables carry no colours of their own).
    state->setTextureAttribute(0, new osg::TexEnv(osg::TexEnv::REPLACE));
    setDataVariance(osg::Object::DYNAMIC);

    if (auto* video = dynamic_cast<Video*>(image)) addUpdateCallback(new VideoUpdateCallback(video));
}

}  // namespace osgART
