#include "PatternSampler.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

namespace quorv {
namespace {

using markers::kPatternSize;
using markers::PatternImage;

PatternImage randomTemplate(unsigned seed) {
    cv::RNG rng(seed);
    PatternImage t;
    for (auto& v : t.values) v = static_cast<uint8_t>(rng.uniform(0, 256));
    return t;
}

// The marker a template describes, `cell` pixels per cell, with a black border (or without).
cv::Mat drawMarker(const PatternImage& t, int cell, bool withBorder) {
    const int inner = kPatternSize * cell, border = withBorder ? inner / 2 : 0;
    cv::Mat img(inner + 2 * border, inner + 2 * border, CV_8UC3, cv::Scalar::all(0));
    for (int r = 0; r < kPatternSize; ++r)
        for (int c = 0; c < kPatternSize; ++c)
            img(cv::Rect(border + c * cell, border + r * cell, cell, cell))
                .setTo(cv::Scalar(t.at(0, r, c), t.at(1, r, c), t.at(2, r, c)));
    return img;
}

TEST(PatternSampler, ReadsBackTheTemplateAMarkerWasDrawnFrom) {
    const PatternImage t = randomTemplate(7);
    EXPECT_EQ(PatternSampler().sample(drawMarker(t, 5, true)), t);
    PatternSampler::Options inner;
    inner.region = PatternSampler::Options::Region::InnerOnly;
    EXPECT_EQ(PatternSampler(inner).sample(drawMarker(t, 3, false)), t);
    // Grey and BGRA images are read as the same colours.
    cv::Mat grey(96, 96, CV_8U, cv::Scalar(77)), bgra;
    cv::cvtColor(drawMarker(t, 3, true), bgra, cv::COLOR_BGR2BGRA);
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
        const double from = side * 0.25 - 0.5, cell = side * 0.5 / kPatternSize;
        for (int c = 0; c < kPatternSize; ++c) {
            const double expected = from + (c + 0.5) * cell;
            EXPECT_NEAR(t.at(1, 3, c), expected, 0.5 + 1e-9) << side << " cell " << c;
        }
    }
}

TEST(PatternSampler, KeepsBlueGreenRedPlanesAndTheUprightOrientation) {
    // White pattern with a red top-left cell and a blue top-right cell.
    PatternImage t;
    t.values.fill(255);
    t.at(0, 0, 0) = 0, t.at(1, 0, 0) = 0;    // red: no blue, no green
    t.at(1, 0, 15) = 0, t.at(2, 0, 15) = 0;  // blue
    cv::Mat img = drawMarker(t, 4, true);
    EXPECT_EQ(img.at<cv::Vec3b>(32, 32), cv::Vec3b(0, 0, 255));  // the picture really is red there
    const PatternImage sampled = PatternSampler().sample(img);
    EXPECT_EQ(sampled.at(2, 0, 0), 255);
    EXPECT_EQ(sampled.at(0, 0, 0), 0);
    EXPECT_EQ(sampled.at(0, 0, 15), 255);
    // The marker turned a quarter counter-clockwise samples as the file's next block.
    cv::Mat turned;
    for (int k = 1; k < 4; ++k) {
        cv::rotate(k == 1 ? img : turned, turned, cv::ROTATE_90_COUNTERCLOCKWISE);
        EXPECT_EQ(PatternSampler().sample(turned), markers::Pattern::fromUpright(sampled).block(k))
            << "turn " << k;
    }
}

}  // namespace
}  // namespace quorv
