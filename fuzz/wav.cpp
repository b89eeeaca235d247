// The WAV pre-check: any bytes are either refused with a reason or accepted; the check of a
// file says the same as the check of its bytes; and the PCM it accepts, SDL 1.2 can load and
// convert to the mixer's format as SDL_mixer does, without crashing (the crashes the check is
// there to prevent: a header of 0 channels or 0 Hz overflows SDL's conversion).

#include <SDL.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "Contract.h"
#include "ScratchFile.h"
#include "WavCheck.h"

using quorv::fuzz::require;

namespace {

quorv::fuzz::ScratchFile scratch(".wav");

/// Whether SDL 1.2 is worth giving the bytes, walking the chunks as SDL does (back to back,
/// without the padding byte after an odd length): every chunk up to the sound data lies within
/// them, and the first format chunk says PCM. SDL allocates the length a chunk's header claims
/// before it reads the chunk, and one read past the end claims whatever was in memory (an
/// allocation of up to 4 GiB, seconds under the address sanitizer, and nothing converted); and it
/// leaks its buffers when it fails to decode ADPCM (gigabytes over a run). The conversion the
/// check guards against is the same whatever the samples were stored as.
bool worthLoading(const std::uint8_t* data, std::size_t size) {
    bool pcm = false, format = false;
    for (std::size_t at = 12; at + 8 <= size;) {
        const std::uint32_t length =
            std::uint32_t(data[at + 4]) | std::uint32_t(data[at + 5]) << 8 |
            std::uint32_t(data[at + 6]) << 16 | std::uint32_t(data[at + 7]) << 24;
        if (length > size - at - 8) return false;
        if (!format && std::memcmp(data + at, "fmt ", 4) == 0 && length >= 2) {
            pcm = data[at + 8] == 1 && data[at + 9] == 0;
            format = true;
        }
        if (std::memcmp(data + at, "data", 4) == 0) return pcm;
        at += 8 + std::size_t(length);
    }
    return false;
}

/// Loads the bytes with SDL and converts them to 22050 Hz 16-bit stereo, as SDL_mixer 1.2's
/// Mix_LoadWAV_RW does. A failure to load is fine (SDL says why); only a crash is not.
void loadAsTheMixerDoes(const std::uint8_t* data, std::size_t size) {
    SDL_AudioSpec loaded;
    Uint8* samples = nullptr;
    Uint32 length = 0;
    SDL_RWops* in = SDL_RWFromConstMem(data, static_cast<int>(size));
    if (!SDL_LoadWAV_RW(in, 1, &loaded, &samples, &length)) return;
    SDL_AudioCVT cvt;
    if (SDL_BuildAudioCVT(&cvt, loaded.format, loaded.channels, loaded.freq, AUDIO_S16SYS, 2,
                          22050) > 0) {
        cvt.len = static_cast<int>(length);
        cvt.buf = static_cast<Uint8*>(std::malloc(std::size_t(length) * cvt.len_mult));
        require(cvt.buf != nullptr, "an accepted sound fits in memory");
        std::memcpy(cvt.buf, samples, length);
        SDL_ConvertAudio(&cvt);
        std::free(cvt.buf);
    }
    SDL_FreeWAV(samples);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string reason;
    const bool accepted = quorv::sound::checkWav(data, size, &reason);
    if (!accepted) quorv::fuzz::requireReason(reason);

    require(scratch.write(data, size), "the input can be written to a file");
    std::string fileReason;
    require(quorv::sound::checkWav(scratch.path, &fileReason) == accepted,
            "a file and its bytes get the same verdict");
    require(accepted || fileReason == scratch.path + ": " + reason,
            "a file's refusal gives the reason for its bytes, after the file's name");

    if (accepted && worthLoading(data, size)) loadAsTheMixerDoes(data, size);
    return 0;
}
