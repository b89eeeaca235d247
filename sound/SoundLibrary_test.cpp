#include "SoundLibrary.h"

#include <SDL.h>
#include <SDL_mixer.h>
#include <gtest/gtest.h>

#include <fstream>
#include <thread>

namespace {

using namespace std::chrono_literals;

/// A 22050 Hz, 16-bit stereo WAV file of this process: a level of 3000 for `seconds`.
std::string writeWav(const std::string& name, double seconds) {
    const std::vector<int16_t> pcm(size_t(seconds * 44100), 3000);
    const uint32_t n = uint32_t(pcm.size() * 2);
    // "RIFF", size, "WAVE", "fmt ", 16, PCM in 2 channels, rate, byte rate, 4-byte frames of
    // 16 bits, "data", size.
    const uint32_t header[] = {0x46464952, 36 + n, 0x45564157, 0x20746d66, 16, 0x20001,
                               22050,      88200,  0x100004,   0x61746164, n};
    const std::string path = ::testing::TempDir() + name + std::to_string(getpid()) + ".wav";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(header), sizeof header)
        .write(reinterpret_cast<const char*>(pcm.data()), n);
    return path;
}

TEST(SoundLibrary, EachKeyPlaysOnceOnAChannelOfItsOwnAndStopHaltsIt) {
    const std::string shortSound = writeWav("quorv_short", 0.1),
                      longSound = writeWav("quorv_long", 3);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    SoundLibrary library;
    EXPECT_FALSE(library.loadSound("missing", ::testing::TempDir() + "no_such_file.wav") ||
                 library.loadSound("garbage", __FILE__));
    // The same key again keeps its first sound and channel, yet uses up a channel.
    ASSERT_TRUE(library.loadSound("a", shortSound) && library.loadSound("a", longSound));
    ASSERT_TRUE(library.loadSound("b", longSound));
    const int a = library.channelOf("a"), b = library.channelOf("b");
    EXPECT_FALSE(library.playSound("A", 0) || library.playSound("b ", 0));
    EXPECT_TRUE(library.playSound("a", 0) && library.playSound("b", 0));
    EXPECT_FALSE(library.playSound("a", 0)) << "a playing sound is not restarted";
    for (int c = 0; c < 16; ++c) EXPECT_EQ(Mix_Playing(c) != 0, c == a || c == b) << c;
    ASSERT_NE(Mix_GetChunk(a), nullptr);
    EXPECT_LT(Mix_GetChunk(a)->alen, 22050u * 4) << "not the sound loaded first";
    // A pause is stamped with SDL's millisecond clock, and a stamp of 0 reads as "not paused":
    // the clock must have started, as in any running exhibit.
    while (SDL_GetTicks() == 0) std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(library.stopSound("b", false, 0) && !Mix_Playing(b));
    EXPECT_FALSE(library.stopSound("b", false, 0) || library.stopSound("b", true, 0));
    EXPECT_TRUE(library.playSound("b", 0));
    EXPECT_TRUE(library.stopSound("b", true, 0) && Mix_Playing(b)) << "a restart plays again";
    // 16 channels: 3 taken, the 13 others, and no more; a failed load took none.
    for (int i = 0; i < 13; ++i) EXPECT_TRUE(library.loadSound(std::to_string(i), shortSound));
    EXPECT_FALSE(library.loadSound("one too many", shortSound));
}

// Whether a play after a stop starts the sound over is heard in the whole visit (visit_test).
TEST(SoundLibrary, NoAudioDeviceIsReportedInOneLine) {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);  // SDL keeps the driver it chose until then
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    ::testing::internal::CaptureStdout();
    { SoundLibrary library; }
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("Imposible de inicializar audio", 0), 0u) << out;
    EXPECT_TRUE(out.size() > 32 && out.find('\n') == out.size() - 1) << "not one line, with why";
}

}  // namespace
