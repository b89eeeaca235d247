// Calibration accuracy on chessboard views rendered by the synthetic camera through known lenses:
// a webcam-like lens in the 176-byte form and the stock camera in the classic 136-byte form.
#include <gtest/gtest.h>
#include <support/StockCamera.h>
#include <synth/SynthRenderer.h>
#include <unistd.h>

#include <opencv2/imgproc.hpp>

#include "Calibrator.h"

namespace {

osgART::CameraParameters webcam() {
    osgART::CameraParameters c;
    c.xsize = 640;
    c.ysize = 480;
    c.model = osgART::CameraParameters::Model::Brown9;
    c.mat = {{{612.0, 0, 327.4, 0}, {0, 608.5, 233.1, 0}, {0, 0, 1, 0}}};
    c.dist = {-0.27, 0.11, 0.0007, -0.0005, 612.0, 608.5, 327.4, 233.1, 1.0};
    return c;
}

/// Where a camera puts the optical axis, and its scale there (pixels per unit of x/z, y/z).
cv::Vec4d axisOf(const osgART::CameraParameters& c) {
    const double h = 1e-4;
    const cv::Point2d p = quorv::pixelOf(c, {0, 0, 1});
    const cv::Point2d dx = quorv::pixelOf(c, {h, 0, 1}) - quorv::pixelOf(c, {-h, 0, 1});
    const cv::Point2d dy = quorv::pixelOf(c, {0, h, 1}) - quorv::pixelOf(c, {0, -h, 1});
    return {dx.x / (2 * h), dy.y / (2 * h), p.x, p.y};
}

TEST(Calibrate, RecoversKnownLensesFromRenderedViews) {
    const struct {
        const char* name;
        osgART::CameraParameters truth;
        bool classicFits;  // the classic model can follow this lens (it has no k2)
    } cases[] = {{"176-byte webcam", webcam(), false},
                 {"136-byte camera", quorvtest::stockCamera(26.2), true}};
    const quorv::Board board{8, 6, 20.0};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // Twenty views spread over a 5 x 4 grid of the picture, the outer ones reaching to within
        // 40 px of its edges, tipped and turned at random.
        quorv::SynthScript script;
        script.width = 640;
        script.height = 480;
        script.fps = 1.0;
        script.duration = 20.0;
        script.background = quorv::SynthScript::Background::Colour;
        script.effects.noiseSigma = 1.0;
        quorv::ScriptMarker m;
        m.name = "board";
        m.boardCols = board.cols;
        m.boardRows = board.rows;
        m.squareMm = board.squareMm;
        m.widthMm = (board.cols + 1) * board.squareMm;
        cv::RNG rng(13);
        for (int i = 0; i < 20; ++i) {
            quorv::Keyframe k;
            k.time = i;
            k.placement.position = {(i % 5 - 2) * 92 + rng.uniform(-5.0, 5.0),
                                    (i / 5 - 1.5) * 87 + rng.uniform(-5.0, 5.0),
                                    rng.uniform(620.0, 680.0)};
            k.placement.roll = rng.uniform(-20.0, 20.0);
            k.placement.pitch = rng.uniform(-30.0, 30.0);
            k.placement.yaw = rng.uniform(-30.0, 30.0);
            m.keys.push_back(k);
        }
        script.markers.push_back(m);
        const quorv::SynthRenderer renderer(script, c.truth, {}, {2});

        quorv::ViewCollector views(board, {640, 480});
        cv::Mat first;
        for (int i = 0; i < 20; ++i) {
            cv::Mat grey;
            cv::cvtColor(renderer.render(i), grey, cv::COLOR_BGR2GRAY);
            if (i == 0) first = grey;
            const auto found = quorv::findBoard(grey, board);
            ASSERT_TRUE(found) << "view " << i;
            EXPECT_EQ(views.offer(*found), quorv::ViewCollector::Outcome::Taken) << "view " << i;
        }
        // The first view again is a repeat; smeared, it is blurred.
        EXPECT_EQ(views.offer(*quorv::findBoard(first, board)),
                  quorv::ViewCollector::Outcome::Duplicate);
        cv::GaussianBlur(first, first, {}, 2.5);
        const auto smeared = quorv::findBoard(first, board);
        EXPECT_TRUE(smeared && views.offer(*smeared) == quorv::ViewCollector::Outcome::Blurred);

        const auto solve = quorv::calibrate(views);
        ASSERT_TRUE(solve);
        // The 176-byte file, and the classic one fitted to the views where it can follow the lens.
        quorv::Calibration refined;
        const osgART::CameraParameters files[2] = {solve->brown9(),
                                                   quorv::fitClassic(*solve, views, &refined)};
        for (int f = 0; f < (c.classicFits ? 2 : 1); ++f) {
            const std::string path = ::testing::TempDir() + "calibrate_" + std::to_string(getpid());
            ASSERT_TRUE(files[f].write(path));
            const auto written = osgART::CameraParameters::read(path);
            std::remove(path.c_str());
            ASSERT_TRUE(written);
            const cv::Vec4d truth = axisOf(c.truth), found = axisOf(*written);
            EXPECT_NEAR(found[0] / truth[0], 1.0, 0.005) << "fx";
            EXPECT_NEAR(found[1] / truth[1], 1.0, 0.005) << "fy";
            EXPECT_NEAR(found[2], truth[2], 2.0) << "principal point x";
            EXPECT_NEAR(found[3], truth[3], 2.0) << "principal point y";
            const double rms = quorv::reprojectionRms(*written, f ? refined : *solve, views);
            EXPECT_LE(rms, 0.3);
            // The written classic lens against the true one over the whole picture, once focal
            // lengths and principal point (held to their own bounds above) are matched.
            const double lensGap = quorv::lensGap(c.truth, *written);
            EXPECT_TRUE(f == 0 || lensGap <= 0.3) << lensGap;
            std::printf(
                "%s, %s file: fx %.2f/%.2f fy %.2f/%.2f centre (%.2f, %.2f)/(%.2f, %.2f) rms "
                "%.3f px; within %.3f px of the true lens, %.3f px with its own focal lengths and "
                "centre\n",
                c.name, f ? "136-byte" : "176-byte", found[0], truth[0], found[1], truth[1],
                found[2], found[3], truth[2], truth[3], rms, quorv::largestGap(c.truth, *written),
                lensGap);
        }
    }
}

}  // namespace
