// PassTimes: the distribution of frame-loop pass times over a run of any length, in memory
// that is allocated once, when it is made.
//
// A long run must not grow its own record: a soak of twenty minutes makes over a million
// passes, and keeping each one would add several megabytes to the very memory figure the soak
// is there to watch. Times are counted in bins of 10 µs up to 2 s; anything longer falls in
// the last bin, and the longest time is kept exactly.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

class PassTimes {
public:
    static constexpr double kBinMs = 0.01;
    static constexpr size_t kBins = 200000;  // 2 s

    PassTimes() : _counts(kBins, 0) {}

    void add(double ms) {
        const double bin = ms < 0.0 ? 0.0 : ms / kBinMs;
        ++_counts[bin >= kBins - 1 ? kBins - 1 : static_cast<size_t>(bin)];
        ++_total;
        _longest = std::max(_longest, ms);
    }

    void clear() {
        std::fill(_counts.begin(), _counts.end(), 0);
        _total = 0;
        _longest = 0.0;
    }

    uint64_t count() const { return _total; }
    double longest() const { return _longest; }

    /// The time below which a share `p` (0 to 1) of the passes fell, to the middle of its bin;
    /// 0 when nothing was added. Uses the same rank as sorting every time and taking element
    /// p * (n - 1), rounded.
    double percentile(double p) const {
        if (_total == 0) return 0.0;
        const uint64_t rank = static_cast<uint64_t>(p * static_cast<double>(_total - 1) + 0.5);
        uint64_t seen = 0;
        for (size_t i = 0; i < kBins; ++i) {
            seen += _counts[i];
            if (seen > rank) return i == kBins - 1 ? _longest : (static_cast<double>(i) + 0.5) * kBinMs;
        }
        return _longest;
    }

    double median() const { return percentile(0.5); }

private:
    std::vector<uint32_t> _counts;
    uint64_t _total = 0;
    double _longest = 0.0;
};
