#include "SoundLibrary.h"

#include <SDL.h>
#include <SDL_mixer.h>

#include <algorithm>
#include <cmath>
#include <iostream>

#include "WavCheck.h"

namespace {

constexpr int kFrequency = 22050;
constexpr Uint16 kFormat = AUDIO_S16LSB;  // 0x8010
constexpr int kOutputChannels = 2;
constexpr int kChunkSize = 4096;
constexpr int kMixerChannels = 16;
constexpr int kVolume = 64;  // half of MIX_MAX_VOLUME
const double kDuckGain = std::pow(10.0, SoundLibrary::kDuckDecibels / 20);

}  // namespace

SoundLibrary::SoundLibrary() {
    openAudio();
    channelCount = Mix_AllocateChannels(kMixerChannels);
    for (int channel = 0; channel < channelCount; ++channel) freeChannels.push_back(channel);
}

SoundLibrary::~SoundLibrary() {
    // Unhooking waits for a pull under way (it takes SDL's audio lock) and ends the pulls; the
    // movies may go on calling their sinks, which closed do nothing. Then the device closes.
    if (hooked) Mix_HookMusic(nullptr, nullptr);
    for (auto& sink : sinks) sink->close();
    sinks.clear();
    int frequency = 0, outputChannels = 0;
    Uint16 format = 0;
    const bool open = Mix_QuerySpec(&frequency, &format, &outputChannels) != 0;
    Mix_CloseAudio();
    // The last word at the end of a run: the audio device is free for the next one.
    if (open) std::cerr << "Quorv sound: audio closed" << std::endl;
    freeChannels.clear();
    channels.clear();
    for (auto& entry : chunks) Mix_FreeChunk(entry.second);
    chunks.clear();
}

void SoundLibrary::openAudio() {
    if (Mix_OpenAudio(kFrequency, kFormat, kOutputChannels, kChunkSize) != 0) {
        std::cout << "Imposible de inicializar audio" << SDL_GetError() << std::endl;
        return;
    }
    Uint16 format = 0;
    int outputChannels = 0;
    Mix_QuerySpec(&audioRate, &format, &outputChannels);
}

osg::ref_ptr<MovieSoundSink> SoundLibrary::attachMovieSound(osg::AudioStream* stream) {
    if (!stream) return nullptr;
    int frequency = 0, outputChannels = 0;
    Uint16 format = 0;
    if (audioRate && Mix_QuerySpec(&frequency, &format, &outputChannels) &&
        (stream->audioFrequency() != frequency || stream->audioNbChannels() != outputChannels ||
         stream->audioSampleFormat() != osg::AudioStream::SAMPLE_FORMAT_S16 ||
         format != AUDIO_S16SYS)) {
        std::cerr << "Quorv sound: the movie's sound comes at " << stream->audioFrequency()
                  << " Hz in " << stream->audioNbChannels() << " channels, sample format "
                  << stream->audioSampleFormat() << ", not as the mixer plays it (" << frequency
                  << " Hz, 16-bit, " << outputChannels << " channels); the movie plays silently"
                  << std::endl;
        return nullptr;
    }
    // A sample pulled is heard once the mixer's buffer ahead of it has played.
    osg::ref_ptr<MovieSoundSink> sink =
        new MovieSoundSink(stream, audioRate ? double(kChunkSize) / audioRate : 0, !audioRate);
    if (audioRate) {
        SDL_LockAudio();
        sinks.push_back(sink);
        pulled.reserve(kChunkSize * kOutputChannels);
        mixed.reserve(kChunkSize * kOutputChannels);
        SDL_UnlockAudio();
        if (!hooked) Mix_HookMusic(&SoundLibrary::mixMovies, this);
        hooked = true;
    }
    stream->setAudioSink(sink.get());
    return sink;
}

