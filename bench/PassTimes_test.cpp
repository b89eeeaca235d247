#include "PassTimes.h"

#include <gtest/gtest.h>

#include <random>

// The binned figures agree with sorting every pass, to within half a bin, on a spread like a
// real frame loop's: mostly about a millisecond, with a long tail, and stalls of seconds beyond
// the last bin, which come out as the longest pass, not clipped to the bins' end.
TEST(PassTimes, PercentilesMatchSortingEveryPassAndClearingStartsAnew) {
    std::mt19937 random(7);
    std::lognormal_distribution<double> typical(0.0, 0.4);
    std::exponential_distribution<double> tail(0.1);
    PassTimes times;
    std::vector<double> kept = {4500.0, 3000.0};
    for (int i = 0; i < 100000; ++i) kept.push_back(i % 50 ? typical(random) : 5.0 + tail(random));
    for (double ms : kept) times.add(ms);
    std::sort(kept.begin(), kept.end());
    for (double p : {0.0, 0.1, 0.5, 0.9, 0.99, 0.999})
        EXPECT_NEAR(times.percentile(p), kept[size_t(p * (kept.size() - 1) + 0.5)],
                    PassTimes::kBinMs / 2)
            << p;
    EXPECT_TRUE(times.count() == kept.size() && times.percentile(1) == 4500 &&
                times.longest() == 4500);
    times.clear();
    EXPECT_EQ(times.count() + times.longest() + times.median(), 0.0);
    times.add(2.0);
    EXPECT_NEAR(times.median(), 2.0, PassTimes::kBinMs);
}
