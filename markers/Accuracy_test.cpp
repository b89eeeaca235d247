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

struct ScenePattern {
    std::string name;  ///< pattern file name, also the marker's name in the truth
    std::string patt;  ///< pattern file
    cv::Mat picture;   ///< the whole marker, or (inner) only its pattern
    bool inner;
    double width;  ///< mm
};

class TrackerAccuracyTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        _camera =
            *osgART::CameraParameters::read(quorvtest::testDataPath("camera_para_640x480_v4.dat"));
        // Hiro as 16x16 pixel art of its upright block, 80 mm; the exhibit's three markers from
        // their artwork, 120 mm as in the exhibit.
        const std::string hiro = quorvtest::testDataPath("patt.hiro");
        cv::Mat art(16, 16, CV_8UC3);
        const PatternImage upright = Pattern::load(hiro)->block(0);
        art.forEach<cv::Vec3b>([&](cv::Vec3b& px, const int* at) {
            for (int p = 0; p < 3; ++p) px[p] = upright.at(p, at[0], at[1]);
        });
        _patterns = {{"patt.hiro", hiro, art, true, 80}};
        const std::string exhibit = quorvtest::sourceDirectory() + "/exhibit/data_Tovarin/";
        for (std::string name : {"tovex", "camara", "roundplay"})
            _patterns.push_back({"patt." + name, exhibit + "patt." + name,
                                 cv::imread(exhibit + name + "-marker.png"), false, 120});
    }

    /// Footage of `script` (settings and keys) with the markers `shown` declared.
    static std::unique_ptr<SynthRenderer> footage(std::string script,
                                                  const std::vector<ScenePattern>& shown) {
        std::vector<cv::Mat> pictures;
        for (const ScenePattern& p : shown) {
            script = "marker " + p.name + " - " + std::to_string(p.width) +
                     (p.inner ? " inner\n" : "\n") + script;
            pictures.insert(pictures.begin(), p.picture);
        }
        std::string error;
        auto parsed = SynthScript::parse("size 640 480\nfps 30\n" + script, "", &error);
        EXPECT_TRUE(parsed) << error;
        return std::make_unique<SynthRenderer>(*parsed, _camera, pictures,
                                               SynthRenderer::Options());
    }

    /// A tracker with every pattern loaded as a single marker, in _patterns order.
    static MarkerTracker tracker() {
        MarkerTracker tracker;
        tracker.setCamera(_camera);
        for (const ScenePattern& p : _patterns)
            tracker.addSingle(tracker.loadPattern(p.patt), p.width);
        return tracker;
    }

    static inline osgART::CameraParameters _camera;
    static inline std::vector<ScenePattern> _patterns;
};

double percentile(std::vector<double> v, double q) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, size_t(q * v.size()))];
}

double cornerError(const Detection& d, const FrameTruth::Marker& m) {
    double worst = 0;
    for (int i = 0; i < 4; ++i)
        worst = std::max(worst,
                         cv::norm(d.observed[i] - cv::Point2d(m.corners[i][0], m.corners[i][1])));
    return worst;
}

