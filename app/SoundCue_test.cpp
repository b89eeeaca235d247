#include "SoundCue.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

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

/// The calls of one pass per character of `seen` ('1': the marker was seen), '-' for none.
std::string passes(const std::string& seen) {
    SoundCue cue;
    RecordingSounds sounds;
    std::string out;
    for (char pass : seen) {
        sounds.calls.clear();
        cue.apply(pass == '1', sounds);
        out += sounds.calls.empty() ? "-" : sounds.calls;
    }
    return out;
}

TEST(SoundCue, StartsThePhraseOncePerSightingAndCutsItInEveryPassWithoutTheMarker) {
    const std::pair<const char*, const char*> cases[] = {
        {"00111011", "SSP--SP-"},  // unseen at first; a long sighting; a loss of one frame
        {"11", "P-"},              // seen from the very first pass
        {"1010", "PSPS"},
    };
    for (const auto& [seen, calls] : cases) EXPECT_EQ(passes(seen), calls) << seen;
}

}  // namespace
