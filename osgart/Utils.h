#pragma once

#include <osg/Node>

namespace osgART {

class Marker;

/// The smallest power of two that is at least `size` (1 for 0): the texture size that holds an
/// image side of that many pixels.
unsigned int nextPowerOfTwo(unsigned int size);

/// Makes `node` (normally an osg::MatrixTransform) follow `marker`: every update traversal
/// copies the marker's pose into the transform's matrix, and the node's subtree is culled
/// while the marker is not valid.
void attachDefaultEventCallbacks(osg::Node* node, Marker* marker);

}  // namespace osgART
