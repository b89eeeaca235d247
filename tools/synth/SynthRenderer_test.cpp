#include "SynthRenderer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <opencv2/imgproc.hpp>

namespace quorv {
namespace {

// The classic toolkit's stock 640x480 webcam: pinhole plus its single radial factor.
osgART::CameraParameters stockCamera() {
    osgART::CameraParameters c;
    c.xsize = 640;
    c.ysize = 480;
    c.mat = {{{700.95147, 0, 316.5, 0}, {0, 726.09418, 241.5, 0}, {0, 0, 1, 0}}};
    c.model = osgART::CameraParameters::Model::Radial4;
    c.dist = {318.5, 263.5, 26.2, 1.012757};
    return c;
}

SynthScript oneMarkerScene(const MarkerPlacement& placement, double width = 80.0) {
    SynthScript s;
    s.duration = 1.0;
    s.background = SynthScript::Background::Colour;
    s.backgroundRgb = {128, 128, 128};
    ScriptMarker m;
    m.name = "patt.test";
    m.widthMm = width;
    m.keys.push_back({0.0, placement});
    s.markers.push_back(m);
    return s;
}

// A marker with a black border, a white pattern area, and a black block filling the pattern's
// top-left quarter: nothing else about it is symmetric.
cv::Mat cornerBlockMarker(int side = 400) {
    cv::Mat img(side, side, CV_8UC3, cv::Scalar::all(0));
    img(cv::Rect(side / 4, side / 4, side / 2, side / 2)).setTo(cv::Scalar::all(255));
    img(cv::Rect(side / 4, side / 4, side / 4, side / 4)).setTo(cv::Scalar::all(0));
    return img;
}

double grey(const cv::Mat& frame, double u, double v) {
    // Bilinear read of the BGR mean, positions in the pixel-centre convention.
    cv::Mat g;
    cv::cvtColor(frame, g, cv::COLOR_BGR2GRAY);
    cv::Mat patch;
    cv::getRectSubPix(g, cv::Size(1, 1), cv::Point2f(float(u), float(v)), patch, CV_32F);
    return patch.at<float>(0, 0);
}

TEST(SynthRenderer, TruthCornersFollowThePinholeModelAndTheLens) {
    const auto camera = stockCamera();
    MarkerPlacement p;
    p.position = {30, -20, 400};
    SynthRenderer r(oneMarkerScene(p), camera, {cornerBlockMarker()}, {});
    const FrameTruth t = r.truth(0);
    ASSERT_EQ(t.markers.size(), 1u);
    const auto& m = t.markers[0];
    EXPECT_TRUE(m.inView);
    EXPECT_TRUE(m.fullyInView);
    EXPECT_NEAR(m.tiltDeg, std::acos(400 / std::sqrt(30.0 * 30 + 20 * 20 + 400 * 400)) * 180 / M_PI,
                1e-9);
    // Facing the camera: UL is at marker (−40, +40), i.e. camera (−10, −60, 400).
    const double model[4][2] = {{-10, -60}, {70, -60}, {70, 20}, {-10, 20}};
    for (int i = 0; i < 4; ++i) {
        double ix, iy;
        camera.idealFromObserved(m.corners[i][0], m.corners[i][1], ix, iy);
        EXPECT_NEAR(ix, 700.95147 * model[i][0] / 400 + 316.5, 1e-6) << "corner " << i;
        EXPECT_NEAR(iy, 726.09418 * model[i][1] / 400 + 241.5, 1e-6) << "corner " << i;
    }
    // The lens really moved them: the observed corners are not the ideal ones.
    EXPECT_GT(std::abs(m.corners[0][0] - (700.95147 * -10 / 400 + 316.5)), 0.05);
    EXPECT_NEAR(m.widthPx, 80 * 713 / 400.0, 3.0);
}

TEST(SynthRenderer, ReportsOnlyShownMarkersAndHowMuchOfThemIsInView) {
    const auto camera = stockCamera();
    auto truthAt = [&](std::array<double, 3> position, bool shown) {
        MarkerPlacement p;
        p.position = position;
        p.shown = shown;
        return SynthRenderer(oneMarkerScene(p), camera, {cornerBlockMarker()}, {}).truth(0);
    };
    EXPECT_TRUE(truthAt({0, 0, 500}, false).markers.empty());
    const auto edge = truthAt({230, 0, 500}, true).markers.at(0);  // across the right border
    EXPECT_TRUE(edge.inView);
    EXPECT_FALSE(edge.fullyInView);
    const auto outside = truthAt({900, 0, 500}, true).markers.at(0);
    EXPECT_FALSE(outside.inView);
    const auto behind = truthAt({0, 0, -500}, true).markers.at(0);
    EXPECT_FALSE(behind.inView);
}

TEST(SynthRenderer, DrawnEdgesLieWhereTheTruthSaysAtSubpixelAccuracy) {
    MarkerPlacement p;
    p.position = {-25, 15, 450};
    p.roll = 23;
    p.yaw = 35;
    p.pitch = -20;
    // An all-black marker, no paper margin, on white: a pixel's darkness is exactly the share of
    // it the marker covers, so the dark total across an edge tells where the edge is.
    SynthScript scene = oneMarkerScene(p);
    scene.backgroundRgb = {255, 255, 255};
    scene.markers[0].marginMm = 0;
    cv::Mat black(256, 256, CV_8UC3, cv::Scalar::all(0));
    // Worst error allowed per supersampling: a pixel on the edge gets one of s² coverage levels.
    for (const auto& [samples, tolerance] : {std::pair{3, 0.1}, std::pair{4, 0.05}}) {
        SynthRenderer::Options options;
        options.supersampling = samples;
        SynthRenderer r(scene, stockCamera(), {black}, options);
        cv::Mat grey;
        cv::cvtColor(r.render(0), grey, cv::COLOR_BGR2GRAY);
        const auto pose = p.cameraFromMarker();
        // Image position of a point on the marker plane (mm).
        auto image = [&](double x, double y) {
            double u = 0, v = 0;
            EXPECT_TRUE(
                r.project({pose[0] * x + pose[1] * y + pose[3], pose[4] * x + pose[5] * y + pose[7],
                           pose[8] * x + pose[9] * y + pose[11]},
                          u, v));
            return cv::Point2d(u, v);
        };
        const cv::Point2d corners[5] = {{-40, 40}, {40, 40}, {40, -40}, {-40, -40}, {-40, 40}};
        int checked = 0;
        double bias = 0;
        for (int side = 0; side < 4; ++side) {
            const cv::Point2d a = corners[side], b = corners[side + 1];
            const cv::Point2d ia = image(a.x, a.y), ib = image(b.x, b.y);
            const bool across = std::abs(ib.x - ia.x) > std::abs(ib.y - ia.y);  // scan columns
            for (double f = 0.15; f < 0.9; f += 0.05) {
                // The pixel line (column or row) through this point of the side, and exactly where
                // the lens puts the side on it.
                const cv::Point2d approx = image(a.x + f * (b.x - a.x), a.y + f * (b.y - a.y));
                const int line = static_cast<int>(std::lround(across ? approx.x : approx.y));
                double lo = 0, hi = 1;
                const double sign = across ? (ib.x > ia.x ? 1 : -1) : (ib.y > ia.y ? 1 : -1);
                for (int i = 0; i < 50; ++i) {
                    const double mid = (lo + hi) / 2;
                    const cv::Point2d q = image(a.x + mid * (b.x - a.x), a.y + mid * (b.y - a.y));
                    ((across ? q.x : q.y) * sign < line * sign ? lo : hi) = mid;
                }
                const cv::Point2d onEdge = image(a.x + lo * (b.x - a.x), a.y + lo * (b.y - a.y));
                const double truth = across ? onEdge.y : onEdge.x;
                // Which way is the inside? Towards the marker's centre.
                const cv::Point2d centre = image(0, 0);
                const bool insideAfter = (across ? centre.y : centre.x) > truth;
                const int from = static_cast<int>(std::floor(truth)) - 6, to = from + 13;
                double dark = 0;
                for (int k = from; k <= to; ++k)
                    dark += (255.0 - (across ? grey.at<uchar>(k, line) : grey.at<uchar>(line, k))) /
                            255;
                const double found = insideAfter ? to + 0.5 - dark : from - 0.5 + dark;
                EXPECT_NEAR(found, truth, tolerance) << samples << ": side " << side << " at " << f;
                bias += found - truth;
                ++checked;
            }
        }
        EXPECT_EQ(checked, 4 * 15);
        EXPECT_NEAR(bias / checked, 0.0, 0.01)
            << "edges shifted on average, supersampling " << samples;
    }
}

TEST(SynthRenderer, ImageRowZeroIsTheMarkersTopAndRollTurnsItCounterClockwise) {
    // Pattern quarters in marker coordinates (mm, width 80): centres at (±10, ±10).
    for (double roll : {0.0, 90.0, 180.0, 270.0}) {
        MarkerPlacement p;
        p.position = {0, 0, 300};
        p.roll = roll;
        SynthRenderer r(oneMarkerScene(p), stockCamera(), {cornerBlockMarker()}, {});
        const cv::Mat frame = r.render(0);
        const auto pose = p.cameraFromMarker();
        for (int qx : {-1, 1})
            for (int qy : {-1, 1}) {
                const double x = 10.0 * qx, y = 10.0 * qy;
                double u, v;
                ASSERT_TRUE(r.project(
                    {pose[0] * x + pose[1] * y + pose[3], pose[4] * x + pose[5] * y + pose[7],
                     pose[8] * x + pose[9] * y + pose[11]},
                    u, v));
                const bool blockHere = qx < 0 && qy > 0;  // top-left of the upright pattern
                EXPECT_EQ(grey(frame, u, v) < 128, blockHere) << "roll " << roll;
            }
        // And the UL corner of the truth is where the block's corner of the square is.
        const auto ul = r.truth(0).markers.at(0).corners[0];
        const double cx = (r.truth(0).markers[0].corners[2][0] + ul[0]) / 2;
        const double cy = (r.truth(0).markers[0].corners[2][1] + ul[1]) / 2;
        const double angle = std::atan2(-(ul[1] - cy), ul[0] - cx) * 180 / M_PI;  // screen, y up
        EXPECT_NEAR(std::remainder(angle - (135 + roll), 360), 0, 5.0) << "roll " << roll;
    }
}

TEST(SynthRenderer, EffectsAreSeededRepeatableAndOfTheAskedStrength) {
    MarkerPlacement p;
    p.shown = false;
    SynthScript s = oneMarkerScene(p);
    const SynthRenderer clean(s, stockCamera(), {cornerBlockMarker()}, {});
    s.effects.noiseSigma = 3.0;
    const SynthRenderer noisy(s, stockCamera(), {cornerBlockMarker()}, {});
    const cv::Mat a = noisy.render(5);
    EXPECT_EQ(cv::norm(a, noisy.render(5), cv::NORM_INF), 0.0);  // same frame, same noise
    EXPECT_GT(cv::norm(a, noisy.render(6), cv::NORM_INF), 0.0);  // next frame, new noise
    cv::Mat diff;
    cv::subtract(a, clean.render(5), diff, cv::noArray(), CV_32F);
    cv::Scalar mean, sd;
    cv::meanStdDev(diff.reshape(1), mean, sd);
    EXPECT_NEAR(sd[0], 3.0, 0.15);
    EXPECT_NEAR(mean[0], 0.0, 0.1);

    s.effects.noiseSigma = 0;
    s.effects.gradient = 0.4;
    s.effects.gradientAngle = 0;  // light falls off to the right
    const cv::Mat lit = SynthRenderer(s, stockCamera(), {cornerBlockMarker()}, {}).render(0);
    EXPECT_NEAR(grey(lit, 0, 240), 128, 1.0);
    EXPECT_NEAR(grey(lit, 639, 240), 128 * 0.6, 1.0);
    EXPECT_NEAR(grey(lit, 0, 0), grey(lit, 0, 479), 0.5);
}

TEST(SynthRenderer, ClutterChangesOnlyEveryPeriodAndNeverReportsMarkers) {
    SynthScript s;
    s.duration = 1;
    s.clutter = {20, 4};
    s.seed = 3;
    const SynthRenderer r(s, stockCamera(), {}, {});
    SynthScript plain = s;
    plain.clutter.count = 0;
    const cv::Mat background = SynthRenderer(plain, stockCamera(), {}, {}).render(0);
    const cv::Mat f0 = r.render(0);
    EXPECT_GT(cv::norm(f0, background, cv::NORM_L1) / f0.total(), 1.0);
    EXPECT_EQ(cv::norm(f0, r.render(3), cv::NORM_INF), 0.0);
    EXPECT_GT(cv::norm(f0, r.render(4), cv::NORM_INF), 0.0);
    EXPECT_TRUE(r.truth(2).markers.empty());
    // The generated background itself has nothing dark enough to pass for a marker border.
    double lowest;
    cv::Mat g;
    cv::cvtColor(background, g, cv::COLOR_BGR2GRAY);
    cv::minMaxLoc(g, &lowest);
    EXPECT_GT(lowest, 110);
}

}  // namespace
}  // namespace quorv
