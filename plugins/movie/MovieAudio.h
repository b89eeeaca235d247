#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <osg/AudioStream>
#include <osg/ref_ptr>
#include <vector>

#include "MovieSound.h"

/// A movie's sound track as OpenSceneGraph's audio stream: signed 16-bit stereo at 22050 Hz. The
/// movie's playback thread decodes ahead into a buffer of one second; the sink's audio thread
/// takes from it in `consumeAudioBuffer`, which never waits longer than a copy under the mutex.
///
/// It also keeps the sound's clock: the frames handed out since the movie (re)started, and when
/// the last pull was, so that the pictures can follow what is being heard.
class MovieAudio : public osg::AudioStream {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kRate = MovieSound::kRate;  // the sound as the decoder gives it
    static constexpr int kChannels = MovieSound::kChannels;
    /// Frames the buffer holds: one second.
    static constexpr size_t kCapacity = kRate;

    MovieAudio();

    // osg::Object
    osg::Object* cloneType() const override { return nullptr; }
    osg::Object* clone(const osg::CopyOp&) const override { return nullptr; }
    const char* className() const override { return "MovieAudio"; }

    // osg::AudioStream
    /// Keeps `sink`; the movie tells it when it plays, pauses and stops.
    void setAudioSink(osg::AudioSink* sink) override;
    /// Fills all of `buffer` (audio thread): sound while playing, as much as is decoded, then
    /// zeros; only zeros while paused or stopped.
    void consumeAudioBuffer(void* const buffer, const size_t size) override;
    int audioFrequency() const override { return kRate; }
    int audioNbChannels() const override { return kChannels; }
    SampleFormat audioSampleFormat() const override { return SAMPLE_FORMAT_S16; }

    // The movie's side.
    osg::ref_ptr<osg::AudioSink> sink() const;
    /// Whether pulls get sound; a pull after `setPlaying(false)` gets silence, and the next one
    /// after `setPlaying(true)` goes on from the next frame not handed out.
    void setPlaying(bool playing);
    /// Empties the buffer and starts the count of frames handed out again (the movie restarts).
    void clear();
    /// Frames decoded and not yet handed out.
    size_t buffered() const;
    /// Appends up to `count` frames (zeros when `frames` is null) as far as there is room;
    /// returns how many were taken.
    size_t push(const int16_t* frames, size_t count);
    /// The time in the movie, in seconds since it (re)started, of the sound being heard: the
    /// frames handed out, less the sink's delay, plus the time since the last pull (up to what
    /// that pull handed out). False when the sound cannot pace the pictures: no sink, the sink
    /// not playing, or the movie paused.
    bool clock(Clock::time_point now, double* seconds) const;

  protected:
    ~MovieAudio() override = default;

  private:
    mutable std::mutex _mutex;  ///< guards everything below
    osg::ref_ptr<osg::AudioSink> _sink;
    std::vector<int16_t> _ring;  ///< kCapacity frames
    size_t _head = 0;            ///< frame index of the oldest frame not handed out
    size_t _fill = 0;
    bool _playing = false;
    int64_t _handedOut = 0;
    Clock::time_point _lastPull;
    size_t _lastPullFrames = 0;  ///< sound frames in the last pull; 0 before one since playing
};
