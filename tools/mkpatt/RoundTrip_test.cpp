// A marker made with the marker maker, rendered by the synthetic camera at four quarter turns,
// sampled back and matched against its own pattern file.
#include <gtest/gtest.h>
#include <synth/SynthRenderer.h>

#include <cstdio>
#include <opencv2/imgproc.hpp>

#include "PatternCorrelation.h"
#include "PatternSampler.h"
#include "PrintableMarker.h"

namespace quorv {
namespace {

osgART::CameraParameters stockCamera() {
    osgART::CameraParameters c;
    c.xsize = 640;
    c.ysize = 480;
    c.mat = {{{700.95147, 0, 316.5, 0}, {0, 726.09418, 241.5, 0}, {0, 0, 1, 0}}};
    c.dist = {318.5, 263.5, 26.2, 1.012757};
    return c;
}

// The best block of `pattern` for a sample, and its correlation.
std::pair<int, double> bestBlock(const markers::Pattern& pattern, const markers::PatternImage& s) {
    std::pair<int, double> best{-1, -2.0};
    for (int k = 0; k < 4; ++k) {
        const double c = patternCorrelation(s, pattern.block(k));
        if (c > best.second) best = {k, c};
    }
    return best;
}

// The marker seen through `corners` (image positions of the four outer corners, first one mapped
// to the top-left), straightened and sampled as a whole marker.
markers::PatternImage sampleQuad(const cv::Mat& frame, const std::array<cv::Point2f, 4>& corners) {
    const float s = 256;
    const cv::Point2f square[4] = {
        {-0.5f, -0.5f}, {s - 0.5f, -0.5f}, {s - 0.5f, s - 0.5f}, {-0.5f, s - 0.5f}};
    const cv::Mat h = cv::getPerspectiveTransform(corners.data(), square);
    cv::Mat flat;
    cv::warpPerspective(frame, flat, h, cv::Size(int(s), int(s)), cv::INTER_LINEAR);
    return PatternSampler().sample(flat);
}

TEST(MarkerRoundTrip, RenderedQuarterTurnsMatchThePatternFileInTheRightOrientation) {
    // Make the marker and its pattern file as exhibit staff would.
    cv::Mat artwork(16, 16, CV_8UC3);
    cv::RNG(11).fill(artwork, cv::RNG::UNIFORM, 0, 2);
    artwork *= 255;
    PrintableMarker::Options print;
    print.widthMm = 80;
    print.dpi = 150;
    print.pixelArt = true;
    const cv::Mat marker = PrintableMarker(print).make(artwork);
    const std::string path = ::testing::TempDir() + "roundtrip_test.patt";
    ASSERT_TRUE(markers::Pattern::fromUpright(PatternSampler().sample(marker)).save(path));
    const auto pattern = markers::Pattern::load(path);
    std::remove(path.c_str());
    ASSERT_TRUE(pattern);

    for (int k = 0; k < 4; ++k) {
        SynthScript scene;
        scene.seed = 5;
        ScriptMarker m;
        m.name = "patt.roundtrip";
        m.widthMm = 80;
        Keyframe key;
        key.placement.position = {15, -10, 380};
        key.placement.roll = 90.0 * k;
        key.placement.pitch = 12;
        key.placement.yaw = -9;
        m.keys.push_back(key);
        scene.markers.push_back(m);
        scene.effects.noiseSigma = 2;
        const SynthRenderer r(scene, stockCamera(), {marker}, {});
        const cv::Mat frame = r.render(0);
        const auto truth = r.truth(0).markers.at(0);
        ASSERT_TRUE(truth.fullyInView);

        // Sampled from the truth's UL corner: always the upright pattern.
        std::array<cv::Point2f, 4> ordered;
        for (int i = 0; i < 4; ++i)
            ordered[i] = cv::Point2f(float(truth.corners[i][0]), float(truth.corners[i][1]));
        const auto upright = bestBlock(*pattern, sampleQuad(frame, ordered));
        EXPECT_EQ(upright.first, 0) << "turn " << k;
        EXPECT_GT(upright.second, 0.9) << "turn " << k;

        // Sampled from the top-left corner on screen, as a detector does: block k, since the
        // marker is turned k quarters counter-clockwise.
        int first = 0;
        for (int i = 1; i < 4; ++i)
            if (ordered[i].x + ordered[i].y < ordered[first].x + ordered[first].y) first = i;
        std::array<cv::Point2f, 4> screen;
        for (int i = 0; i < 4; ++i) screen[i] = ordered[(first + i) % 4];
        const auto seen = bestBlock(*pattern, sampleQuad(frame, screen));
        EXPECT_EQ(seen.first, k) << "turn " << k;
        EXPECT_GT(seen.second, 0.9) << "turn " << k;
    }
}

}  // namespace
}  // namespace quorv
