#include "SoundCue.h"

#include <SoundLibrary.h>
#include <support/Paths.h>

#include <SDL.h>

#include <gtest/gtest.h>

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

/// Seconds of the capture (22050 Hz, 16-bit stereo) in which anything is heard, in 50 ms steps.
std::vector<bool> heardPer50ms(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    const size_t frames = bytes.size() / 4, step = 22050 / 20;
    std::vector<bool> heard;
    for (size_t start = 0; start + step <= frames; start += step) {
        int peak = 0;
        for (size_t i = start; i < start + step; ++i) {
            int16_t left;
            std::memcpy(&left, &bytes[i * 4], 2);
            peak = std::max(peak, std::abs(int(left)));
        }
        heard.push_back(peak > 200);
    }
    return heard;
}

TEST(SoundCue, ThePhraseSoundsFromFirstSightUntilTheMarkerIsLost) {
    const std::string capture = ::testing::TempDir() + "quorv_cue_capture.raw";
    std::remove(capture.c_str());
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", capture.c_str(), 1);
    // One 4096-frame buffer every 186 ms: the capture keeps pace with the wall clock.
    setenv("SDL_DISKAUDIODELAY", "186", 1);
    {
        SoundLibrary library;
        ASSERT_TRUE(library.loadSound(SoundCue::kPhraseKey,
                                      quorvtest::sourceDirectory() + "/exhibit/sounds_Tovarin/frase.wav"));
        SoundCue cue;
        // Passes of 20 ms: unseen for 1 s, seen for 1.5 s, lost for 1 s.
        for (int pass = 0; pass < 175; ++pass) {
            cue.apply(pass >= 50 && pass < 125, library);
            std::this_thread::sleep_for(20ms);
        }
    }
    const std::vector<bool> heard = heardPer50ms(capture);
    ASSERT_GE(heard.size(), 60u);
    // Silent before the sighting and after the loss (allowing for the device's buffering).
    auto anyHeard = [&](double from, double to) {
        for (size_t i = size_t(from * 20); i < std::min(heard.size(), size_t(to * 20)); ++i)
            if (heard[i]) return true;
        return false;
    };
    EXPECT_FALSE(anyHeard(0.0, 0.8)) << "heard before the marker was seen";
    EXPECT_TRUE(anyHeard(1.3, 2.4)) << "nothing heard while the marker was seen";
    EXPECT_FALSE(anyHeard(2.9, 3.5)) << "still heard after the marker was lost";
}

}  // namespace
