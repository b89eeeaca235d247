#include "PatternSampler.h"

#include <gtest/gtest.h>
#include <support/MarkerRenderer.h>

#include <opencv2/imgproc.hpp>

namespace quorv {
namespace {

TEST(PatternSampler, ReadsBackTheTemplateAMarkerWasDrawnFromInEveryLayout) {
    // Random values in every plane, drawn 5 px per cell with a black border, 3 px without.
    markers::PatternImage t;
    cv::RNG rng(7);
    for (auto& v : t.values) v = static_cast<uint8_t>(rng.uniform(0, 256));
    cv::Mat inner, whole, bgra;
    cv::resize(quorvtest::picture(t), inner, {}, 3, 3, cv::INTER_NEAREST);
    cv::resize(quorvtest::picture(t), whole, {}, 5, 5, cv::INTER_NEAREST);
    cv::copyMakeBorder(whole, whole, 40, 40, 40, 40, cv::BORDER_CONSTANT, cv::Scalar::all(0));
    cv::cvtColor(whole, bgra, cv::COLOR_BGR2BGRA);
    EXPECT_EQ(PatternSampler().sample(whole), t);
    EXPECT_EQ(PatternSampler().sample(bgra), t);
    EXPECT_EQ(PatternSampler({PatternSampler::Options::Region::InnerOnly}).sample(inner), t);
    EXPECT_EQ(PatternSampler().sample(cv::Mat(96, 96, CV_8U, cv::Scalar(77))).at(1, 4, 9), 77);
    // A horizontal ramp (value = column) over a marker whose side is no multiple of 4 or 16:
    // each cell's exact area mean is the column at the cell's centre.
    for (int side : {101, 70, 37}) {
        cv::Mat ramp(side, side, CV_8UC3);
        for (int x = 0; x < side; ++x) ramp.col(x).setTo(cv::Scalar::all(x));
        const markers::PatternImage sampled = PatternSampler().sample(ramp);
        for (int c = 0; c < 16; ++c)
            EXPECT_NEAR(sampled.at(1, 3, c), side * 0.25 - 0.5 + (c + 0.5) * side / 32.0,
                        0.5 + 1e-9)
                << side << " cell " << c;
    }
}

}  // namespace
}  // namespace quorv
