#include "SoundLibrary.h"

#include <SDL.h>
#include <SDL_mixer.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

/// Writes a 22050 Hz, 16-bit stereo WAV file whose samples are given per segment:
/// `level` for `seconds`, for each segment in turn.
std::string writeWav(const std::string& name, const std::vector<std::pair<int16_t, double>>& segments) {
    std::vector<int16_t> samples;
    for (const auto& [level, seconds] : segments)
        for (int i = 0; i < static_cast<int>(seconds * 22050); ++i) {
            samples.push_back(level);
            samples.push_back(level);
        }
    const std::string path = ::testing::TempDir() + name;
    std::ofstream out(path, std::ios::binary);
    auto u32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    const uint32_t bytes = static_cast<uint32_t>(samples.size() * 2);
    out.write("RIFF", 4);
    u32(36 + bytes);
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(2);
    u32(22050);
    u32(22050 * 4);
    u16(4);
    u16(16);
    out.write("data", 4);
    u32(bytes);
    out.write(reinterpret_cast<const char*>(samples.data()), bytes);
    return path;
}

class SoundLibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        shortSound = writeWav("quorv_short.wav", {{3000, 0.1}});
        longSound = writeWav("quorv_long.wav", {{3000, 3.0}});
    }
    // The library opens audio through the mixer alone; the driver SDL chose stays until the
    // audio subsystem is shut, so each test starts without one.
    void TearDown() override { SDL_QuitSubSystem(SDL_INIT_AUDIO); }
    std::string shortSound, longSound;
};

TEST_F(SoundLibraryTest, PlayStartsOnceAndStopHaltsForAFreshStart) {
    SoundLibrary library;
    ASSERT_TRUE(library.loadSound("phrase", longSound));
    const int channel = library.channelOf("phrase");
    ASSERT_GE(channel, 0);

    EXPECT_TRUE(library.playSound("phrase", 0));
    EXPECT_TRUE(Mix_Playing(channel));
    EXPECT_FALSE(library.playSound("phrase", 0)) << "a playing sound is not restarted";

    // The mixer stamps a pause with SDL's millisecond clock, and a stamp of 0 reads as "not
    // paused": let the clock tick, as it has in any running exhibit.
    std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(library.stopSound("phrase", false, 0));
    EXPECT_FALSE(Mix_Playing(channel));
    EXPECT_FALSE(library.stopSound("phrase", false, 0)) << "nothing left to stop";
    EXPECT_FALSE(library.stopSound("phrase", true, 0)) << "nothing left to restart";
    EXPECT_FALSE(Mix_Playing(channel));
    EXPECT_TRUE(library.playSound("phrase", 0));

    // A channel paused by someone else is resumed, not restarted.
    Mix_Pause(channel);
    EXPECT_TRUE(library.playSound("phrase", 0));
    EXPECT_FALSE(Mix_Paused(channel));

    // Restart halts and plays again.
    EXPECT_TRUE(library.stopSound("phrase", true, 0));
    EXPECT_TRUE(Mix_Playing(channel));
}

TEST_F(SoundLibraryTest, StoppingASoundThatHasEndedReturnsFalse) {
    SoundLibrary library;
    ASSERT_TRUE(library.loadSound("beep", shortSound));
    ASSERT_TRUE(library.playSound("beep", 0));
    // 0.1 s of sound; the dummy device consumes it in real time.
    for (int i = 0; i < 100 && Mix_Playing(library.channelOf("beep")); ++i)
        std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(Mix_Playing(library.channelOf("beep")));
    EXPECT_FALSE(library.stopSound("beep", false, 0));
    EXPECT_TRUE(library.playSound("beep", 0)) << "an ended sound plays again";
}

TEST_F(SoundLibraryTest, UnknownKeysAndAnEmptyLibraryDoNothing) {
    SoundLibrary library;
    EXPECT_FALSE(library.playSound("phrase", 0));
    EXPECT_FALSE(library.stopSound("phrase", true, 0));
    ASSERT_TRUE(library.loadSound("frase", longSound));
    // Keys are exact: case and blanks matter.
    EXPECT_FALSE(library.playSound("Frase", 0));
    EXPECT_FALSE(library.playSound("frase ", 0));
    for (int channel = 0; channel < library.getChannelCount(); ++channel)
        EXPECT_FALSE(Mix_Playing(channel));

    EXPECT_TRUE(library.loadSound("Frase", shortSound));
    EXPECT_NE(library.channelOf("Frase"), library.channelOf("frase"));
}

