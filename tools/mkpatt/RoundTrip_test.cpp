// A marker and its pattern file made with quorv-mkpatt, rendered by the synthetic camera at four
// quarter turns, sampled back and matched against the file.
#include <gtest/gtest.h>
#include <support/Paths.h>
#include <support/StockCamera.h>
#include <synth/SynthRenderer.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "PatternCorrelation.h"
#include "PatternSampler.h"

namespace quorv {
namespace {

/// The block of `pattern` that best matches the marker whose outer corners are `corners`
/// (the first mapped to the top-left), straightened and sampled as a whole marker.
int bestBlock(const markers::Pattern& pattern, const cv::Mat& frame, const cv::Point2f* corners) {
    const cv::Point2f square[4] = {
        {-0.5f, -0.5f}, {255.5f, -0.5f}, {255.5f, 255.5f}, {-0.5f, 255.5f}};
    cv::Mat flat;
    cv::warpPerspective(frame, flat, cv::getPerspectiveTransform(corners, square),
                        cv::Size(256, 256));
    const markers::PatternImage sample = PatternSampler().sample(flat);
    int best = 0;
    for (int k = 1; k < 4; ++k)
        if (patternCorrelation(sample, pattern.block(k)) >
            patternCorrelation(sample, pattern.block(best)))
            best = k;
    EXPECT_GT(patternCorrelation(sample, pattern.block(best)), 0.9);
    return best;
}

TEST(MarkerRoundTrip, RenderedQuarterTurnsMatchThePatternFileInTheRightOrientation) {
    // Made as exhibit staff make markers.
    const std::string dir = ::testing::TempDir(), tool = quorvtest::buildPath("quorv-mkpatt");
    cv::Mat art(16, 16, CV_8UC3);
    cv::RNG(11).fill(art, cv::RNG::UNIFORM, 0, 2);
    ASSERT_TRUE(cv::imwrite(dir + "roundtrip-art.png", art * 255));
    ASSERT_EQ(
        std::system((tool + " print " + dir + "roundtrip-art.png -o " + dir +
                     "roundtrip.png --width-mm 80 --dpi 150 --pixel-art && " + tool + " patt " +
                     dir + "roundtrip.png -o " + dir + "patt.roundtrip > /dev/null")
                        .c_str()),
        0);
    const auto pattern = markers::Pattern::load(dir + "patt.roundtrip");
    ASSERT_TRUE(pattern);
    for (int k = 0; k < 4; ++k) {
        SynthScript scene;
        scene.markers.push_back(
            {"patt.roundtrip", "", 80, false, -1, {{0, {{15, -10, 380}, 90.0 * k, 12, -9}}}});
        scene.effects.noiseSigma = 2;
        const SynthRenderer r(scene, quorvtest::stockCamera(26.2),
                              {cv::imread(dir + "roundtrip.png")}, {});
        const auto truth = r.truth(0).markers.at(0);
        ASSERT_TRUE(truth.fullyInView);
        cv::Point2f corners[8];
        for (int i = 0; i < 8; ++i)
            corners[i] = cv::Point2f(truth.corners[i % 4][0], truth.corners[i % 4][1]);
        // From the marker's own top-left corner: the upright block. From the top-left corner on
        // screen, as a detector reads it: block k, as the marker is turned k quarters.
        EXPECT_EQ(bestBlock(*pattern, r.render(0), corners), 0) << "turn " << k;
        int first = 0;
        for (int i = 1; i < 4; ++i)
            if (corners[i].x + corners[i].y < corners[first].x + corners[first].y) first = i;
        EXPECT_EQ(bestBlock(*pattern, r.render(0), corners + first), k) << "turn " << k;
    }
}

}  // namespace
}  // namespace quorv
