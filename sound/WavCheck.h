#pragma once

#include <cstddef>
#include <string>

// A look at a WAV file's RIFF header before SDL_mixer 1.2 is given it. SDL 1.2 converts a sound
// to the mixer's format with a fixed chain of at most ten steps and trusts the header: a channel
// count or sample rate of zero makes it add steps without end and overflow the stack, and
// formats it cannot read fail without a word. The check refuses both, with a reason.

namespace quorv::sound {

/// What the mixer works in: 22050 Hz, 16-bit, stereo.
constexpr long kMixerBytesPerSecond = 22050L * 2 * 2;
/// The most a sound may take once converted to the mixer's format: 64 MiB, about 12.7 minutes.
constexpr long kMaxMixerBytes = 64L * 1024 * 1024;

/// Whether the bytes of a WAV file describe a sound SDL_mixer 1.2 can load safely:
///  - a RIFF "WAVE" file whose "fmt " chunk comes before its "data" chunk;
///  - PCM of 8 or 16 bits, or Microsoft or IMA ADPCM (SDL 1.2 reads nothing else: not 24- or
///    32-bit PCM, floating point, mu-law, A-law or WAVE_FORMAT_EXTENSIBLE);
///  - 1, 2, 4 or 6 channels (the counts SDL 1.2 can convert to stereo), 2000 to 192000 Hz;
///  - no more than kMaxMixerBytes once converted to the mixer's format, counting only the
///    sample bytes that are there.
/// Never reads outside `data`. False with the reason in `reason` (if given) otherwise.
bool checkWav(const unsigned char* data, size_t size, std::string* reason);

/// The same for a file, opened without blocking: a FIFO or anything else that is not a regular
/// file is refused. The reason names the file.
bool checkWav(const std::string& path, std::string* reason);

}  // namespace quorv::sound
