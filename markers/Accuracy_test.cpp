// Accuracy of the tracker on quorv-synth footage, generated at test time with fixed seeds into
// the build folder: detection rate, identity confusions, false detections in clutter, corner
// and pose error, and jitter on a static marker. The measured figures are printed.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <opencv2/imgcodecs.hpp>
#include <random>
#include <sstream>

#include <support/JsonValue.h>
#include <support/MarkerRenderer.h>
#include "MarkerTracker.h"
#include <support/StockCamera.h>
#include <support/Paths.h>

namespace quorv::markers {
namespace {

using testing::JsonValue;

struct ScenePattern {
    std::string name;     ///< the pattern file's name, also the marker name in the truth
    std::string patt;     ///< pattern file
    std::string picture;  ///< marker picture for quorv-synth
    bool inner = false;   ///< the picture is the pattern only (synth adds the border)
    double width = 80;    ///< mm
};

std::string run(const std::string& command) {
    const int status = std::system((command + " > /dev/null 2>&1").c_str());
    return status == 0 ? std::string()
                       : "command failed (" + std::to_string(status) + "): " + command;
}

class TrackerAccuracyTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        _dir = quorvtest::buildPath("tracker_accuracy");
        // ctest runs each test in its own process, possibly in parallel: every scene has a folder
        // of its own, and shared files are written under a private name and then renamed.
        ASSERT_EQ(std::system(("mkdir -p '" + _dir + "'").c_str()), 0);
        _camera = quorvtest::testDataPath("camera_para_640x480_v4.dat");
        _patterns.clear();
        // Hiro as 16x16 pixel art of its upright block; the synth adds the black border.
        auto hiro = Pattern::load(quorvtest::testDataPath("patt.hiro"));
        ASSERT_TRUE(hiro);
        cv::Mat art(16, 16, CV_8UC3);
        for (int r = 0; r < 16; ++r)
            for (int c = 0; c < 16; ++c)
                for (int p = 0; p < 3; ++p) art.at<cv::Vec3b>(r, c)[p] = hiro->block(0).at(p, r, c);
        const std::string own = _dir + "/hiro-" + std::to_string(getpid()) + ".png";
        ASSERT_TRUE(cv::imwrite(own, art));
        ASSERT_EQ(std::rename(own.c_str(), (_dir + "/hiro.png").c_str()), 0);
        _patterns.push_back({"patt.hiro", quorvtest::testDataPath("patt.hiro"), _dir + "/hiro.png", true, 80});
        // The exhibit's three markers, from their artwork, 120 mm wide as in the exhibit.
        const std::string exhibit = quorvtest::sourceDirectory() + "/exhibit/data_Tovarin/";
        for (const char* name : {"tovex", "camara", "roundplay"}) {
            const std::string patt = exhibit + "patt." + name;
            const std::string picture = exhibit + name + "-marker.png";
            if (std::ifstream(patt) && std::ifstream(picture))
                _patterns.push_back({std::string("patt.") + name, patt, picture, false, 120});
        }
    }

    /// Renders `script` (without its marker lines, which `markers` supplies) into a PNG
    /// sequence; returns the truth, one object per frame.
    static std::vector<JsonValue> render(const std::string& name, const std::string& script,
                                         const std::vector<ScenePattern>& markers) {
        const std::string folder = _dir + "/" + name;
        EXPECT_EQ(std::system(("rm -rf '" + folder + "' && mkdir -p '" + folder + "'").c_str()), 0);
        std::ofstream out(folder + "/scene.txt");
        out << "calibration " << _camera << "\n";
        for (const ScenePattern& p : markers)
            out << "marker " << p.name << " " << p.picture << " " << p.width
                << (p.inner ? " inner" : "") << "\n";
        out << script;
        out.close();
        const std::string error = run(quorvtest::buildPath("quorv-synth") + " '" + folder +
                                      "/scene.txt' -o '" + folder + "/f_%05d.png'");
        EXPECT_EQ(error, "");
        std::vector<JsonValue> truth;
        std::ifstream in(folder + "/truth.jsonl");
        std::string line;
        while (std::getline(in, line)) {
            JsonValue v;
            EXPECT_TRUE(JsonValue::parse(line, v)) << line;
            truth.push_back(v);
        }
        return truth;
    }

