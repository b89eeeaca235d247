#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <osg/ref_ptr>
#include <string>
#include <vector>

#include "MovieSoundSink.h"

struct Mix_Chunk;

/// Short sounds loaded from WAV files under a key, each played on a mixer channel of its own.
///
/// The constructor opens the audio device (22050 Hz, 16-bit, stereo) through SDL_mixer and
/// allocates 16 channels; each successful `loadSound` takes one channel for good. The library
/// asks the mixer for a channel's state every time and keeps none of its own. It owns its
/// chunks: those it drops and, at destruction, all the others are freed.
///
/// Movies' sound tracks are mixed in too, under the sounds (attachMovieSound): SDL_mixer's music
/// hook pulls them from their sinks on the audio thread, and lowers them by kDuckDecibels while
/// any of the library's sounds plays. At destruction the library unhooks, closes the sinks and
/// then closes the audio device, so that a movie that outlives it is never pulled again and
/// its later calls to its sink do nothing.
class SoundLibrary {
  public:
    /// How much a movie's sound is lowered while one of the library's sounds plays.
    static constexpr double kDuckDecibels = -12;
    /// How long the movie's sound takes to go down to that level, or back up (seconds).
    static constexpr double kDuckRampSeconds = 0.1;

    SoundLibrary();
    ~SoundLibrary();
    SoundLibrary(const SoundLibrary&) = delete;
    SoundLibrary& operator=(const SoundLibrary&) = delete;

    /// Reads the WAV file at `path` under `key`. False when the file does not load or no
    /// channel is left. A key already loaded keeps its first sound and channel, yet the call
    /// still uses up a channel of the pool and returns true.
    bool loadSound(std::string key, std::string path);

    /// Starts the key's sound from its beginning (`loops` more times, -1 for ever) when its
    /// channel is idle, or resumes it when paused. False when the key is unknown, the sound is
    /// already playing, or the mixer refused.
    bool playSound(std::string key, int loops);

    /// Halts the key's sound when it plays or is paused, and with `restart` starts it again
    /// from its beginning (`loops` as for playSound). False when nothing was playing.
    bool stopSound(std::string key, bool restart, int loops);

    /// Makes a sink for a movie's sound track and hands it to `stream` (setAudioSink), which
    /// then plays, pauses and stops it with the movie. With no audio device the sink is closed
    /// and the movie plays silently. Null, with a message, when the stream's format is not the
    /// mixer's (the stream gets no sink). Main thread.
    osg::ref_ptr<MovieSoundSink> attachMovieSound(osg::AudioStream* stream);

    /// The mixer channel given to `key`, or -1.
    int channelOf(const std::string& key) const;
    int getChannelCount() const { return channelCount; }
    size_t freeChannelCount() const { return freeChannels.size(); }

  private:
    void openAudio();
    Mix_Chunk* loadChunk(const std::string& path);
    /// SDL_mixer's music hook: the movies' sound, ducked under the library's sounds.
    static void mixMovies(void* library, uint8_t* buffer, int bytes);

    std::map<std::string, Mix_Chunk*> chunks;
    std::map<std::string, int> channels;
    std::list<int> freeChannels;
    int channelCount = 0;

    // The movies' sound. `sinks` changes only under SDL's audio lock (or unhooked); the rest
    // belongs to the hook, on the audio thread.
    std::vector<osg::ref_ptr<MovieSoundSink>> sinks;
    int audioRate = 0;  ///< the open device's sample rate; 0 when none was opened
    bool hooked = false;
    std::vector<int16_t> pulled;  ///< one sink's buffer
    std::vector<int32_t> mixed;   ///< the sinks' sum
    double movieGain = 1;         ///< where the ducking ramp stands
};
