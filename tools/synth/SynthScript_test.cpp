#include "SynthScript.h"

#include <gtest/gtest.h>

#include <cmath>

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
blur 0.7
gradient 0.3 90
jpeg 70
clutter 5 10
marker patt.a pics/a.png 120 margin 4
marker patt.b b.png 80 inner
key patt.a 2   10 20 600  90 0 0 hidden
key patt.a 0    0  0 400   0 10 -20
key patt.b 1    0  0 500   0 0 0
)";

TEST(SynthScript, ParsesEverySettingAndResolvesPathsFromTheScriptFolder) {
    std::string error;
    auto s = SynthScript::parse(kScript, "/scripts", &error);
    ASSERT_TRUE(s) << error;
    EXPECT_EQ(s->width, 320);
    EXPECT_EQ(s->height, 240);
    EXPECT_EQ(s->frameCount(), 100);
    EXPECT_EQ(s->calibrationPath, "/scripts/cal/camera.dat");
    EXPECT_EQ(s->background, SynthScript::Background::Image);
    EXPECT_EQ(s->backgroundImage, "/abs/room.png");
    EXPECT_EQ(s->seed, 9u);
    EXPECT_DOUBLE_EQ(s->effects.noiseSigma, 2.5);
    EXPECT_DOUBLE_EQ(s->effects.gradientAngle, 90.0);
    EXPECT_EQ(s->effects.jpegQuality, 70);
    EXPECT_EQ(s->clutter.count, 5);
    EXPECT_EQ(s->clutter.period, 10);
    ASSERT_EQ(s->markers.size(), 2u);
    const ScriptMarker& a = s->markers[0];
    EXPECT_EQ(a.imagePath, "/scripts/pics/a.png");
    EXPECT_DOUBLE_EQ(a.margin(), 4.0);
    EXPECT_DOUBLE_EQ(s->markers[1].margin(), 10.0);  // width / 8 unless given
    EXPECT_TRUE(s->markers[1].innerOnly);
    // Keys are kept in time order whatever order the script gives them in.
    ASSERT_EQ(a.keys.size(), 2u);
    EXPECT_EQ(a.keys[0].time, 0.0);
    EXPECT_FALSE(a.keys[1].placement.shown);
}

TEST(SynthScript, RejectsBadLinesNamingTheLine) {
    const struct {
        const char* text;
        const char* expected;
    } cases[] = {
        {"size 640\n", "line 1: size"},
        {"fps 30\nframerate 30\n", "line 2: unknown command 'framerate'"},
        {"key patt.x 0 0 0 500 0 0 0\n", "line 1: key for undeclared marker 'patt.x'"},
        {"marker m a.png 80\nkey m 0 0 0 500 0 0 0 maybe\n", "line 2: key flag"},
        {"marker m a.png 80\nmarker m b.png 80\n", "line 2: marker 'm' declared twice"},
        {"noise 2 3\n", "line 1: unexpected text"},
        {"gradient 1.5\n", "line 1: gradient"},
        {"marker m a.png 8O\n", "line 1: marker wants"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(SynthScript::parse(c.text, "", &error)) << c.text;
        EXPECT_EQ(error.rfind(c.expected, 0), 0u) << c.text << " gave: " << error;
    }
}

TEST(SynthScript, InterpolatesLinearlyAndHoldsTheShownFlag) {
    auto s = SynthScript::parse(kScript, "");
    ASSERT_TRUE(s);
    const ScriptMarker& a = s->markers[0];
    const MarkerPlacement mid = a.placementAt(1.0);
    EXPECT_DOUBLE_EQ(mid.position[0], 5.0);
    EXPECT_DOUBLE_EQ(mid.position[2], 500.0);
    EXPECT_DOUBLE_EQ(mid.roll, 45.0);
    EXPECT_DOUBLE_EQ(mid.pitch, 5.0);
    EXPECT_DOUBLE_EQ(mid.yaw, -10.0);
    EXPECT_TRUE(mid.shown);  // the flag changes at its key, not before
    EXPECT_TRUE(a.placementAt(1.999).shown);
    EXPECT_FALSE(a.placementAt(2.0).shown);
    // Held before the first key and after the last.
    EXPECT_DOUBLE_EQ(a.placementAt(-1).position[2], 400.0);
    EXPECT_DOUBLE_EQ(a.placementAt(99).position[2], 600.0);
    EXPECT_FALSE(ScriptMarker().placementAt(0).shown);
}

// Camera-frame position of a marker-frame point under a placement.
std::array<double, 3> apply(const MarkerPlacement& p, double x, double y, double z) {
    const auto m = p.cameraFromMarker();
    return {m[0] * x + m[1] * y + m[2] * z + m[3], m[4] * x + m[5] * y + m[6] * z + m[7],
            m[8] * x + m[9] * y + m[10] * z + m[11]};
}

TEST(MarkerPlacement, AnglesTurnTheMarkerTheDocumentedWays) {
    MarkerPlacement p;
    p.position = {10, 20, 500};
    // Facing and upright: marker up is screen up (camera −y), the face looks at the camera.
    auto up = apply(p, 0, 1, 0), normal = apply(p, 0, 0, 1);
    EXPECT_NEAR(up[1], 19.0, 1e-12);
    EXPECT_NEAR(normal[2], 499.0, 1e-12);

    p.roll = 90;  // counter-clockwise on screen: marker right points up the screen
    auto right = apply(p, 1, 0, 0);
    EXPECT_NEAR(right[0], 10.0, 1e-12);
    EXPECT_NEAR(right[1], 19.0, 1e-12);

    p.roll = 0;
    p.yaw = 30;  // right side goes away
    EXPECT_GT(apply(p, 1, 0, 0)[2], 500.0);
    p.yaw = 0;
    p.pitch = 30;  // upper side comes closer
    EXPECT_LT(apply(p, 0, 1, 0)[2], 500.0);

    // Any combination is a proper rotation.
    p = MarkerPlacement{{0, 0, 0}, 37, -61, 112, true};
    const auto m = p.cameraFromMarker();
    const double det = m[0] * (m[5] * m[10] - m[6] * m[9]) - m[1] * (m[4] * m[10] - m[6] * m[8]) +
                       m[2] * (m[4] * m[9] - m[5] * m[8]);
    EXPECT_NEAR(det, 1.0, 1e-12);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            double dot = 0;
            for (int k = 0; k < 3; ++k) dot += m[4 * k + i] * m[4 * k + j];
            EXPECT_NEAR(dot, i == j ? 1.0 : 0.0, 1e-12);
        }
}

}  // namespace
}  // namespace quorv
