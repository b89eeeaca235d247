// Accuracy of the tracker on synthetic camera footage (quorv_synth, fixed seeds): detection
// rate, identity confusions, false detections in clutter, corner and pose error, and jitter on
// a static marker. The measured figures are printed.

#include <gtest/gtest.h>
#include <support/MarkerRenderer.h>
#include <support/Paths.h>

#include <algorithm>
#include <cstdio>
#include <opencv2/imgcodecs.hpp>
#include <random>
#include <sstream>

#include "MarkerTracker.h"

namespace quorv::markers {
namespace {

const osgART::CameraParameters kCamera =
    *osgART::CameraParameters::read(quorvtest::testDataPath("camera_para_640x480_v4.dat"));
const std::string kData = quorvtest::sourceDirectory() + "/exhibit/data_Tovarin/";
// Hiro as 16x16 pixel art of its upright block, 80 mm; the exhibit's three markers from their
// artwork, 120 mm as in the exhibit.
const std::string kNames[] = {"hiro", "tovex", "camara", "roundplay"};
const double kWidth[] = {80, 120, 120, 120};
constexpr int kCount = 4;
std::string patt(int p) {
    return p ? kData + "patt." + kNames[p] : quorvtest::testDataPath("patt.hiro");
}

/// Renders 640x480 footage of `keys` showing marker `shown` (named m; none if -1) and runs a
/// tracker that knows every marker over it; `look` sees the tracker and the truth of each frame.
template <class Look>
int track(const std::string& keys, int shown, Look look) {
    std::string text = "size 640 480\nfps 30\n";
    std::vector<cv::Mat> pictures;
    if (shown >= 0) {
        text += "marker m - " + std::to_string(kWidth[shown]) + (shown ? "\n" : " inner\n");
        pictures.push_back(shown ? cv::imread(kData + kNames[shown] + "-marker.png")
                                 : quorvtest::picture(Pattern::load(patt(0))->block(0)));
    }
    const SynthScript script = SynthScript::parse(text + keys, "").value();
    const SynthRenderer synth(script, kCamera, pictures, {});
    MarkerTracker tracker;
    tracker.setCamera(kCamera);
    for (int p = 0; p < kCount; ++p) tracker.addSingle(tracker.loadPattern(patt(p)), kWidth[p]);
    for (int f = 0; f < script.frameCount(); ++f) {
        tracker.update(synth.render(f));
        look(tracker, synth.truth(f));
    }
    return script.frameCount();
}

double percentile(std::vector<double> v, double q) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, size_t(q * v.size()))];
}

