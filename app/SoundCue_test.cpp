#include "SoundCue.h"

#include <gtest/gtest.h>

#include <string>

namespace {

/// Notes the cue's calls: P for playing the phrase from its start once, S for cutting it, the
/// call in full for anything else. Every call fails, as with a missing phrase file, which must
/// not change what the cue asks for.
struct RecordingSounds {
    bool playSound(const std::string& key, int loops) {
        calls += key == "tovarin" && loops == 0 ? "P" : "play " + key + std::to_string(loops);
        return false;
    }
    bool stopSound(const std::string& key, bool restart, int) {
        calls += key == "tovarin" && !restart ? "S" : "stop " + key;
        return false;
    }
    std::string calls;
};

TEST(SoundCue, StartsThePhraseOncePerSightingAndCutsItInEveryPassWithoutTheMarker) {
    // One character per pass ('1': the marker was seen), and the calls made in each ('-': none).
    for (auto [seen, calls] : {std::pair{"00111011", "SSP--SP-"}, {"11", "P-"}, {"1010", "PSPS"}}) {
        SoundCue cue;
        RecordingSounds sounds;
        for (const char* pass = seen; *pass; ++pass) {
            const size_t before = sounds.calls.size();
            cue.apply(*pass == '1', sounds);
            if (sounds.calls.size() == before) sounds.calls += "-";
        }
        EXPECT_EQ(sounds.calls, calls) << seen;
    }
}

}  // namespace