    static cv::Mat frame(const std::string& name, int index) {
        char file[64];
        std::snprintf(file, sizeof file, "/f_%05d.png", index);
        return cv::imread(_dir + "/" + name + file, cv::IMREAD_COLOR);
    }

    /// A tracker with every pattern loaded as a single marker, in _patterns order.
    static MarkerTracker makeTracker() {
        MarkerTracker tracker;
        auto camera = osgART::CameraParameters::read(_camera);
        tracker.setCamera(camera->scaled(640, 480));
        for (const ScenePattern& p : _patterns)
            tracker.addSingle(tracker.loadPattern(p.patt), p.width);
        return tracker;
    }

    static std::string _dir, _camera;
    static std::vector<ScenePattern> _patterns;
};

std::string TrackerAccuracyTest::_dir, TrackerAccuracyTest::_camera;
std::vector<ScenePattern> TrackerAccuracyTest::_patterns;

std::array<cv::Point2d, 4> cornersOf(const JsonValue& v) {
    std::array<cv::Point2d, 4> c;
    for (int k = 0; k < 4; ++k) c[k] = cv::Point2d(v[k][0].number, v[k][1].number);
    return c;
}

Pose poseOf(const JsonValue& v) {
    cv::Matx34d m;
    for (int e = 0; e < 12; ++e) m(e / 4, e % 4) = v[e].number;
    return Pose::fromMatrix(m);
}

double percentile(std::vector<double> v, double q) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(q * v.size()))];
}