TEST(TrackerAccuracy, DetectsIdentifiesAndLocatesMarkersOverRandomPoses) {
    const auto k = kCamera.intrinsics();
    int eligible = 0, found = 0, confusions = 0, misplaced = 0, corners = 0;
    double cornerSquares = 0;
    std::vector<double> t, r;  // translation error, % of the distance; rotation error, degrees
    for (int p = 0; p < kCount; ++p) {
        // Keyframes every half second at random poses: apparent width 24..260 px, any roll,
        // tilts up to about 65 degrees, always in front of the camera.
        std::mt19937 rng(1000 + p);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        std::ostringstream keys;
        keys << "duration 5\nseed " << 20 + p << "\nnoise 4\n";
        for (int key = 0; key <= 10; ++key) {
            const double widthPx = 24.0 * std::pow(260.0 / 24.0, unit(rng));
            const double z = k.fx * kWidth[p] / widthPx, half = 0.75 * widthPx + 6;
            const double u = half + unit(rng) * std::max(0.0, 640 - 2 * half);
            const double v = half + unit(rng) * std::max(0.0, 480 - 2 * half);
            keys << "key m " << key * 0.5 << " " << (u - k.cx) * z / k.fx << " "
                 << (v - k.cy) * z / k.fy << " " << z << " " << unit(rng) * 360 - 180 << " "
                 << unit(rng) * 110 - 55 << " " << unit(rng) * 110 - 55 << "\n";
        }
        track(keys.str(), p, [&](const MarkerTracker& tracker, const FrameTruth& now) {
            const FrameTruth::Marker* m = now.markers.empty() ? nullptr : &now.markers[0];
            const Detection* hit = nullptr;
            cv::Vec4d error;
            for (const Detection& d : tracker.lastDetection().detections) {
                for (int i = 0; m && i < 4; ++i)
                    error[i] =
                        cv::norm(d.observed[i] - cv::Point2d(m->corners[i][0], m->corners[i][1]));
                if (d.pattern != p)
                    ++confusions;
                else if (!m || !m->inView || cv::norm(error, cv::NORM_INF) > 5.0)
                    ++misplaced;
                else
                    hit = &d;
            }
            if (!m || !m->fullyInView || m->widthPx < 30 || m->tiltDeg > 60) return;
            ++eligible;
            if (!hit || !tracker.marker(p).valid) return;
            ++found;
            cornerSquares += error.dot(error), corners += 4;
            if (m->widthPx < 60) return;
            const Pose truth = Pose::fromMatrix(cv::Matx34d(m->cameraFromMarker.data()));
            const Pose& pose = tracker.marker(p).cameraFromMarker;
            t.push_back(100.0 * cv::norm(pose.translation - truth.translation) /
                        cv::norm(truth.translation));
            r.push_back(rotationAngleDegrees(pose.rotation, truth.rotation));
        });
    }
    std::printf(
        "patterns %d; eligible frames %d, detected %d (%.2f %%); identity confusions %d; "
        "misplaced %d\ncorner RMS %.4f px\npose (width >= 60 px, %zu frames): translation error "
        "%% of distance median %.3f p95 %.3f max %.3f; rotation error deg median %.3f p95 %.3f "
        "max %.3f\n",
        kCount, eligible, found, 100.0 * found / eligible, confusions, misplaced,
        std::sqrt(cornerSquares / corners), t.size(), percentile(t, 0.5), percentile(t, 0.95),
        percentile(t, 1), percentile(r, 0.5), percentile(r, 0.95), percentile(r, 1));
    EXPECT_GE(eligible, 200);
    EXPECT_GE(found, 0.99 * eligible);
    EXPECT_EQ(confusions, 0);
    EXPECT_EQ(misplaced, 0);
    EXPECT_LE(cornerSquares, 0.09 * corners);  // RMS 0.3 px
    ASSERT_FALSE(t.empty());
    EXPECT_LE(percentile(t, 1), 1.0);
    // Nearly face-on markers near 60 px are the weak case: their tilt shows only through
    // perspective, 0.15 px of corner shift per degree at 80 px, so every frame within 1 degree
    // needs corners unbiased to a few hundredths of a pixel.
    EXPECT_LE(percentile(r, 1), 1.0);
}

TEST(TrackerAccuracy, StaticMarkerOverClutterHoldsStillAndNothingElseIsReported) {
    // A thousand frames of clutter, 40 new shapes each, around the last marker standing still.
    const int shown = kCount - 1;
    int detections = 0, candidates = 0, tracked = 0;
    double best = 0;
    std::vector<cv::Vec3d> metric, drawing;
    const int frames =
        track("duration 33.334\nseed 77\nnoise 3\nclutter 40 1\nkey m 0 30 -20 " +
                  std::to_string(6 * kWidth[shown]) + " 15 20 -10\n",
              shown, [&](const MarkerTracker& tracker, const FrameTruth&) {
                  for (const Detection& d : tracker.lastDetection().detections)
                      if (d.pattern != shown) ++detections, best = std::max(best, d.confidence);
                  candidates += tracker.lastDetection().candidates - 1;
                  for (int m = 0; m < shown; ++m) tracked += tracker.marker(m).valid;
                  EXPECT_TRUE(tracker.marker(shown).valid) << "frame " << metric.size();
                  metric.push_back(tracker.marker(shown).cameraFromMarker.translation);
                  drawing.push_back(tracker.marker(shown).drawingCameraFromMarker.translation);
              });
    auto spread = [](const std::vector<cv::Vec3d>& v) {  // std of the translation, % of its mean
        cv::Scalar mean, sd;
        cv::meanStdDev(v, mean, sd);
        return 100.0 * cv::norm(sd) / cv::norm(mean);
    };
    std::printf(
        "clutter: %d frames, %d candidates; detector matches of other patterns above 0.5: "
        "%d (best confidence %.3f); other markers reported valid: %d\nstatic marker at "
        "%.0f mm, noise 3: translation std %.4f %% (metric), %.4f %% (drawing) of the "
        "distance\n",
        frames, candidates, detections, best, tracked, cv::norm(metric[0]), spread(metric),
        spread(drawing));
    EXPECT_GT(candidates, 1000);  // the clutter does reach identification
    EXPECT_GT(detections, 0);     // and look-alikes pass the detector's own minimum
    EXPECT_EQ(tracked, 0);
    EXPECT_LE(spread(metric), 0.1);
    EXPECT_LE(spread(drawing), 0.1);
}

}  // namespace
}  // namespace quorv::markers
