#pragma once

/// The phrase that greets the visitor: started from its beginning in the first pass of the
/// frame loop in which its marker is seen, not started again while the marker stays in view,
/// and cut off in every pass in which the marker is not seen.
struct SoundCue {
    static constexpr const char* kMarker = "patt.roundplay";
    static constexpr const char* kPhraseKey = "tovarin";

    /// Whether the phrase was asked to start in the current sighting (not whether it sounds).
    bool phraseStarted = false;

    /// One pass: `visible` is whether the marker was seen in the frame just drawn. `Sounds`
    /// is the sound library (anything with its playSound and stopSound).
    template <class Sounds>
    void apply(bool visible, Sounds& sounds) {
        if (visible) {
            if (!phraseStarted) sounds.playSound(kPhraseKey, 0);
            phraseStarted = true;
        } else {
            sounds.stopSound(kPhraseKey, false, 0);
            phraseStarted = false;
        }
    }
};
