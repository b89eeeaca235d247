#include "SynthRenderer.h"

#include <gtest/gtest.h>
#include <support/StockCamera.h>

#include <cmath>
#include <opencv2/imgproc.hpp>

namespace quorv {
namespace {

const osgART::CameraParameters kLens = quorvtest::stockCamera(26.2);

/// An all-black 80 mm marker at `at` on a flat page of `grey`, drawn through `camera`.
SynthRenderer scene(const MarkerPlacement& at, const osgART::CameraParameters& camera = kLens,
                    int grey = 128) {
    SynthScript s;
    s.background = SynthScript::Background::Colour;
    s.backgroundRgb = {grey, grey, grey};
    s.markers.push_back({"patt.test", "", 80, false, 0, {{0, at}}});
    return SynthRenderer(s, camera, {cv::Mat(64, 64, CV_8UC3, cv::Scalar::all(0))}, {});
}

TEST(SynthRenderer, TruthCornersFollowThePinholeModelAndTheLensAndSayWhatIsInView) {
    const FrameTruth::Marker m = scene({{30, -20, 400}}).truth(0).markers.at(0);
    EXPECT_TRUE(m.inView && m.fullyInView);
    EXPECT_NEAR(m.tiltDeg, std::acos(400 / std::sqrt(30.0 * 30 + 20 * 20 + 400 * 400)) * 180 / M_PI,
                1e-9);
    EXPECT_NEAR(m.widthPx, 80 * 713 / 400.0, 3.0);
    // Facing the camera: UL is at marker (-40, +40), i.e. camera (-10, -60, 400).
    for (int i = 0; i < 4; ++i) {
        double ix, iy;
        kLens.idealFromObserved(m.corners[i][0], m.corners[i][1], ix, iy);
        EXPECT_NEAR(ix, 700.95147 * (i % 3 ? 70 : -10) / 400 + 316.5, 1e-6) << "corner " << i;
        EXPECT_NEAR(iy, 726.09418 * (i < 2 ? -60 : 20) / 400 + 241.5, 1e-6) << "corner " << i;
        EXPECT_GT(std::hypot(ix - m.corners[i][0], iy - m.corners[i][1]), 0.3)
            << "moved by the lens";
    }
    // Hidden: not reported; across the border, behind the camera, outside: not (fully) in view.
    for (const auto& [at, inView] :
         {std::pair<MarkerPlacement, int>{{{0, 0, 500}, 0, 0, 0, false}, -1},
          {{{230, 0, 500}}, 1},
          {{{900, 0, 500}}, 0},
          {{{0, 0, -500}}, 0}}) {
        const FrameTruth t = scene(at).truth(0);
        ASSERT_EQ(t.markers.size(), inView < 0 ? 0u : 1u);
        EXPECT_TRUE(inView < 0 ||
                    (t.markers[0].inView == bool(inView) && !t.markers[0].fullyInView));
    }
}

TEST(SynthRenderer, DrawnMarkerCoversTheTruthsQuadrilateral) {
    // On white, without paper margin, the marker's darkness is the area it covers, centred where
    // the truth's corners say.
    for (const auto& camera : {quorvtest::stockCamera(), kLens}) {
        const SynthRenderer r = scene({{-25, 15, 450}, 23, -20, 35}, camera, 255);
        cv::Mat dark;
        cv::cvtColor(r.render(0), dark, cv::COLOR_BGR2GRAY);
        dark.convertTo(dark, CV_64F, -1 / 255.0, 1.0);
        const cv::Moments drawn = cv::moments(dark);
        std::vector<cv::Point2f> quad;
        // A copy of the corners: the truth they come from is a temporary.
        for (auto c : std::array(r.truth(0).markers[0].corners)) quad.emplace_back(c[0], c[1]);
        const cv::Moments truth = cv::moments(quad);
        EXPECT_NEAR(drawn.m00, truth.m00, 0.002 * truth.m00);
        EXPECT_NEAR(drawn.m10 / drawn.m00, truth.m10 / truth.m00, 0.05);
        EXPECT_NEAR(drawn.m01 / drawn.m00, truth.m01 / truth.m00, 0.05);
    }
}

TEST(SynthRenderer, ExposureContrastAndMotionBlurActOnTheWholeFrame) {
    SynthScript s;
    s.background = SynthScript::Background::Colour;
    // Exposure (clipped at 255), then contrast about 128.
    for (const auto& [e, c, grey, expected] : std::vector<std::array<double, 4>>{
             {0.3, 1, 200, 60}, {2, 0.5, 200, 192}, {1, 0.3, 200, 150}, {0.5, 2, 200, 72}}) {
        s.backgroundRgb = {0, int(grey), 0}, s.effects.exposure = e, s.effects.contrast = c;
        EXPECT_EQ(SynthRenderer(s, kLens, {}, {}).render(0).at<cv::Vec3b>(9, 9)[1], expected) << e;
    }
    // A vertical edge smeared along x spreads over the length, with fractions of a pixel:
    // sum |v - step| = LENGTH / 4. Smeared along y it stays sharp.
    cv::Mat edge(240, 320, CV_8UC3, cv::Scalar::all(255));
    edge.colRange(0, 160).setTo(0);
    s = SynthScript{}, s.width = 320, s.height = 240, s.background = SynthScript::Background::Image;
    for (const double len : {4.5, 8.0, 12.0})
        for (const double deg : {0.0, 90.0, 180.0}) {
            s.effects.motionBlur = len, s.effects.motionAngle = deg;
            const cv::Mat row = SynthRenderer(s, kLens, {}, {}, edge).render(0).row(120);
            EXPECT_NEAR(cv::norm(row, edge.row(120), cv::NORM_L1) / 765, deg == 90 ? 0 : len / 4,
                        0.08);
        }
}

TEST(SynthRenderer, ThumbsHideTheirCornerOrSideWhileTheyLieThereAndTheTruthSaysSo) {
    const auto s = *SynthScript::parse(
        "fps 2\nmarker m x 80 margin 0\nkey m 0 0 0 400 0 0 0\n"
        "finger m 0 1 corner 0 8\nfinger m 1 2 corner 2 8 24\n"
        "finger m 2 3 side 1 0.4\n",
        "");
    const SynthRenderer r(s, kLens, {cv::Mat(64, 64, CV_8UC3, cv::Scalar::all(0))}, {});
    // Frame: which corners are hidden, and whether the right side's middle is.
    for (const auto& [frame, corners, side] :
         {std::tuple{0, 1, false}, {2, 4, false}, {4, 0, true}, {6, 0, false}}) {
        const cv::Mat image = r.render(frame);
        const FrameTruth::Marker m = r.truth(frame).markers.at(0);
        const std::string line = r.truth(frame).toJson();
        const auto old = FrameTruth::fromJson(line.substr(0, line.find(",\"covered")) + "}]}");
        EXPECT_EQ(m.covered, corners || side) << frame;
        EXPECT_EQ(FrameTruth::fromJson(line)->toJson(), line);
        EXPECT_TRUE(old && !old->markers[0].covered && !old->markers[0].coveredCorners[0]);
        auto q = [&m](int k) { return cv::Point2d(m.corners[k][0], m.corners[k][1]); };
        auto skin = [&, centre = (q(0) + q(1) + q(2) + q(3)) / 4](cv::Point2d at) {
            const cv::Vec3b px =
                image.at<cv::Vec3b>(at + 3 * (centre - at) / cv::norm(centre - at));
            return px[2] > px[1] + 10 && px[1] > px[0];  // 3 px inwards of `at`
        };
        for (int k = 0; k < 4; ++k)
            EXPECT_EQ(m.coveredCorners[k] * 2 + skin(q(k)), 3 * (corners >> k & 1)) << frame << k;
        EXPECT_EQ(skin((q(1) + q(2)) / 2), side) << frame;
    }
}

}  // namespace
}  // namespace quorv