TEST_F(TrackerAccuracyTest, DetectsIdentifiesAndLocatesMarkersOverRandomPoses) {
    ASSERT_GE(_patterns.size(), 1u);
    const auto k = osgART::CameraParameters::read(_camera)->intrinsics();
    int eligible = 0, found = 0, confusions = 0, misplaced = 0;
    double cornerSquares = 0;
    int cornerCount = 0;
    std::vector<double> translationErrors, rotationErrors;
    for (size_t p = 0; p < _patterns.size(); ++p) {
        const ScenePattern& pattern = _patterns[p];
        // Keyframes every half second at random poses: apparent width 24..260 px, any roll,
        // tilts up to about 65 degrees, always in front of the camera.
        std::mt19937 rng(1000 + static_cast<unsigned>(p));
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        std::ostringstream script;
        script << "size 640 480\nfps 30\nduration 5\nseed " << 20 + p << "\nnoise 4\n";
        for (int key = 0; key <= 10; ++key) {
            const double widthPx = 24.0 * std::pow(260.0 / 24.0, unit(rng));
            const double z = k.fx * pattern.width / widthPx;
            const double half = 0.75 * widthPx + 6;
            const double u = half + unit(rng) * std::max(0.0, 640 - 2 * half);
            const double v = half + unit(rng) * std::max(0.0, 480 - 2 * half);
            script << "key " << pattern.name << " " << key * 0.5 << " " << (u - k.cx) * z / k.fx
                   << " " << (v - k.cy) * z / k.fy << " " << z << " " << unit(rng) * 360 - 180
                   << " " << unit(rng) * 110 - 55 << " " << unit(rng) * 110 - 55 << "\n";
        }
        const std::string scene = "poses_" + std::to_string(p);
        const std::vector<JsonValue> truth = render(scene, script.str(), {pattern});
        ASSERT_EQ(truth.size(), 150u);

        MarkerTracker tracker = makeTracker();
        for (size_t f = 0; f < truth.size(); ++f) {
            const cv::Mat image = frame(scene, static_cast<int>(f));
            ASSERT_FALSE(image.empty());
            tracker.update(image);
            const JsonValue& markers = truth[f]["markers"];
            const JsonValue* m = markers.size() ? &markers[0] : nullptr;
            bool hit = false;
            for (const Detection& d : tracker.lastDetection().detections) {
                if (static_cast<size_t>(d.pattern) != p) {
                    ++confusions;
                    continue;
                }
                double worst = 1e9;
                if (m && m->operator[]("in_view").boolean) {
                    worst = 0;
                    const auto c = cornersOf((*m)["corners"]);
                    for (int i = 0; i < 4; ++i)
                        worst = std::max(worst, cv::norm(d.observed[i] - c[i]));
                }
                if (worst > 5.0) {
                    ++misplaced;
                    continue;
                }
                hit = true;
            }
            if (!m || !(*m)["fully_in_view"].boolean || (*m)["width_px"].number < 30 ||
                (*m)["tilt_deg"].number > 60)
                continue;
            ++eligible;
            if (!hit || !tracker.marker(static_cast<int>(p)).valid) continue;
            ++found;
            const Detection* d = nullptr;
            for (const Detection& x : tracker.lastDetection().detections)
                if (static_cast<size_t>(x.pattern) == p) d = &x;
            const auto c = cornersOf((*m)["corners"]);
            for (int i = 0; i < 4; ++i) {
                const double e = cv::norm(d->observed[i] - c[i]);
                cornerSquares += e * e;
                ++cornerCount;
            }
            if ((*m)["width_px"].number >= 60) {
                const Pose truePose = poseOf((*m)["camera_from_marker"]);
                const Pose& pose = tracker.marker(static_cast<int>(p)).cameraFromMarker;
                translationErrors.push_back(100.0 *
                                            cv::norm(pose.translation - truePose.translation) /
                                            cv::norm(truePose.translation));
                rotationErrors.push_back(rotationAngleDegrees(pose.rotation, truePose.rotation));
                if (rotationErrors.back() > 1.0)
                    std::printf(
                        "rotation error %.3f deg: %s frame %zu, width %.1f px, tilt %.1f deg\n",
                        rotationErrors.back(), pattern.name.c_str(), f, (*m)["width_px"].number,
                        (*m)["tilt_deg"].number);
            }
        }
    }
    const double rate = eligible ? 100.0 * found / eligible : 0;
    const double cornerRms = cornerCount ? std::sqrt(cornerSquares / cornerCount) : 0;
    std::printf(
        "patterns %zu; eligible frames %d, detected %d (%.2f %%); identity confusions %d; "
        "misplaced %d\ncorner RMS %.4f px\n"
        "pose (width >= 60 px, %zu frames): translation error %% of distance median %.3f "
        "p95 %.3f max %.3f; rotation error deg median %.3f p95 %.3f max %.3f\n",
        _patterns.size(), eligible, found, rate, confusions, misplaced, cornerRms,
        translationErrors.size(), percentile(translationErrors, 0.5),
        percentile(translationErrors, 0.95), percentile(translationErrors, 1.0),
        percentile(rotationErrors, 0.5), percentile(rotationErrors, 0.95),
        percentile(rotationErrors, 1.0));
    EXPECT_GE(eligible, 200);
    EXPECT_GE(rate, 99.0);
    EXPECT_EQ(confusions, 0);
    EXPECT_EQ(misplaced, 0);
    EXPECT_LE(cornerRms, 0.3);
    ASSERT_FALSE(translationErrors.empty());
    EXPECT_LE(percentile(translationErrors, 1.0), 1.0);
    // Nearly face-on markers near 60 px are the weak case: their tilt shows only through
    // perspective, 0.15 px of corner shift per degree at 80 px, so every frame within 1 degree
    // needs corners unbiased to a few hundredths of a pixel (a face-on tovex with its sides
    // along the pixel grid was 1.2 degrees off while edges were located by their middle grey).
    EXPECT_LE(percentile(rotationErrors, 1.0), 1.0);
}

TEST_F(TrackerAccuracyTest, NoDetectionsInAThousandFramesOfClutter) {
    const std::vector<JsonValue> truth = render(
        "clutter", "size 640 480\nfps 30\nduration 33.334\nseed 77\nnoise 3\nclutter 40 1\n", {});
    ASSERT_GE(truth.size(), 1000u);
    MarkerTracker tracker = makeTracker();
    int detections = 0, candidates = 0, tracked = 0;
    double best = 0;
    for (size_t f = 0; f < truth.size(); ++f) {
        const cv::Mat image = frame("clutter", static_cast<int>(f));
        ASSERT_FALSE(image.empty());
        tracker.update(image);
        detections += static_cast<int>(tracker.lastDetection().detections.size());
        for (int m = 0; m < tracker.markerCount(); ++m) tracked += tracker.marker(m).valid;
        candidates += tracker.lastDetection().candidates;
        for (const Detection& d : tracker.lastDetection().detections)
            best = std::max(best, d.confidence);
    }
    std::printf(
        "clutter: %zu frames, %d candidates; detector matches above 0.5: %d (best "
        "confidence %.3f); markers reported valid: %d\n",
        truth.size(), candidates, detections, best, tracked);
    EXPECT_GT(candidates, 1000);  // the clutter does reach identification
    EXPECT_EQ(tracked, 0);
}

