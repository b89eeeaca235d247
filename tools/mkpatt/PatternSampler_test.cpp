#include "PatternSampler.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

namespace quorv {
namespace {

using markers::kPatternSize;
using markers::PatternImage;

TEST(PatternSampler, ReadsBackTheTemplateAMarkerWasDrawnFromInEveryLayout) {
    // Random values in every plane, drawn `cell` px per cell, with a black border or without.
    PatternImage t;
    cv::RNG rng(7);
    for (auto& v : t.values) v = static_cast<uint8_t>(rng.uniform(0, 256));
    auto draw = [&](int cell, int border) {
        cv::Mat img(16 * cell + 2 * border, 16 * cell + 2 * border, CV_8UC3, cv::Scalar::all(0));
        for (int i = 0; i < 256; ++i)
            img(cv::Rect(border + i % 16 * cell, border + i / 16 * cell, cell, cell))
                .setTo(cv::Scalar(t.at(0, i / 16, i % 16), t.at(1, i / 16, i % 16),
                                  t.at(2, i / 16, i % 16)));
        return img;
    };
    EXPECT_EQ(PatternSampler().sample(draw(5, 40)), t);
    PatternSampler::Options inner;
    inner.region = PatternSampler::Options::Region::InnerOnly;
    EXPECT_EQ(PatternSampler(inner).sample(draw(3, 0)), t);
    cv::Mat bgra, grey(96, 96, CV_8U, cv::Scalar(77));
    cv::cvtColor(draw(3, 24), bgra, cv::COLOR_BGR2BGRA);
    EXPECT_EQ(PatternSampler().sample(bgra), t);
    EXPECT_EQ(PatternSampler().sample(grey).at(1, 4, 9), 77);
}

TEST(PatternSampler, AveragesPartPixelsByTheirOverlap) {
    // A horizontal ramp (value = column) over a marker whose side is no multiple of 4 or 16:
    // each cell's exact area mean is the column at the cell's centre.
    for (int side : {101, 70, 37}) {
        cv::Mat ramp(side, side, CV_8UC3);
        for (int x = 0; x < side; ++x) ramp.col(x).setTo(cv::Scalar::all(x));
        const PatternImage t = PatternSampler().sample(ramp);
        for (int c = 0; c < kPatternSize; ++c)
            EXPECT_NEAR(t.at(1, 3, c), side * 0.25 - 0.5 + (c + 0.5) * side * 0.5 / kPatternSize,
                        0.5 + 1e-9)
                << side << " cell " << c;
    }
}

}  // namespace
}  // namespace quorv
