#pragma once

#include <atomic>
#include <cstddef>
#include <osg/AudioStream>
#include <osg/observer_ptr>

/// Where a movie's sound goes: the SoundLibrary's music hook pulls it from the movie's
/// `osg::AudioStream` while the movie plays and mixes it under the library's own sounds, on the
/// one audio device the library opened (SoundLibrary::attachMovieSound makes the sink).
///
/// Threads. The movie calls play, pause and stop from the main thread or its playback thread,
/// and reads playing() and the delay from its playback thread; the hook calls pull from SDL's
/// audio thread. The state is two atomics and the sink makes no SDL call itself, so every call
/// is safe from any thread, also after the library has closed the sink and gone.
class MovieSoundSink : public osg::AudioSink {
  public:
    /// A sink for `stream` whose samples are heard `delay` seconds after they are pulled. A sink
    /// made `closed` (no audio device) never plays: its movie runs silently by its own clock.
    MovieSoundSink(osg::AudioStream* stream, double delay, bool closed);

    const char* className() const override { return "MovieSoundSink"; }

    void play() override;
    void pause() override;
    void stop() override;
    /// Whether the movie's sound is being heard: played, and not closed.
    bool playing() const override;

    /// Fills `bytes` of `buffer` (16-bit stereo frames) with the movie's next sound while it
    /// plays; false, leaving the buffer alone, otherwise or when the stream has gone. Called by
    /// the library's hook on the audio thread only.
    bool pull(void* buffer, size_t bytes);

    /// For good: from now on the sink pulls nothing and says it does not play. The library
    /// calls it after it has unhooked and before it closes the audio device.
    void close();

  protected:
    ~MovieSoundSink() override = default;

  private:
    osg::observer_ptr<osg::AudioStream> _stream;  ///< the movie holds the sink, not the reverse
    std::atomic<bool> _played{false};             ///< between play and pause or stop
    std::atomic<bool> _closed;
};