TEST_F(TrackerAccuracyTest, StaticMarkerJitterIsATenthOfAPercentOfTheDistance) {
    const ScenePattern& pattern = _patterns.back();
    std::ostringstream script;
    script << "size 640 480\nfps 30\nduration 3.334\nseed 5\nnoise 2\n"
           << "key " << pattern.name << " 0 30 -20 " << 6.0 * pattern.width << " 15 20 -10\n";
    const std::vector<JsonValue> truth = render("static", script.str(), {pattern});
    ASSERT_GE(truth.size(), 100u);
    MarkerTracker tracker = makeTracker();
    const int index = static_cast<int>(_patterns.size()) - 1;
    std::vector<cv::Vec3d> metric, drawing;
    for (size_t f = 0; f < truth.size(); ++f) {
        tracker.update(frame("static", static_cast<int>(f)));
        ASSERT_TRUE(tracker.marker(index).valid) << "frame " << f;
        metric.push_back(tracker.marker(index).cameraFromMarker.translation);
        drawing.push_back(tracker.marker(index).drawingCameraFromMarker.translation);
    }
    auto spread = [](const std::vector<cv::Vec3d>& t) {
        cv::Vec3d mean(0, 0, 0);
        for (const auto& v : t) mean += v;
        mean *= 1.0 / t.size();
        double var = 0;
        for (const auto& v : t) var += cv::norm(v - mean, cv::NORM_L2SQR);
        return 100.0 * std::sqrt(var / t.size()) / cv::norm(mean);
    };
    const double metricJitter = spread(metric), drawingJitter = spread(drawing);
    std::printf(
        "static %s at %.0f mm, noise 2: translation std %.4f %% (metric), %.4f %% (drawing) "
        "of the distance\n",
        pattern.name.c_str(), cv::norm(metric[0]), metricJitter, drawingJitter);
    EXPECT_LE(metricJitter, 0.1);
    EXPECT_LE(drawingJitter, 0.1);
}

TEST_F(TrackerAccuracyTest, PatternMadeByMkpattIsIdentifiedInEveryTurn) {
    // A marker picture of our own, through quorv-mkpatt, read back by the loader.
    const PatternImage upright = testing::randomPattern(31);
    const cv::Mat picture = testing::markerArtwork(upright, 0.0);
    ASSERT_TRUE(cv::imwrite(_dir + "/own-marker.png", picture));
    ASSERT_EQ(run(quorvtest::buildPath("quorv-mkpatt") + " patt '" + _dir + "/own-marker.png' -o '" + _dir +
                  "/patt.own'"),
              "");
    auto made = Pattern::load(_dir + "/patt.own");
    ASSERT_TRUE(made);

    MarkerDetector detector;
    auto hiro = Pattern::load(quorvtest::testDataPath("patt.hiro"));
    detector.addPattern(*hiro);
    const int own = detector.addPattern(*made);
    const osgART::CameraParameters camera = quorvtest::stockCamera();
    detector.setCamera(camera);
    const cv::Mat art = testing::markerArtwork(upright);
    for (int turn = 0; turn < 4; ++turn) {
        cv::Mat image(480, 640, CV_8UC3, cv::Scalar(160, 160, 160));
        const auto truth = testing::renderMarker(
            image, art, 0.25, 80, testing::lookAtPose(550, 20, 10, 90 * turn - 12, 30),
            quorvtest::cameraMatrix(camera));
        const DetectionResult r = detector.detect(image);
        ASSERT_EQ(r.detections.size(), 1u) << "turn " << turn;
        EXPECT_EQ(r.detections[0].pattern, own);
        EXPECT_GT(r.detections[0].confidence, 0.9);
        for (int c = 0; c < 4; ++c)
            EXPECT_LT(cv::norm(r.detections[0].observed[c] - truth.corners[c]), 0.2)
                << "turn " << turn << " corner " << c;
    }
}

}  // namespace
}  // namespace quorv::markers
