#include "TrackerCallback.h"

#include "Video.h"

#include <osg/NodeVisitor>

namespace osgART {

TrackerCallback* TrackerCallback::addOrSet(osg::Node* node, Tracker* tracker) {
    auto* callback = new TrackerCallback(tracker);
    // Look for an earlier tracker callback in the node's chain and replace it in place.
    osg::Callback* previous = nullptr;
    for (osg::Callback* c = node->getUpdateCallback(); c; previous = c, c = c->getNestedCallback()) {
        if (dynamic_cast<TrackerCallback*>(c)) {
            callback->setNestedCallback(c->getNestedCallback());
            if (previous)
                previous->setNestedCallback(callback);
            else
                node->setUpdateCallback(callback);
            return callback;
        }
    }
    node->addUpdateCallback(callback);
    return callback;
}

void TrackerCallback::operator()(osg::Node* node, osg::NodeVisitor* nv) {
    osg::Image* image = _tracker.valid() ? _tracker->getImage() : nullptr;
    if (auto* video = dynamic_cast<Video*>(image)) video->update(nv->getFrameStamp());
    if (image && image->data() &&
        (image != _lastImage || image->getModifiedCount() != _lastModifiedCount)) {
        _lastImage = image;
        _lastModifiedCount = image->getModifiedCount();
        _tracker->update();
        ++_analysed;
    }
    traverse(node, nv);
}

}  // namespace osgART
