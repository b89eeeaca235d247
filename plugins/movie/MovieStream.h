#pragma once

#include "MovieDecoder.h"

#include <osg/ImageStream>

#include <opencv2/core.hpp>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

/// A movie file as an image that plays: 8-bit BGR pictures, row 0 the movie's top row, decoded
/// on a playback thread of its own ("quorv-movie", started by the first `play`) and paced at the
/// movie's frame rate on a steady clock.
///
/// Threads. `play`, `pause`, `rewind`, `quit`, `setLoopingMode`, `update` and `getStatus` belong
/// to the main thread, which alone writes the status. The playback thread decodes each picture
/// ahead of its due time and hands it over whole through `_handoff`; `update`, called by OSG's
/// update traversal through the texture (the image asks for it), copies the newest picture into
/// the image's own buffer. So the draw thread only ever reads a complete picture from a buffer
/// that never moves, and decoding never runs on the main thread after `open`.
///
/// Pacing. Picture k of a run is due k frame periods after the run began; a run begins at each
/// `play` with the picture shown at that moment, so playback resumes from the frozen picture
/// without catching up on the time spent paused. A thread that falls more than two periods
/// behind starts a new run rather than racing through the backlog.
///
/// The end. With LOOPING (the default) the first picture follows the last one at the usual
/// pace. With NO_LOOPING the last picture stays and the status turns PAUSED at the `update` that
/// shows it; the next `play` starts from the beginning.
class MovieStream : public osg::ImageStream {
public:
    /// Opens the movie at `path` and puts its first picture in the image, status PAUSED. Null,
    /// with the reason in `why`, when the file cannot be decoded.
    static osg::ref_ptr<MovieStream> open(const std::string& path, std::string* why);

    void play() override;
    void pause() override;
    /// Back to the first picture, shown at the next `update` even while paused.
    void rewind() override;
    /// Stops the playback thread, waiting for it when asked to; the picture stays. A later
    /// `play` starts a new thread where this one stopped.
    void quit(bool waitForThreadToExit = true) override;

    double getFrameRate() const override { return _framesPerSecond; }
    /// Time of the picture in the image, from the start of the movie.
    double getCurrentTime() const override { return _shownIndex / _framesPerSecond; }

    bool requiresUpdateCall() const override { return true; }
    /// Copies the newest decoded picture into the image (main thread).
    void update(osg::NodeVisitor* visitor) override;

protected:
    ~MovieStream() override;
    void applyLoopingMode() override;

private:
    MovieStream(std::unique_ptr<MovieDecoder> decoder, const cv::Mat& first);

    void startThread();
    void playbackLoop();
    /// Decodes the picture after the last one into `_pending`, going round to the first one
    /// when `looping`; false at the end of the movie (playback thread).
    bool decodeNext(bool looping);

    const double _framesPerSecond;

    /// What the main thread and the playback thread share, every field guarded by `mutex`.
    struct Handoff {
        std::mutex mutex;
        std::condition_variable wake;  ///< notified on every request to the playback thread

        // Requests, main thread to playback thread.
        bool playing = false;
        bool looping = true;
        bool rewind = false;
        bool quit = false;

        // Pictures, playback thread to main thread.
        cv::Mat picture;          ///< the newest decoded picture; swapped in and out, never shared
        int pictureIndex = 0;     ///< its index in the movie
        bool fresh = false;       ///< `picture` has not been copied into the image yet
        bool showPaused = false;  ///< `picture` is to be shown even while paused (a rewind)
        bool ended = false;       ///< the last picture came, looping was off; the thread idles
    };
    Handoff _handoff;

    std::thread _thread;

    // The playback thread's own while it runs; the main thread's before and after (start and
    // join order the two).
    std::unique_ptr<MovieDecoder> _decoder;
    cv::Mat _pending;  ///< decoded ahead, waiting for its due time
    int _pendingIndex = 0;
    bool _hasPending = false;
    int _nextIndex = 1;   ///< index of the next picture the decoder gives
    bool _atEnd = false;  ///< decoding reached the end with looping off

    // The main thread's alone.
    cv::Mat _spare;          ///< the buffer traded for each picture taken from `_handoff`
    int _shownIndex = 0;     ///< index of the picture in the image
    bool _finished = false;  ///< playback stopped at the end; the next play starts over
};
