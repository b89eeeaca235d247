#pragma once

#include "Tracker.h"

#include <osg/Node>
#include <osg/NodeCallback>
#include <osg/observer_ptr>

namespace osgART {

/// The update callback that runs the tracker once for every new video frame, during the update
/// traversal, before the scene below it is updated. It brings the newest frame into the video
/// image first, so the background and the tracker always see the same frame; an image that has
/// not changed since the last analysis is not analysed again, and nothing ever waits for one.
class TrackerCallback : public osg::NodeCallback {
public:
    explicit TrackerCallback(Tracker* tracker) : _tracker(tracker) {}

    /// Puts a callback for `tracker` on `node`: replaces a TrackerCallback already there, or
    /// adds one to the node's update callbacks.
    static TrackerCallback* addOrSet(osg::Node* node, Tracker* tracker);

    void operator()(osg::Node* node, osg::NodeVisitor* nv) override;

    /// How many images have been analysed.
    unsigned int analysedCount() const { return _analysed; }

private:
    osg::ref_ptr<Tracker> _tracker;
    unsigned int _lastModifiedCount = ~0u;
    const osg::Image* _lastImage = nullptr;
    unsigned int _analysed = 0;
};

}  // namespace osgART
