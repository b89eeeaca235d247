#pragma once

#include <osg/FrameStamp>
#include <osg/Image>

#include <chrono>
#include <cstdint>

namespace osgART {

/// A live video source. The object is itself the image that the background and the tracker
/// see: its pixels are the newest complete frame brought in by `update`.
///
/// Life: open (the size becomes known, nothing is captured yet), start (capture runs), stop,
/// close. A source may run its capture on a thread of its own; the image is only ever written
/// by `update`, on the thread that runs the scene's update traversal.
class Video : public osg::Image {
public:
    using Clock = std::chrono::steady_clock;

    /// Opens the source. After it returns the image has its size (s, t) and format. Returns
    /// false when the source could not be set up at all.
    virtual bool open() = 0;
    /// Starts capturing.
    virtual void start() = 0;
    /// Stops capturing; the image keeps its last frame.
    virtual void stop() = 0;
    /// Stops capturing and releases the source. `waitForThread` true waits for a capture
    /// thread to end before returning.
    virtual void close(bool waitForThread = true) = 0;

    /// Brings the newest complete frame into the image if one arrived since the last call.
    /// Calls with the same frame number after the first do nothing, so every reader of one
    /// traversal sees the same frame. Returns true when the image changed.
    virtual bool update(const osg::FrameStamp* frameStamp) = 0;

    /// A file descriptor that polls readable while a frame newer than the image's waits for
    /// `update`, so that a frame loop can sleep until there is a picture to show; -1 when the
    /// source cannot tell. Owned by the source.
    virtual int frameReadyFd() const { return -1; }

    /// When the frame now in the image was captured (steady clock), and its running number
    /// (0 until the first frame arrives).
    Clock::time_point frameTime() const { return _frameTime; }
    uint64_t frameCount() const { return _frameCount; }

protected:
    ~Video() override = default;

    Clock::time_point _frameTime{};
    uint64_t _frameCount = 0;
};

}  // namespace osgART