TEST_F(TrackerAccuracyTest, DetectsIdentifiesAndLocatesMarkersOverRandomPoses) {
    const auto k = _camera.intrinsics();
    int eligible = 0, found = 0, confusions = 0, misplaced = 0, cornerCount = 0;
    double cornerSquares = 0;
    std::vector<double> translationErrors, rotationErrors;
    for (size_t p = 0; p < _patterns.size(); ++p) {
        const ScenePattern& pattern = _patterns[p];
        // Keyframes every half second at random poses: apparent width 24..260 px, any roll,
        // tilts up to about 65 degrees, always in front of the camera.
        std::mt19937 rng(1000 + unsigned(p));
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        std::ostringstream script;
        script << "duration 5\nseed " << 20 + p << "\nnoise 4\n";
        for (int key = 0; key <= 10; ++key) {
            const double widthPx = 24.0 * std::pow(260.0 / 24.0, unit(rng));
            const double z = k.fx * pattern.width / widthPx, half = 0.75 * widthPx + 6;
            const double u = half + unit(rng) * std::max(0.0, 640 - 2 * half);
            const double v = half + unit(rng) * std::max(0.0, 480 - 2 * half);
            script << "key " << pattern.name << " " << key * 0.5 << " " << (u - k.cx) * z / k.fx
                   << " " << (v - k.cy) * z / k.fy << " " << z << " " << unit(rng) * 360 - 180
                   << " " << unit(rng) * 110 - 55 << " " << unit(rng) * 110 - 55 << "\n";
        }
        const auto synth = footage(script.str(), {pattern});
        ASSERT_EQ(synth->script().frameCount(), 150);
        MarkerTracker tracker = this->tracker();
        for (int f = 0; f < 150; ++f) {
            tracker.update(synth->render(f));
            const FrameTruth now = synth->truth(f);
            const FrameTruth::Marker* m = now.markers.empty() ? nullptr : &now.markers[0];
            const Detection* hit = nullptr;
            for (const Detection& d : tracker.lastDetection().detections) {
                if (size_t(d.pattern) != p)
                    ++confusions;
                else if (!m || !m->inView || cornerError(d, *m) > 5.0)
                    ++misplaced;
                else
                    hit = &d;
            }
            if (!m || !m->fullyInView || m->widthPx < 30 || m->tiltDeg > 60) continue;
            ++eligible;
            if (!hit || !tracker.marker(int(p)).valid) continue;
            ++found;
            for (int i = 0; i < 4; ++i, ++cornerCount)
                cornerSquares += std::pow(
                    cv::norm(hit->observed[i] - cv::Point2d(m->corners[i][0], m->corners[i][1])),
                    2);
            if (m->widthPx < 60) continue;
            const Pose truth = quorvtest::truePose(*m),
                       &pose = tracker.marker(int(p)).cameraFromMarker;
            translationErrors.push_back(100.0 * cv::norm(pose.translation - truth.translation) /
                                        cv::norm(truth.translation));
            rotationErrors.push_back(rotationAngleDegrees(pose.rotation, truth.rotation));
            if (rotationErrors.back() > 1.0)
                std::printf("rotation error %.3f deg: %s frame %d, width %.1f px, tilt %.1f deg\n",
                            rotationErrors.back(), pattern.name.c_str(), f, m->widthPx, m->tiltDeg);
        }
    }
    const double rate = eligible ? 100.0 * found / eligible : 0;
    const double cornerRms = cornerCount ? std::sqrt(cornerSquares / cornerCount) : 0;
    const auto& t = translationErrors;
    const auto& r = rotationErrors;
    std::printf(
        "patterns %zu; eligible frames %d, detected %d (%.2f %%); identity confusions %d; "
        "misplaced %d\ncorner RMS %.4f px\npose (width >= 60 px, %zu frames): translation error "
        "%% of distance median %.3f p95 %.3f max %.3f; rotation error deg median %.3f p95 %.3f "
        "max %.3f\n",
        _patterns.size(), eligible, found, rate, confusions, misplaced, cornerRms, t.size(),
        percentile(t, 0.5), percentile(t, 0.95), percentile(t, 1), percentile(r, 0.5),
        percentile(r, 0.95), percentile(r, 1));
    EXPECT_GE(eligible, 200);
    EXPECT_GE(rate, 99.0);
    EXPECT_EQ(confusions, 0);
    EXPECT_EQ(misplaced, 0);
    EXPECT_LE(cornerRms, 0.3);
    ASSERT_FALSE(t.empty());
    EXPECT_LE(percentile(t, 1), 1.0);
    // Nearly face-on markers near 60 px are the weak case: their tilt shows only through
    // perspective, 0.15 px of corner shift per degree at 80 px, so every frame within 1 degree
    // needs corners unbiased to a few hundredths of a pixel.
    EXPECT_LE(percentile(r, 1), 1.0);
}

TEST_F(TrackerAccuracyTest, NoDetectionsInAThousandFramesOfClutter) {
    const auto synth = footage("duration 33.334\nseed 77\nnoise 3\nclutter 40 1\n", {});
    const int frames = synth->script().frameCount();
    ASSERT_GE(frames, 1000);
    MarkerTracker tracker = this->tracker();
    int detections = 0, candidates = 0, tracked = 0;
    double best = 0;
    for (int f = 0; f < frames; ++f) {
        tracker.update(synth->render(f));
        detections += int(tracker.lastDetection().detections.size());
        candidates += tracker.lastDetection().candidates;
        for (int m = 0; m < tracker.markerCount(); ++m) tracked += tracker.marker(m).valid;
        for (const Detection& d : tracker.lastDetection().detections)
            best = std::max(best, d.confidence);
    }
    std::printf(
        "clutter: %d frames, %d candidates; detector matches above 0.5: %d (best confidence "
        "%.3f); markers reported valid: %d\n",
        frames, candidates, detections, best, tracked);
    EXPECT_GT(candidates, 1000);  // the clutter does reach identification
    EXPECT_GT(detections, 0);     // and look-alikes pass the detector's own minimum
    EXPECT_EQ(tracked, 0);
}

TEST_F(TrackerAccuracyTest, StaticMarkerJitterIsATenthOfAPercentOfTheDistance) {
    const ScenePattern& pattern = _patterns.back();
    const int index = int(_patterns.size()) - 1;
    const auto synth =
        footage("duration 3.334\nseed 5\nnoise 2\nkey " + pattern.name + " 0 30 -20 " +
                    std::to_string(6 * pattern.width) + " 15 20 -10\n",
                {pattern});
    MarkerTracker tracker = this->tracker();
    std::vector<cv::Vec3d> metric, drawing;
    for (int f = 0; f < synth->script().frameCount(); ++f) {
        tracker.update(synth->render(f));
        ASSERT_TRUE(tracker.marker(index).valid) << "frame " << f;
        metric.push_back(tracker.marker(index).cameraFromMarker.translation);
        drawing.push_back(tracker.marker(index).drawingCameraFromMarker.translation);
    }
    ASSERT_GE(metric.size(), 100u);
    auto spread = [](const std::vector<cv::Vec3d>& t) {  // % of the distance
        cv::Vec3d mean(0, 0, 0);
        double var = 0;
        for (const auto& v : t) mean += v / double(t.size());
        for (const auto& v : t) var += cv::norm(v - mean, cv::NORM_L2SQR) / t.size();
        return 100.0 * std::sqrt(var) / cv::norm(mean);
    };
    std::printf(
        "static %s at %.0f mm, noise 2: translation std %.4f %% (metric), %.4f %% (drawing) of the "
        "distance\n",
        pattern.name.c_str(), cv::norm(metric[0]), spread(metric), spread(drawing));
    EXPECT_LE(spread(metric), 0.1);
    EXPECT_LE(spread(drawing), 0.1);
}

}  // namespace
}  // namespace quorv::markers
