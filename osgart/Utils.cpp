#include "Utils.h"

#include "Marker.h"

#include <osg/MatrixTransform>
#include <osg/NodeCallback>

namespace osgART {

unsigned int nextPowerOfTwo(unsigned int size) {
    unsigned int p = 1;
    while (p < size && p < (1u << 31)) p <<= 1;
    return p;
}

namespace {

/// Copies the marker's pose into the transform it is attached to.
class MarkerTransformCallback : public osg::NodeCallback {
public:
    explicit MarkerTransformCallback(Marker* marker) : _marker(marker) {}
    void operator()(osg::Node* node, osg::NodeVisitor* nv) override {
        if (_marker->valid())
            if (auto* transform = dynamic_cast<osg::MatrixTransform*>(node))
                transform->setMatrix(_marker->getTransform());
        traverse(node, nv);
    }

private:
    osg::ref_ptr<Marker> _marker;
};

/// Draws the subtree only while the marker is seen.
class MarkerVisibilityCallback : public osg::NodeCallback {
public:
    explicit MarkerVisibilityCallback(Marker* marker) : _marker(marker) {}
    void operator()(osg::Node* node, osg::NodeVisitor* nv) override {
        if (_marker->valid()) traverse(node, nv);
    }

private:
    osg::ref_ptr<Marker> _marker;
};

}  // namespace

void attachDefaultEventCallbacks(osg::Node* node, Marker* marker) {
    if (!node || !marker) return;
    node->addUpdateCallback(new MarkerTransformCallback(marker));
    node->addCullCallback(new MarkerVisibilityCallback(marker));
}

}  // namespace osgART