TEST_F(SoundLibraryTest, EachLoadTakesOneOfSixteenChannelsForGood) {
    SoundLibrary library;
    ASSERT_EQ(library.getChannelCount(), 16);
    EXPECT_FALSE(library.loadSound("missing", ::testing::TempDir() + "no_such_file.wav"));
    EXPECT_FALSE(library.loadSound("garbage", __FILE__));  // not a WAV file
    EXPECT_EQ(library.freeChannelCount(), 16u) << "failed loads take no channel";

    // The same key again keeps its first sound and channel, yet uses up a channel.
    ASSERT_TRUE(library.loadSound("a", shortSound));
    const int first = library.channelOf("a");
    ASSERT_TRUE(library.loadSound("a", longSound));
    EXPECT_EQ(library.channelOf("a"), first);
    EXPECT_EQ(library.freeChannelCount(), 14u);
    ASSERT_TRUE(library.playSound("a", 0));
    Mix_Chunk* playing = Mix_GetChunk(first);
    ASSERT_NE(playing, nullptr);
    EXPECT_LT(playing->alen, 22050u * 4u) << "the short sound, loaded first, is the one played";

    for (int i = 0; i < 14; ++i) EXPECT_TRUE(library.loadSound("k" + std::to_string(i), shortSound));
    EXPECT_EQ(library.freeChannelCount(), 0u);
    EXPECT_FALSE(library.loadSound("one-too-many", shortSound));
    EXPECT_EQ(library.channelOf("one-too-many"), -1);
}

TEST_F(SoundLibraryTest, OneFileUnderTwoKeysPlaysTwiceAtOnce) {
    SoundLibrary library;
    ASSERT_TRUE(library.loadSound("left", longSound));
    ASSERT_TRUE(library.loadSound("right", longSound));
    ASSERT_NE(library.channelOf("left"), library.channelOf("right"));
    EXPECT_TRUE(library.playSound("left", 0));
    EXPECT_TRUE(library.playSound("right", 0));
    EXPECT_TRUE(Mix_Playing(library.channelOf("left")));
    EXPECT_TRUE(Mix_Playing(library.channelOf("right")));
    EXPECT_NE(Mix_GetChunk(library.channelOf("left")), Mix_GetChunk(library.channelOf("right")));
}

TEST_F(SoundLibraryTest, NoAudioDeviceIsReportedInOneLineAndConstructionCompletes) {
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    ::testing::internal::CaptureStdout();
    {
        SoundLibrary library;
        EXPECT_EQ(library.getChannelCount(), 16);
        EXPECT_FALSE(library.loadSound("phrase", longSound));
        EXPECT_FALSE(library.playSound("phrase", 0));
    }
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("Imposible de inicializar audio", 0), 0u) << out;
    EXPECT_GT(out.size(), std::string("Imposible de inicializar audio\n").size()) << "no SDL error text";
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1);
}

/// Level runs of the left channel in a raw 16-bit stereo capture, ignoring runs shorter than
/// `minimum` frames: the sequence of levels heard.
std::vector<int> levelsHeard(const std::string& path, int minimum) {
    std::ifstream in(path, std::ios::binary);
    std::vector<int16_t> samples((std::istreambuf_iterator<char>(in)), {});
    std::vector<int16_t> pcm(samples.size() / 2);
    in.clear();
    in.seekg(0);
    in.read(reinterpret_cast<char*>(pcm.data()), static_cast<std::streamsize>(pcm.size() * 2));
    std::vector<int> levels;
    int run = 0, current = -1;
    for (size_t i = 0; i < pcm.size(); i += 2) {
        const int level = pcm[i];
        if (level == 0) continue;  // silence before, between and after
        if (level == current) {
            if (++run == minimum && (levels.empty() || levels.back() != level)) levels.push_back(level);
        } else {
            current = level;
            run = 1;
        }
    }
    return levels;
}

TEST_F(SoundLibraryTest, AfterAStopTheNextPlayStartsFromTheBeginning) {
    // The sound opens with a loud quarter second, then stays quiet; at half volume the device
    // hears 4000 then 1000.
    const std::string marked = writeWav("quorv_marked.wav", {{8000, 0.25}, {2000, 2.0}});
    const std::string capture = ::testing::TempDir() + "quorv_capture.raw";
    std::remove(capture.c_str());
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", capture.c_str(), 1);
    {
        SoundLibrary library;
        ASSERT_TRUE(library.loadSound("phrase", marked));
        ASSERT_TRUE(library.playSound("phrase", 0));
        std::this_thread::sleep_for(800ms);
        ASSERT_TRUE(library.stopSound("phrase", false, 0));
        ASSERT_TRUE(library.playSound("phrase", 0));
        std::this_thread::sleep_for(800ms);
    }
    const std::vector<int> heard = levelsHeard(capture, 1000);
    EXPECT_EQ(heard, (std::vector<int>{4000, 1000, 4000, 1000}))
        << "heard " << ::testing::PrintToString(heard);
}

}  // namespace
