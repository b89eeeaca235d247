#pragma once

#include <osg/Camera>
#include <osg/Image>

namespace osgART {

/// The camera node that holds the video background: one unit is one image pixel, and
/// (0, 0)-(w, h) fills the view. It draws first (nested in the view's camera), without depth
/// test or writes and without lighting, so everything else is drawn over it.
class VideoLayer : public osg::Camera {
public:
    VideoLayer();

    /// Sizes the layer to the image: an orthographic projection over (0, 0)-(s, t).
    void setSize(const osg::Image& image);
    void setSize(int width, int height);

protected:
    ~VideoLayer() override = default;
};

}  // namespace osgART
