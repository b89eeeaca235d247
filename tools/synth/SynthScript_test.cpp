#include "SynthScript.h"

#include <gtest/gtest.h>

#include <opencv2/core.hpp>

namespace quorv {
namespace {

TEST(SynthScript, ReadsSettingsAndInterpolatesKeysHoldingTheShownFlagUntilTheNextKey) {
    std::string error;
    const auto s = SynthScript::parse(
        "# a scene\nsize 320 240\nfps 25\nduration 4\ncalibration cal/camera.dat\nnoise 2.5  # "
        "grey levels\nmarker patt.a /abs/a.png 120 margin 4\nmarker patt.b b.png 80 inner\n"
        "key patt.a 2 10 20 600 90 0 0 hidden\nkey patt.a 3 10 20 600 90 0 0\n"
        "key patt.a 0 0 0 400 0 10 -20\n",
        "/scripts", &error);
    ASSERT_TRUE(s) << error;
    EXPECT_EQ(s->width * 1000 + s->height + s->frameCount() * 1e6 + s->effects.noiseSigma,
              100320242.5);
    EXPECT_EQ(
        s->calibrationPath + " " + s->markers.at(0).imagePath + " " + s->markers.at(1).imagePath,
        "/scripts/cal/camera.dat /abs/a.png /scripts/b.png");
    // Margins are an eighth of the width unless given.
    EXPECT_EQ(s->markers[0].margin() * 100 + s->markers[1].margin() + s->markers[1].innerOnly,
              411.0);
    // Keys in time order, linear between them; shown or hidden from a key until the next; the
    // first and last held before and after.
    const ScriptMarker& a = s->markers[0];
    const MarkerPlacement mid = a.placementAt(1.0);
    EXPECT_EQ(cv::Vec6d(mid.position.data()[0], mid.position[1], mid.position[2], mid.roll,
                        mid.pitch, mid.yaw),
              cv::Vec6d(5, 10, 500, 45, 5, -10));
    for (double t : {-1.0, 1.0, 1.999, 2.0, 2.9, 3.0, 99.0})
        EXPECT_EQ(a.placementAt(t).shown, t < 2 || t >= 3) << t;
    EXPECT_EQ(a.placementAt(-1).position[2] + a.placementAt(99).position[2], 1000.0);
    for (const auto& [text, expected] :
         {std::pair{"size 640\n", "line 1: size"},
          {"fps 30\nframerate 30\n", "line 2: unknown command"},
          {"marker m a.png 80\nkey m 0 0 0 500 0 0 0 maybe\n", "line 2: key flag"},
          {"marker m a.png 8O\n", "line 1: marker wants"},
          {"motionblur -1\n", "line 1: motionblur"},
          {"marker m a.png 80\nfinger m 0 1 corner 0 5 20 2\n", "line 2: finger wants"},
          {"marker m a.png 80\nsweep m 2 1 0 0 500 0 0 10 0 0\n", "line 2: sweep wants"}}) {
        EXPECT_FALSE(SynthScript::parse(text, "", &error)) << text;
        EXPECT_EQ(error.rfind(expected, 0), 0u) << text << " gave: " << error;
    }
}

TEST(SynthScript, SweepTiltsLinearlyAboutATurningAxisInTheScreenPlane) {
    const auto s = SynthScript::parse("marker m a.png 80\nsweep m 1 3 0 0 500 0 10 50 30 90\n", "");
    for (const double t : {0.0, 1.5, 2.0, 3.0, 4.0}) {
        const auto p = s->markers.at(0).placementAt(t).cameraFromMarker();
        const double f = std::clamp(t - 1, 0.0, 2.0) / 2, tilt = (10 + 40 * f) * M_PI / 180;
        const double a = (30 + 60 * f) * M_PI / 180, c = std::cos(a), s = std::sin(a);
        EXPECT_NEAR(std::acos(-p[10]), tilt, 1e-9) << t;  // normal to the line of sight
        // The axis stays put; the half on its counter-clockwise side comes towards the camera.
        EXPECT_NEAR(std::hypot(p[0] * c - p[1] * s - c, p[4] * c - p[5] * s - s), 0, 1e-9) << t;
        EXPECT_NEAR(p[8] * s + p[9] * c, -std::sin(tilt), 1e-9) << t;
    }
}

}  // namespace
}  // namespace quorv
