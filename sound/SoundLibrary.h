#pragma once

#include <list>
#include <map>
#include <string>

struct Mix_Chunk;

/// Short sounds loaded from WAV files under a key, each played on a mixer channel of its own.
///
/// The constructor opens the audio device (22050 Hz, 16-bit, stereo) through SDL_mixer and
/// allocates 16 channels; each successful `loadSound` takes one channel for good. The library
/// asks the mixer for a channel's state every time and keeps none of its own. It owns its
/// chunks: those it drops and, at destruction, all the others are freed.
class SoundLibrary {
public:
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

    /// The mixer channel given to `key`, or -1.
    int channelOf(const std::string& key) const;
    int getChannelCount() const { return channelCount; }
    size_t freeChannelCount() const { return freeChannels.size(); }

private:
    void openAudio();
    Mix_Chunk* loadChunk(const std::string& path);

    std::map<std::string, Mix_Chunk*> chunks;
    std::map<std::string, int> channels;
    std::list<int> freeChannels;
    int channelCount = 0;
};
