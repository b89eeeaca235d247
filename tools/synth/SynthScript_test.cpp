#include "SynthScript.h"

#include <gtest/gtest.h>

#include <cmath>
#include <opencv2/core.hpp>

namespace quorv {
namespace {

const char* const kScript = R"(# a scene
size 320 240
fps 25
duration 4
calibration cal/camera.dat
background image /abs/room.png
seed 9
noise 2.5     # grey levels
gradient 0.3 90
jpeg 70
clutter 5 10
marker patt.a pics/a.png 120 margin 4
marker patt.b b.png 80 inner
key patt.a 2   10 20 600  90 0 0 hidden
key patt.a 3   10 20 600  90 0 0
key patt.a 0    0  0 400   0 10 -20
key patt.b 1    0  0 500   0 0 0
)";

TEST(SynthScript, ReadsEverySettingAndInterpolatesKeysHoldingTheShownFlag) {
    std::string error;
    auto s = SynthScript::parse(kScript, "/scripts", &error);
    ASSERT_TRUE(s) << error;
    EXPECT_EQ(s->width * 1000 + s->height, 320240);
    EXPECT_EQ(s->frameCount(), 100);
    EXPECT_EQ(s->calibrationPath, "/scripts/cal/camera.dat");
    EXPECT_EQ(s->backgroundImage, "/abs/room.png");
    EXPECT_EQ(s->seed, 9u);
    EXPECT_EQ(s->effects.noiseSigma + s->effects.gradient * 10 + s->effects.gradientAngle, 95.5);
    EXPECT_EQ(s->effects.jpegQuality * 100 + s->clutter.count * 10 + s->clutter.period, 7060);
    ASSERT_EQ(s->markers.size(), 2u);
    const ScriptMarker& a = s->markers[0];
    EXPECT_EQ(a.imagePath, "/scripts/pics/a.png");
    EXPECT_EQ(a.margin(), 4.0);
    EXPECT_EQ(s->markers[1].margin(), 10.0);  // width / 8 unless given
    EXPECT_TRUE(s->markers[1].innerOnly);
    // Keys in time order; linear between them; shown or hidden from a key until the next; the
    // first and last held before and after.
    const MarkerPlacement mid = a.placementAt(1.0);
    EXPECT_EQ(
        cv::Vec6d(mid.position[0], mid.position[1], mid.position[2], mid.roll, mid.pitch, mid.yaw),
        cv::Vec6d(5, 10, 500, 45, 5, -10));
    EXPECT_TRUE(mid.shown && a.placementAt(1.999).shown);
    EXPECT_FALSE(a.placementAt(2.0).shown || a.placementAt(2.9).shown);
    EXPECT_TRUE(a.placementAt(3.0).shown);
    EXPECT_EQ(a.placementAt(-1).position[2], 400.0);
    EXPECT_EQ(a.placementAt(99).position[2], 600.0);
    EXPECT_FALSE(ScriptMarker().placementAt(0).shown);
}

TEST(SynthScript, RejectsBadLinesNamingTheLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"size 640\n", "line 1: size"},
        {"fps 30\nframerate 30\n", "line 2: unknown command 'framerate'"},
        {"key patt.x 0 0 0 500 0 0 0\n", "line 1: key for undeclared marker 'patt.x'"},
        {"marker m a.png 80\nkey m 0 0 0 500 0 0 0 maybe\n", "line 2: key flag"},
        {"marker m a.png 80\nmarker m b.png 80\n", "line 2: marker 'm' declared twice"},
        {"noise 2 3\n", "line 1: unexpected text"},
        {"gradient 1.5\n", "line 1: gradient"},
        {"marker m a.png 8O\n", "line 1: marker wants"}};
    for (const auto& [text, expected] : cases) {
        std::string error;
        EXPECT_FALSE(SynthScript::parse(text, "", &error)) << text;
        EXPECT_EQ(error.rfind(expected, 0), 0u) << text << " gave: " << error;
    }
}

TEST(MarkerPlacement, AnglesTurnTheMarkerTheDocumentedWays) {
    // Where a placement puts a marker-frame point, minus the marker's centre.
    auto move = [](const MarkerPlacement& p, double x, double y, double z) {
        const auto m = p.cameraFromMarker();
        return cv::Vec3d(m[0] * x + m[1] * y + m[2] * z, m[4] * x + m[5] * y + m[6] * z,
                         m[8] * x + m[9] * y + m[10] * z);
    };
    const double s = std::sqrt(0.5);
    // Upright and facing: up is screen up (camera -y), the face looks at the camera (-z). Roll
    // 90: its right points up the screen. Yaw 45: its right side goes away. Pitch 45: its upper
    // side comes closer.
    EXPECT_LT(cv::norm(move({}, 0, 1, 1) - cv::Vec3d(0, -1, -1)), 1e-12);
    EXPECT_LT(cv::norm(move({{}, 90}, 1, 0, 0) - cv::Vec3d(0, -1, 0)), 1e-12);
    EXPECT_LT(cv::norm(move({{}, 0, 0, 45}, 1, 0, 0) - cv::Vec3d(s, 0, s)), 1e-12);
    EXPECT_LT(cv::norm(move({{}, 0, 45}, 0, 1, 0) - cv::Vec3d(0, -s, -s)), 1e-12);
    // Any combination is a proper rotation.
    const auto m = MarkerPlacement{{}, 37, -61, 112}.cameraFromMarker();
    const cv::Matx33d r(m[0], m[1], m[2], m[4], m[5], m[6], m[8], m[9], m[10]);
    EXPECT_NEAR(cv::determinant(r), 1.0, 1e-12);
    EXPECT_LT(cv::norm(r.t() * r - cv::Matx33d::eye()), 1e-12);
}

}  // namespace
}  // namespace quorv
