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
        for (const auto& c : r.truth(0).markers[0].corners) quad.emplace_back(c[0], c[1]);
        const cv::Moments truth = cv::moments(quad);
        EXPECT_NEAR(drawn.m00, truth.m00, 0.002 * truth.m00);
        EXPECT_NEAR(drawn.m10 / drawn.m00, truth.m10 / truth.m00, 0.05);
        EXPECT_NEAR(drawn.m01 / drawn.m00, truth.m01 / truth.m00, 0.05);
    }
}

}  // namespace
}  // namespace quorv
