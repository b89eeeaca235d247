#pragma once

#include "FrameSource.h"

#include <osgart/Video.h>

#include <opencv2/core.hpp>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

/// The video source of the exhibit: frames from a camera or a looping file, captured on a thread
/// of its own ("quorv-capture") from `start` until `close`.
///
/// The capture thread and `update` share one slot holding the newest complete frame, guarded by
/// `_mutex`: the thread fills a frame of its own and swaps it into the slot; `update` copies the
/// slot into the image. So the image is never half written, and an old frame is simply replaced
/// by a newer one, never queued.
///
/// Without a source (no camera, camera unplugged, unreadable file) the image is black; the
/// thread says so in one line and keeps trying, once a second, until the source comes back.
class CaptureVideo : public osgART::Video {
public:
    /// The source named by the environment variable QUORV_VIDEO (a device path or a file);
    /// the first camera at 640x480 when it is not set.
    CaptureVideo();
    explicit CaptureVideo(FrameSource::Options options);

    bool open() override;
    void start() override;
    void stop() override;
    void close(bool waitForThread = true) override;
    bool update(const osg::FrameStamp* frameStamp) override;
    /// An eventfd, signalled by the capture thread with each frame and drained by `update`.
    int frameReadyFd() const override { return _readyFd; }

    /// Kernel id of the capture thread (0 when none runs), for CPU measurements.
    long captureThreadId() const { return _threadId.load(); }
    /// Whether a source is currently delivering frames.
    bool hasSource() const { return _sourceOpen.load(); }

    /// How long the thread waits between attempts to reopen a missing source.
    static constexpr std::chrono::milliseconds kRetryInterval{1000};

protected:
    ~CaptureVideo() override;

private:
    void captureLoop();
    void requestStop();
    void publish(cv::Mat& frame);
    bool waitOrStop(std::chrono::milliseconds duration);

    FrameSource::Options _options;
    std::unique_ptr<FrameSource> _source;  ///< owned by the capture thread while it runs
    std::thread _thread;
    std::atomic<bool> _running{false};
    std::atomic<long> _threadId{0};
    std::atomic<bool> _sourceOpen{false};

    std::mutex _mutex;  ///< guards the fields below
    std::condition_variable _wake;
    int _readyFd = -1;
    cv::Mat _latest;
    bool _fresh = false;
    Clock::time_point _latestTime{};

    unsigned int _lastUpdateFrame = ~0u;
};
