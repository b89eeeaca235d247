#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <opencv2/core.hpp>
#include <osg/ImageStream>
#include <string>
#include <thread>
#include <vector>

#include "MovieAudio.h"
#include "MovieDecoder.h"
#include "MovieSound.h"

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
///
/// Sound. A movie with an audio stream has one MovieAudio in `getAudioStreams()`. Once a sink is
/// attached, the playback thread also decodes the sound (MovieSound) into it, about 0.75 s ahead,
/// placing each piece by its time stamp on the same time line as the pictures: silence where the
/// track has none, the track cut where the pictures end, and the next round of both starting at
/// the same frame of that line. While the sink plays, picture k of a round is due when the sound's
/// clock reaches the round's start plus k frame periods, instead of by the steady clock.
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
    MovieStream(std::unique_ptr<MovieDecoder> decoder, const cv::Mat& first,
                std::unique_ptr<MovieSound> sound);

    void startThread();
    void playbackLoop();
    /// Decodes the picture after the last one into `_pending`, going round to the first one
    /// when `looping`; false at the end of the movie (playback thread).
    bool decodeNext(bool looping);
    /// The sound wants decoding: a sink is attached and less than the target is buffered.
    bool soundWanted() const;
    /// Decodes and places the next piece of sound (playback thread, without the handoff lock).
    void feedSound(bool looping);
    /// Back to the start of the sound, the buffer emptied (playback thread).
    void restartSound();
    /// Tells the sound and its sink that the movie plays or not (any thread, no lock held).
    void soundPlays(bool playing);

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
    int _nextIndex = 1;      ///< index of the next picture the decoder gives
    bool _atEnd = false;     ///< decoding reached the end with looping off
    double _roundStart = 0;  ///< sound-clock time of this round's first picture

    // The sound: null without one. The buffer is shared (thread safe); the rest is the
    // playback thread's while it runs.
    osg::ref_ptr<MovieAudio> _audio;
    std::unique_ptr<MovieSound> _sound;
    std::vector<int16_t> _piece;       ///< a decoded piece not yet all in the buffer
    size_t _pieceDone = 0;             ///< its frames placed so far
    int64_t _piecePosition = 0;        ///< its first frame in the movie, in output frames
    int64_t _soundWritten = 0;         ///< frames put in the buffer since the (re)start
    int64_t _soundRound = 0;           ///< frame at which the sound's round began
    std::deque<int64_t> _roundStarts;  ///< frames at which the sound began rounds still ahead
    bool _soundOver = false;           ///< the track is done and the movie does not loop
    bool _soundWarned = false;         ///< its failure has been reported

    // The main thread's alone.
    cv::Mat _spare;          ///< the buffer traded for each picture taken from `_handoff`
    int _shownIndex = 0;     ///< index of the picture in the image
    bool _finished = false;  ///< playback stopped at the end; the next play starts over
};