void SoundLibrary::mixMovies(void* data, uint8_t* buffer, int bytes) {
    SoundLibrary& library = *static_cast<SoundLibrary*>(data);
    const size_t samples = size_t(bytes) / 4 * 2;  // whole stereo frames
    library.pulled.resize(samples);
    library.mixed.assign(samples, 0);
    for (auto& sink : library.sinks) {
        if (!sink->pull(library.pulled.data(), samples * sizeof(int16_t))) continue;
        for (size_t i = 0; i < samples; ++i) library.mixed[i] += library.pulled[i];
    }
    // Any sound of the library's on a channel lowers the movies; the level glides to its new
    // target so that neither the dip nor the return clicks. The mixer adds the sounds on top.
    const double target = Mix_Playing(-1) > 0 ? kDuckGain : 1.0;
    const double step = (1 - kDuckGain) / (kDuckRampSeconds * library.audioRate);
    int16_t* out = reinterpret_cast<int16_t*>(buffer);
    double& gain = library.movieGain;
    for (size_t i = 0; i < samples; i += 2) {
        gain = gain < target ? std::min(target, gain + step) : std::max(target, gain - step);
        for (size_t c = i; c < i + 2; ++c)
            out[c] = int16_t(std::clamp(std::lround(library.mixed[c] * gain), -32768L, 32767L));
    }
}

Mix_Chunk* SoundLibrary::loadChunk(const std::string& path) {
    // The header is checked first: SDL 1.2 trusts it, and some headers crash it.
    std::string why;
    if (!quorv::sound::checkWav(path, &why)) {
        std::cerr << "Quorv sound: " << why << "; the exhibit stays silent" << std::endl;
        return nullptr;
    }
    // The mixer closes the stream (free-source flag 1); a null stream yields a null chunk.
    Mix_Chunk* chunk = Mix_LoadWAV_RW(SDL_RWFromFile(path.c_str(), "rb"), 1);
    if (chunk)
        Mix_VolumeChunk(chunk, kVolume);
    else
        std::cerr << "Quorv sound: " << path << ": " << Mix_GetError()
                  << "; the exhibit stays silent" << std::endl;
    return chunk;
}

bool SoundLibrary::loadSound(std::string key, std::string path) {
    Mix_Chunk* chunk = loadChunk(path);
    if (!chunk) return false;
    if (freeChannels.empty()) {
        Mix_FreeChunk(chunk);
        return false;
    }
    if (!chunks.insert(std::make_pair(key, chunk)).second) Mix_FreeChunk(chunk);
    const int channel = freeChannels.front();
    freeChannels.pop_front();
    channels.insert(std::make_pair(key, channel));
    return true;
}

bool SoundLibrary::playSound(std::string key, int loops) {
    if (channels.empty()) return false;
    const auto found = channels.find(key);
    if (found == channels.end()) return false;
    const int channel = found->second;
    if (!Mix_Playing(channel)) return Mix_PlayChannelTimed(channel, chunks[key], loops, -1) != -1;
    if (Mix_Paused(channel)) {
        Mix_Resume(channel);
        return true;
    }
    return false;
}

bool SoundLibrary::stopSound(std::string key, bool restart, int loops) {
    if (channels.empty()) return false;
    const auto found = channels.find(key);
    if (found == channels.end()) return false;
    const int channel = found->second;
    // A halted channel keeps the pause stamp it had (halting does not clear it), so the pause
    // flag alone would call a sound that was stopped earlier still active. A paused sound is
    // still playing as far as the mixer counts, so playing is what tells an active channel.
    const bool paused = Mix_Paused(channel) && Mix_Playing(channel);
    if (!Mix_Playing(channel) && !paused) return false;
    Mix_Pause(channel);
    Mix_HaltChannel(channel);
    if (!restart) return true;
    return Mix_PlayChannelTimed(channel, Mix_GetChunk(channel), loops, -1) != -1;
}

int SoundLibrary::channelOf(const std::string& key) const {
    const auto found = channels.find(key);
    return found == channels.end() ? -1 : found->second;
}
