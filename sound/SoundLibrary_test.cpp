#include "SoundLibrary.h"

#include <SDL.h>
#include <SDL_mixer.h>
#include <gtest/gtest.h>

#include <fstream>
#include <thread>

namespace {

using namespace std::chrono_literals;

/// A 22050 Hz, 16-bit stereo WAV file of this process: `level` for `seconds`, for each segment.
std::string writeWav(const std::string& name, std::vector<std::pair<int16_t, double>> segments) {
    std::vector<int16_t> pcm;
    for (auto [level, seconds] : segments) pcm.insert(pcm.end(), size_t(seconds * 44100), level);
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

class SoundLibraryTest : public ::testing::Test {
  protected:
    void SetUp() override { setenv("SDL_AUDIODRIVER", "dummy", 1); }
    // The driver SDL chose stays until its audio is shut: each test starts without one.
    void TearDown() override { SDL_QuitSubSystem(SDL_INIT_AUDIO); }
    const std::string shortSound = writeWav("quorv_short", {{3000, 0.1}});
    const std::string longSound = writeWav("quorv_long", {{3000, 3.0}});
};

TEST_F(SoundLibraryTest, EachKeyPlaysOnceOnAChannelOfItsOwnAndStopHaltsIt) {
    SoundLibrary library;
    EXPECT_FALSE(library.loadSound("missing", ::testing::TempDir() + "no_such_file.wav") ||
                 library.loadSound("garbage", __FILE__));
    EXPECT_EQ(library.freeChannelCount(), 16u) << "a failed load took a channel";
    // The same key again keeps its first sound and channel, yet uses up a channel.
    ASSERT_TRUE(library.loadSound("a", shortSound) && library.loadSound("a", longSound));
    ASSERT_TRUE(library.loadSound("b", longSound));
    const int a = library.channelOf("a"), b = library.channelOf("b");
    EXPECT_FALSE(library.playSound("A", 0) || library.playSound("b ", 0));
    EXPECT_TRUE(library.playSound("a", 0) && library.playSound("b", 0));
    EXPECT_FALSE(library.playSound("a", 0)) << "a playing sound is not restarted";
    for (int c = 0; c < 16; ++c) EXPECT_EQ(Mix_Playing(c) != 0, c == a || c == b) << c;
    ASSERT_NE(Mix_GetChunk(a), nullptr) << "nothing was played on its channel";
    EXPECT_LT(Mix_GetChunk(a)->alen, 22050u * 4) << "not the sound loaded first";

    // A pause is stamped with SDL's millisecond clock, and a stamp of 0 reads as "not paused":
    // the clock must have started, as in any running exhibit.
    while (SDL_GetTicks() == 0) std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(library.stopSound("b", false, 0));
    EXPECT_FALSE(Mix_Playing(b));
    EXPECT_FALSE(library.stopSound("b", false, 0) || library.stopSound("b", true, 0));
    EXPECT_TRUE(library.playSound("b", 0));
    Mix_Pause(b);  // by someone else: resumed
    EXPECT_TRUE(library.playSound("b", 0) && !Mix_Paused(b));
    EXPECT_TRUE(library.stopSound("b", true, 0) && Mix_Playing(b)) << "a restart plays again";

    for (int i = 0; i < 13; ++i) EXPECT_TRUE(library.loadSound(std::to_string(i), shortSound));
    EXPECT_FALSE(library.loadSound("one too many", shortSound));
    EXPECT_EQ(library.channelOf("one too many"), -1);
}

TEST_F(SoundLibraryTest, NoAudioDeviceIsReportedInOneLine) {
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    ::testing::internal::CaptureStdout();
    { SoundLibrary library; }
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("Imposible de inicializar audio", 0), 0u) << out;
    EXPECT_GT(out.size(), 32u) << "no SDL error text: " << out;
    EXPECT_EQ(out.find('\n'), out.size() - 1) << out;
}

TEST_F(SoundLibraryTest, AfterAStopTheNextPlayStartsFromTheBeginning) {
    // A loud quarter second, then quiet: at half volume the device hears 4000, then 1000.
    const std::string marked = writeWav("quorv_marked", {{8000, 0.25}, {2000, 3.0}});
    const std::string capture = ::testing::TempDir() + "quorv_capture_" + std::to_string(getpid());
    std::remove(capture.c_str());
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", capture.c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", "40", 1);
    // Waits for the device to write 4 more buffers of 4096 frames (0.74 s of sound).
    const auto size = [&] { return long(std::ifstream(capture, std::ios::ate).tellg()); };
    const auto fourBuffersMore = [&, end = std::chrono::steady_clock::now() + 20s] {
        for (const auto start = size();
             size() < start + 65536 && std::chrono::steady_clock::now() < end;)
            std::this_thread::sleep_for(5ms);
    };
    {
        SoundLibrary library;
        ASSERT_TRUE(library.loadSound("phrase", marked) && library.playSound("phrase", 0));
        fourBuffersMore();
        ASSERT_TRUE(library.stopSound("phrase", false, 0) && library.playSound("phrase", 0));
        fourBuffersMore();
    }
    // The levels of the left channel that lasted 1000 frames or more, in turn.
    std::ifstream in(capture, std::ios::binary);
    std::vector<int16_t> pcm(size() / 2);
    in.read(reinterpret_cast<char*>(pcm.data()), std::streamsize(pcm.size() * 2));
    std::vector<int> heard;
    for (size_t i = 2, run = 0; i < pcm.size(); i += 2)
        if ((run = pcm[i] == pcm[i - 2] ? run + 1 : 0) == 1000 && pcm[i] &&
            (heard.empty() || heard.back() != pcm[i]))
            heard.push_back(pcm[i]);
    EXPECT_EQ(heard, (std::vector<int>{4000, 1000, 4000, 1000})) << "not started over";
}

}  // namespace
