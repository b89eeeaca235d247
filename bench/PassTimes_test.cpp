#include "PassTimes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

double sortedPercentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[static_cast<size_t>(p * (v.size() - 1) + 0.5)];
}

}  // namespace

// The binned figures must agree with sorting every pass, to within half a bin, on a spread like
// a real frame loop's: mostly about a millisecond, with a long tail.
TEST(PassTimes, PercentilesMatchSortingEveryPass) {
    std::mt19937 random(7);
    std::lognormal_distribution<double> typical(0.0, 0.4);
    std::exponential_distribution<double> tail(0.1);
    std::bernoulli_distribution slow(0.02);
    PassTimes times;
    std::vector<double> kept;
    for (int i = 0; i < 100000; ++i) {
        const double ms = slow(random) ? 5.0 + tail(random) : typical(random);
        times.add(ms);
        kept.push_back(ms);
    }
    ASSERT_EQ(times.count(), kept.size());
    for (double p : {0.0, 0.1, 0.5, 0.9, 0.99, 0.999})
        EXPECT_NEAR(times.percentile(p), sortedPercentile(kept, p), PassTimes::kBinMs / 2) << p;
    EXPECT_DOUBLE_EQ(times.longest(), *std::max_element(kept.begin(), kept.end()));
}

// Passes beyond the last bin (a stall of seconds) are reported as the longest one, not lost or
// clipped to the bins' end; clearing starts a new window.
TEST(PassTimes, StallsAndClearing) {
    PassTimes times;
    EXPECT_EQ(times.median(), 0.0);
    times.add(1.0);
    times.add(4500.0);
    times.add(3000.0);
    EXPECT_DOUBLE_EQ(times.percentile(1.0), 4500.0);
    EXPECT_NEAR(times.percentile(0.0), 1.0, PassTimes::kBinMs);
    EXPECT_DOUBLE_EQ(times.longest(), 4500.0);
    times.clear();
    EXPECT_EQ(times.count(), 0u);
    EXPECT_EQ(times.longest(), 0.0);
    times.add(2.0);
    EXPECT_NEAR(times.median(), 2.0, PassTimes::kBinMs);
}
