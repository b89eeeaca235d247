#include "SoundCue.h"

#include <SDL.h>
#include <SoundLibrary.h>
#include <gtest/gtest.h>
#include <support/Paths.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

/// Records the calls the cue makes; answers like a library whose calls all fail.
struct RecordingSounds {
    bool playSound(std::string key, int loops) {
        calls.push_back("play " + key + " " + std::to_string(loops));
        return false;
    }
    bool stopSound(std::string key, bool restart, int loops) {
        calls.push_back("stop " + key + (restart ? " restart " : " ") + std::to_string(loops));
        return false;
    }
    std::vector<std::string> calls;
};

/// The calls of one pass per entry of `seen`.
std::vector<std::vector<std::string>> passes(const std::vector<bool>& seen) {
    SoundCue cue;
    RecordingSounds sounds;
    std::vector<std::vector<std::string>> out;
    for (bool visible : seen) {
        sounds.calls.clear();
        cue.apply(visible, sounds);
        out.push_back(sounds.calls);
    }
    return out;
}

const std::vector<std::string> kPlay = {"play tovarin 0"};
const std::vector<std::string> kStop = {"stop tovarin 0"};
const std::vector<std::string> kNone = {};

constexpr size_t kBufferFrames = 4096;

TEST(SoundCue, FollowsTheMarkerPassByPass) {
    // Unseen at start: a stop every pass. Then a sighting longer than the phrase: one play.
    // A loss of a single frame: stopped, then started again one pass later.
    EXPECT_EQ(passes({false, false, true, true, true, false, true, true}),
              (std::vector<std::vector<std::string>>{kStop, kStop, kPlay, kNone, kNone, kStop,
                                                     kPlay, kNone}));
    // Seen on the very first pass: the phrase starts at once.
    EXPECT_EQ(passes({true, true}), (std::vector<std::vector<std::string>>{kPlay, kNone}));
}

TEST(SoundCue, GoesThroughItsStatesWhateverTheLibraryAnswers) {
    // Every call of the recorder fails, as with a missing phrase file: the calls are the same.
    SoundCue cue;
    RecordingSounds sounds;
    cue.apply(true, sounds);
    EXPECT_TRUE(cue.phraseStarted);
    cue.apply(false, sounds);
    EXPECT_FALSE(cue.phraseStarted);
    EXPECT_EQ(sounds.calls, (std::vector<std::string>{"play tovarin 0", "stop tovarin 0"}));
}

/// Whether anything is heard in each 4096-frame buffer of a capture (22050 Hz, 16-bit stereo).
std::vector<bool> heardPerBuffer(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    const size_t frames = bytes.size() / 4;
    std::vector<bool> heard;
    for (size_t start = 0; start + kBufferFrames <= frames; start += kBufferFrames) {
        int peak = 0;
        for (size_t i = start; i < start + kBufferFrames; ++i) {
            int16_t left;
            std::memcpy(&left, &bytes[i * 4], 2);
            peak = std::max(peak, std::abs(int(left)));
        }
        heard.push_back(peak > 200);
    }
    return heard;
}

/// How many whole buffers the audio device has written so far.
size_t buffersWritten(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    return in ? static_cast<size_t>(in.tellg()) / (kBufferFrames * 4) : 0;
}

TEST(SoundCue, ThePhraseSoundsFromFirstSightUntilTheMarkerIsLost) {
    const std::string capture = ::testing::TempDir() + "quorv_cue_capture.raw";
    std::remove(capture.c_str());
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", capture.c_str(), 1);
    // One buffer every 186 ms, about the pace of a real device.
    setenv("SDL_DISKAUDIODELAY", "186", 1);
    size_t atSight = 0, atLoss = 0, atEnd = 0;
    {
        SoundLibrary library;
        ASSERT_TRUE(
            library.loadSound(SoundCue::kPhraseKey,
                              quorvtest::sourceDirectory() + "/exhibit/sounds_Tovarin/frase.wav"));
        SoundCue cue;
        // Passes of 20 ms: unseen for 1 s, seen for 1.5 s, lost for 1 s. The device's progress
        // at the sighting and at the loss says where in the capture to look, however the
        // device's pace drifts from the wall clock.
        for (int pass = 0; pass < 175; ++pass) {
            if (pass == 50) atSight = buffersWritten(capture);
            if (pass == 125) atLoss = buffersWritten(capture);
            cue.apply(pass >= 50 && pass < 125, library);
            std::this_thread::sleep_for(20ms);
        }
        atEnd = buffersWritten(capture);
    }
    const std::vector<bool> heard = heardPerBuffer(capture);
    ASSERT_GE(heard.size(), atEnd);
    ASSERT_GT(atLoss, atSight + 3) << "the device hardly ran";
    ASSERT_GT(atEnd, atLoss + 3) << "the device hardly ran";
    // A buffer being mixed when a call is made may or may not reflect it; the one after must.
    // (The phrase opens with a short silence of its own, hence one buffer more at the start.)
    for (size_t i = 0; i < atSight; ++i)
        EXPECT_FALSE(heard[i]) << "buffer " << i << " before the sighting";
    bool started = false;
    for (size_t i = atSight; i <= atSight + 3 && i < heard.size(); ++i)
        started = started || heard[i];
    EXPECT_TRUE(started) << "the phrase did not start on sight (buffer " << atSight << ")";
    for (size_t i = atLoss + 2; i < atEnd; ++i)
        EXPECT_FALSE(heard[i]) << "buffer " << i << " after the loss";
}

}  // namespace
