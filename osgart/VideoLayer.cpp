#include "VideoLayer.h"

#include <osg/Depth>

namespace osgART {

VideoLayer::VideoLayer() {
    setReferenceFrame(osg::Transform::ABSOLUTE_RF);
    setRenderOrder(osg::Camera::NESTED_RENDER);
    setClearMask(0);
    setComputeNearFarMode(osg::CullSettings::DO_NOT_COMPUTE_NEAR_FAR);
    setViewMatrix(osg::Matrixd::identity());
    setCullingActive(false);
    osg::StateSet* state = getOrCreateStateSet();
    state->setMode(GL_LIGHTING, osg::StateAttribute::OFF | osg::StateAttribute::PROTECTED);
    state->setMode(GL_DEPTH_TEST, osg::StateAttribute::OFF);
    state->setAttributeAndModes(new osg::Depth(osg::Depth::ALWAYS, 0.0, 1.0, false));
}

void VideoLayer::setSize(const osg::Image& image) { setSize(image.s(), image.t()); }

void VideoLayer::setSize(int width, int height) {
    setProjectionMatrixAsOrtho2D(0.0, width, 0.0, height);
}

}  // namespace osgART
