#include "SynthRenderer.h"

#include <gtest/gtest.h>
#include <support/StockCamera.h>

#include <cmath>
#include <opencv2/imgproc.hpp>

namespace quorv {
namespace {

const osgART::CameraParameters kLens = quorvtest::stockCamera(26.2);

SynthScript scene(const MarkerPlacement& at, int grey = 128) {
    SynthScript s;
    s.background = SynthScript::Background::Colour;
    s.backgroundRgb = {grey, grey, grey};
    s.markers.push_back({"patt.test", "", 80, false, -1, {{0, at}}});
    return s;
}

// A black border, a white pattern area, and a black block filling the pattern's top-left quarter.
cv::Mat cornerBlockMarker() {
    cv::Mat img(400, 400, CV_8UC3, cv::Scalar::all(0));
    img(cv::Rect(100, 100, 200, 200)).setTo(cv::Scalar::all(255));
    img(cv::Rect(100, 100, 100, 100)).setTo(cv::Scalar::all(0));
    return img;
}

TEST(SynthRenderer, TruthCornersFollowThePinholeModelAndTheLensAndSayWhatIsInView) {
    const FrameTruth::Marker m =
        SynthRenderer(scene({{30, -20, 400}}), kLens, {cornerBlockMarker()}, {})
            .truth(0)
            .markers.at(0);
    EXPECT_TRUE(m.inView && m.fullyInView);
    EXPECT_NEAR(m.tiltDeg, std::acos(400 / std::sqrt(30.0 * 30 + 20 * 20 + 400 * 400)) * 180 / M_PI,
                1e-9);
    EXPECT_NEAR(m.widthPx, 80 * 713 / 400.0, 3.0);
    // Facing the camera: UL is at marker (-40, +40), i.e. camera (-10, -60, 400).
    const double model[4][2] = {{-10, -60}, {70, -60}, {70, 20}, {-10, 20}};
    for (int i = 0; i < 4; ++i) {
        double ix, iy;
        kLens.idealFromObserved(m.corners[i][0], m.corners[i][1], ix, iy);
        EXPECT_NEAR(ix, 700.95147 * model[i][0] / 400 + 316.5, 1e-6) << "corner " << i;
        EXPECT_NEAR(iy, 726.09418 * model[i][1] / 400 + 241.5, 1e-6) << "corner " << i;
        EXPECT_GT(std::hypot(ix - m.corners[i][0], iy - m.corners[i][1]), 0.3)
            << "moved by the lens";
    }
    // Hidden: not reported; across the border, behind the camera, outside: not (fully) in view.
    const std::pair<MarkerPlacement, int> cases[] = {{{{0, 0, 500}, 0, 0, 0, false}, -1},
                                                     {{{230, 0, 500}}, 1},
                                                     {{{900, 0, 500}}, 0},
                                                     {{{0, 0, -500}}, 0}};
    for (const auto& [at, inView] : cases) {
        const FrameTruth t = SynthRenderer(scene(at), kLens, {cornerBlockMarker()}, {}).truth(0);
        ASSERT_EQ(t.markers.size(), inView < 0 ? 0u : 1u);
        EXPECT_TRUE(inView < 0 ||
                    (t.markers[0].inView == bool(inView) && !t.markers[0].fullyInView));
    }
}

TEST(SynthRenderer, DrawnMarkerCoversTheTruthsQuadrilateralTopLeftFirst) {
    // An all-black marker on white, no paper margin: its darkness is the area it covers, centred
    // where the truth's corners say. Then the turned corner block marker: the block is at the
    // truth's first corner, which roll turns counter-clockwise on screen.
    for (const auto& camera : {quorvtest::stockCamera(), kLens}) {
        SynthScript s = scene({{-25, 15, 450}, 23, -20, 35}, 255);
        s.markers[0].marginMm = 0;
        const SynthRenderer r(s, camera, {cv::Mat(256, 256, CV_8UC3, cv::Scalar::all(0))}, {});
        cv::Mat dark;
        cv::cvtColor(r.render(0), dark, cv::COLOR_BGR2GRAY);
        dark.convertTo(dark, CV_64F, -1 / 255.0, 1.0);
        const cv::Moments drawn = cv::moments(dark);
        std::vector<cv::Point2f> quad;
        for (const auto& c : r.truth(0).markers[0].corners) quad.emplace_back(c[0], c[1]);
        const cv::Moments truth = cv::moments(quad);
        EXPECT_NEAR(drawn.m00, truth.m00, 0.002 * truth.m00);
        EXPECT_NEAR(drawn.m10 / drawn.m00, truth.m10 / truth.m00, 0.05);
        EXPECT_NEAR(drawn.m01 / drawn.m00, truth.m01 / truth.m00, 0.05);
    }
    for (double roll : {0.0, 90.0, 180.0, 270.0}) {
        const SynthRenderer r(scene({{0, 0, 300}, roll}), kLens, {cornerBlockMarker()}, {});
        const auto c = r.truth(0).markers[0].corners;
        const double cx = (c[0][0] + c[2][0]) / 2, cy = (c[0][1] + c[2][1]) / 2;
        EXPECT_NEAR(
            std::remainder(std::atan2(cy - c[0][1], c[0][0] - cx) * 180 / M_PI - 135 - roll, 360),
            0, 5);
        cv::Mat grey;
        cv::cvtColor(r.render(0), grey, cv::COLOR_BGR2GRAY);
        for (int k = 0; k < 4; ++k)  // inside the pattern, towards each corner
            EXPECT_EQ(grey.at<uchar>(
                          cv::Point(cx + 0.3 * (c[k][0] - cx), cy + 0.3 * (c[k][1] - cy))) < 128,
                      k == 0)
                << "roll " << roll << ", corner " << k;
    }
}

TEST(SynthRenderer, EffectsAndClutterAreSeededRepeatableAndOfTheAskedStrength) {
    SynthScript s = scene({{0, 0, 500}, 0, 0, 0, false});
    const SynthRenderer clean(s, kLens, {cornerBlockMarker()}, {});
    s.effects.noiseSigma = 3.0;
    const SynthRenderer noisy(s, kLens, {cornerBlockMarker()}, {});
    const cv::Mat a = noisy.render(5);
    EXPECT_EQ(cv::norm(a, noisy.render(5), cv::NORM_INF), 0.0);  // same frame, same noise
    EXPECT_GT(cv::norm(a, noisy.render(6), cv::NORM_INF), 0.0);  // next frame, new noise
    cv::Mat diff;
    cv::subtract(a, clean.render(5), diff, cv::noArray(), CV_32F);
    cv::Scalar mean, sd;
    cv::meanStdDev(diff.reshape(1), mean, sd);
    EXPECT_NEAR(sd[0], 3.0, 0.15);
    EXPECT_NEAR(mean[0], 0.0, 0.1);
    s.effects = {0.4, 0};  // light falls off to the right, to 60 %
    const cv::Mat lit = SynthRenderer(s, kLens, {cornerBlockMarker()}, {}).render(0);
    EXPECT_NEAR(lit.at<cv::Vec3b>(240, 0)[1], 128, 1.0);
    EXPECT_NEAR(lit.at<cv::Vec3b>(240, 639)[1], 128 * 0.6, 1.0);

    SynthScript cluttered;
    cluttered.clutter = {20, 4};
    const SynthRenderer r(cluttered, kLens, {}, {});
    const cv::Mat f0 = r.render(0),
                  background = SynthRenderer(SynthScript(), kLens, {}, {}).render(0);
    EXPECT_GT(cv::norm(f0, background, cv::NORM_L1) / f0.total(), 1.0);
    EXPECT_EQ(cv::norm(f0, r.render(3), cv::NORM_INF), 0.0);
    EXPECT_GT(cv::norm(f0, r.render(4), cv::NORM_INF), 0.0);
    EXPECT_TRUE(r.truth(2).markers.empty());
    double lowest;  // nothing in the generated background is dark enough for a marker border
    cv::minMaxLoc(background.reshape(1), &lowest);
    EXPECT_GT(lowest, 110);
}

}  // namespace
}  // namespace quorv
