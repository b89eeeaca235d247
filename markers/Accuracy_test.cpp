// Accuracy of the tracker on synthetic footage of markers in visitors' hands (quorv_synth, fixed
// seeds). One row per condition, printed as a table: detection of the fully visible markers,
// false reports (a marker reported where it is not), corner RMS, translation and rotation
// error. The floors each condition must reach are asserted.

#include <gtest/gtest.h>
#include <support/MarkerRenderer.h>
#include <support/Paths.h>

#include <algorithm>
#include <cstdio>
#include <opencv2/calib3d.hpp>
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
// artwork, 120 mm as in the exhibit. patt.camara's pattern holds a dark square of its own.
const char* const kNames[] = {"hiro", "tovex", "camara", "roundplay"};
const double kWidth[] = {80, 120, 120, 120};
constexpr int kCount = 4;
constexpr double kPi = 3.14159265358979323846;

std::string patt(int p) {
    return p ? kData + "patt." + kNames[p] : quorvtest::testDataPath("patt.hiro");
}

/// Key lines that wander marker `m` through random poses, a key every `step` seconds: tilted
/// `lo`..`hi` degrees from facing the camera about an axis that turns by up to 60 degrees from
/// key to key, any roll, apparent width `w0`..`w1` px, anywhere in the picture.
std::string wander(int m, unsigned seed, double seconds, double step, double lo, double hi,
                   double w0 = 40, double w1 = 240, double reach = 1e9) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const auto k = kCamera.intrinsics();
    std::ostringstream keys;
    double axis = unit(rng) * 2 * kPi, u = 320, v = 240, roll = 0;
    for (double t = 0; t <= seconds + 1e-9; t += step) {
        const double width = w0 * std::pow(w1 / w0, unit(rng));
        const double z = k.fx * kWidth[m] / width, half = 0.75 * width + 8;
        // Anywhere, or within `reach` px of the previous key.
        const double x = unit(rng), y = unit(rng);
        u = reach > 640 ? half + x * std::max(0.0, 640 - 2 * half)
                        : std::clamp(u + (2 * x - 1) * reach, half, std::max(half, 640 - half));
        v = reach > 640 ? half + y * std::max(0.0, 480 - 2 * half)
                        : std::clamp(v + (2 * y - 1) * reach, half, std::max(half, 480 - half));
        const cv::Vec3d centre((u - k.cx) * z / k.fx, (v - k.cy) * z / k.fy, z);
        // Upright and facing the camera, spun by the roll, tilted about the axis, then turned
        // so that the tilt is measured from the line of sight.
        axis += (unit(rng) - 0.5) * kPi / 1.5;
        const double tilt = (lo + unit(rng) * (hi - lo)) * kPi / 180;
        cv::Matx33d spin, tip, face;
        // Any roll, or within a turn of 30 degrees of the previous key's when calm.
        roll = reach > 640 ? (unit(rng) - 0.5) * 2 * kPi : roll + (unit(rng) - 0.5) * kPi / 3;
        cv::Rodrigues(cv::Vec3d(0, 0, roll), spin);
        cv::Rodrigues(cv::Vec3d(std::cos(axis), std::sin(axis), 0) * tilt, tip);
        const cv::Vec3d sight = cv::normalize(centre), z0(0, 0, 1);
        const cv::Vec3d turn = z0.cross(sight);
        cv::Rodrigues(turn * (std::asin(cv::norm(turn)) / std::max(cv::norm(turn), 1e-12)), face);
        // camera_from_marker = diag(1, -1, -1) Rx(pitch) Ry(yaw) Rz(roll) (the synth's order).
        const cv::Matx33d r = face * tip * cv::Matx33d::diag({1, -1, -1}) * spin;
        const cv::Matx33d e = cv::Matx33d::diag({1, -1, -1}) * r;
        const double yaw = std::asin(std::clamp(e(0, 2), -1.0, 1.0));
        keys << "key " << kNames[m] << " " << t << " " << centre[0] << " " << centre[1] << " " << z
             << " " << std::atan2(-e(0, 1), e(0, 0)) * 180 / kPi << " "
             << std::atan2(-e(1, 2), e(2, 2)) * 180 / kPi << " " << yaw * 180 / kPi << "\n";
    }
    return keys.str();
}

/// One condition: the footage's effects and keys, its floors, and what was measured.
struct Row {
    Row(const char* name, std::string footage, double minDetection, double maxCornerRms,
        double tiltLo = 0, double tiltHi = 60, int maxFalses = 0, double minKept = 0)
        : name(name),
          footage(std::move(footage)),
          minDetection(minDetection),
          maxCornerRms(maxCornerRms),
          tiltLo(tiltLo),
          tiltHi(tiltHi),
          maxFalses(maxFalses),
          minKept(minKept) {}
    const char* name;
    std::string footage;
    double minDetection;  // % of the eligible frames
    double maxCornerRms;  // px
    double tiltLo, tiltHi;
    int maxFalses;   // marker reports off their marker (by 3 px; by 1 px under a thumb)
    double minKept;  // % of the frames under a thumb
    int frames = 0, eligible = 0, found = 0, falses = 0, corners = 0, covered = 0, kept = 0;
    double squares = 0, worstCovered = 0;
    std::vector<double> t, r, jitter;

    void look(const MarkerTracker& tracker, const FrameTruth& truth) {
        for (int m = 0; m < kCount; ++m) {
            const FrameTruth::Marker* seen = nullptr;
            for (const FrameTruth::Marker& s : truth.markers)
                if (s.name == kNames[m]) seen = &s;
            const TrackedMarker& got = tracker.marker(m);
            cv::Vec4d error(1e9, 1e9, 1e9, 1e9);
            double shortest = 1e9, edge = 1e9;
            for (int k = 0; seen && k < 4; ++k) {
                const cv::Point2d c(seen->corners[k][0], seen->corners[k][1]);
                const cv::Point2d n(seen->corners[(k + 1) % 4][0], seen->corners[(k + 1) % 4][1]);
                error[k] = cv::norm(got.corners[k] - c);
                shortest = std::min(shortest, cv::norm(n - c));
                edge = std::min({edge, c.x, c.y, 639 - c.x, 479 - c.y});
            }
            // A marker under a finger must be kept within 1 px or dropped.
            const double worst = cv::norm(error, cv::NORM_INF);
            const double allowed = seen && seen->covered ? 1.0 : 3.0;
            if (got.valid && (!seen || !seen->inView || worst > allowed)) {
                ++falses;
                continue;
            }
            if (!seen || edge < 6 || shortest < 14 || seen->tiltDeg < tiltLo ||
                seen->tiltDeg > tiltHi)
                continue;
            ++eligible;
            covered += seen->covered;
            if (!got.valid) continue;
            ++found;
            squares += error.dot(error), corners += 4;
            if (seen->covered) ++kept, worstCovered = std::max(worstCovered, worst);
            if (seen->widthPx < 60) continue;
            const Pose truePose = Pose::fromMatrix(cv::Matx34d(seen->cameraFromMarker.data()));
            t.push_back(100 * cv::norm(got.cameraFromMarker.translation - truePose.translation) /
                        cv::norm(truePose.translation));
            r.push_back(rotationAngleDegrees(got.cameraFromMarker.rotation, truePose.rotation));
            jitter.push_back(got.cameraFromMarker.translation[2]);
        }
    }
    double detection() const { return 100.0 * found / std::max(eligible, 1); }
    double cornerRms() const { return std::sqrt(squares / std::max(corners, 1)); }
};

double percentile(std::vector<double> v, double q) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, size_t(q * v.size()))];
}

/// Renders the row's 640x480 footage (every marker declared, shown as its keys say) and runs a
/// tracker that knows every marker over it.
void run(Row& row) {
    std::string text = "size 640 480\nfps 30\n";
    std::vector<cv::Mat> pictures;
    for (int m = 0; m < kCount; ++m) {
        text += std::string("marker ") + kNames[m] + " - " + std::to_string(kWidth[m]) +
                (m ? "\n" : " inner\n");
        pictures.push_back(m ? cv::imread(kData + kNames[m] + "-marker.png")
                             : quorvtest::picture(Pattern::load(patt(0))->block(0)));
    }
    std::string error;
    const auto script = SynthScript::parse(text + row.footage, "", &error);
    ASSERT_TRUE(script) << row.name << ": " << error;
    const SynthRenderer synth(*script, kCamera, pictures, {});
    MarkerTracker tracker;
    tracker.setCamera(kCamera);
    for (int p = 0; p < kCount; ++p) tracker.addSingle(tracker.loadPattern(patt(p)), kWidth[p]);
    for (int f = 0; f < script->frameCount(); ++f, ++row.frames) {
        tracker.update(synth.render(f));
        row.look(tracker, synth.truth(f));
    }
}

/// Footage of each marker in turn, `seconds` long, wandering as `wander` says.
std::string eachMarker(const std::string& effects, double seconds, double step, double lo,
                       double hi, double w0 = 40, double w1 = 240, const std::string& finger = "",
                       double reach = 1e9) {
    std::string keys;
    for (int m = 0; m < kCount; ++m) {
        // A thumb (finger = "corner DEPTH" or "side SHARE") on corner or side m, from a second
        // in until a second before the end; depths in parts of the width.
        std::istringstream thumb(finger);
        std::string where;
        double amount = 0;
        if (thumb >> where >> amount)
            keys += "finger " + std::string(kNames[m]) + " " + std::to_string(m * seconds + 1) +
                    " " + std::to_string((m + 1) * seconds - 1) + " " + where + " " +
                    std::to_string(m) + " " +
                    std::to_string(where == "corner" ? amount * kWidth[m] : amount) + "\n";
        std::string own = wander(m, 100 * m + unsigned(lo), seconds, step, lo, hi, w0, w1, reach);
        // Shift the marker's keys into its own stretch of time, hidden outside it.
        std::istringstream in(own);
        std::ostringstream out;
        std::string word, name;
        double t;
        while (in >> word >> name >> t) {
            std::string rest;
            std::getline(in, rest);
            out << word << " " << name << " " << t + m * seconds << rest << "\n";
        }
        out << "key " << kNames[m] << " " << (m + 1) * seconds << " 0 0 500 0 0 0 hidden\n";
        if (m) keys += "key " + std::string(kNames[m]) + " 0 0 0 500 0 0 0 hidden\n";
        keys += out.str();
    }
    return "duration " + std::to_string(kCount * seconds) + "\n" + effects + keys;
}

/// All markers at once, wandering across each other, each shown and hidden at random.
std::string crowd(double seconds) {
    std::string keys = "duration " + std::to_string(seconds) + "\nnoise 3\n";
    std::mt19937 rng(5);
    for (int m = 0; m < kCount; ++m) {
        std::istringstream in(wander(m, 40 + m, seconds, 0.4, 0, 60, 50, 200));
        for (std::string line; std::getline(in, line);)
            keys += line + (rng() % 4 ? "\n" : " hidden\n");
    }
    return keys;
}

TEST(TrackerAccuracy, MarkersInVisitorsHandsAreFoundWhereTheyAreAndNowhereElse) {
    std::vector<Row> rows = {
        // Each marker on its own, at a new random pose in every frame.
        Row("clean, tilt 0-60", eachMarker("", 10, 1.0 / 30, 0, 60, 14, 240), 99.9, 0.05),
        Row("gradient, blur 1.2, noise 6",
            eachMarker("gradient 0.5 30\nblur 1.2\nnoise 6\n", 5, 0.3, 0, 60, 24, 240), 99.9, 0.15),
        Row("tilt 60-70", eachMarker("noise 2\n", 5, 1.0 / 30, 58, 72, 41, 260), 99.5, 0.3, 60, 70),
        Row("tilt 70-75", eachMarker("noise 2\n", 6, 1.0 / 30, 68, 77, 54, 260), 96, 0.3, 70, 75),
        // Waved: the whole picture smeared by 8 px.
        Row("motion blur 8 px across",
            eachMarker("motionblur 8 10\nnoise 2\n", 3, 0.3, 0, 60, 24, 240), 99, 1),
        Row("motion blur 8 px slanting",
            eachMarker("motionblur 8 120\nnoise 2\n", 3, 0.3, 0, 60, 24, 240), 99, 1),
        // Held calmly, a thumb on the border from a second in.
        Row("thumb on a corner", eachMarker("noise 2\n", 4, 0.5, 0, 45, 100, 160, "corner 0.2", 60),
            99.5, 0.1, 0, 60, 0, 99),
        Row("thumb on a third of a side",
            eachMarker("noise 2\n", 4, 0.5, 0, 45, 100, 160, "side 0.34", 60), 99.5, 0.1, 0, 60, 0,
            99),
        // Markers covering each other are not counted out of the detection; one with a side
        // under another's paper must not be reported with that side on the paper's edge.
        Row("enter, leave, pass each other", crowd(10), 65, 0.3),
        Row("clutter around a static marker",
            "duration 33.334\nseed 77\nnoise 3\nclutter 40 1\nkey roundplay 0 30 -20 720 15 20 "
            "-10\n",
            99.9, 0.1),
    };
    std::printf("%-32s %6s %8s %9s %6s %9s %15s %15s\n", "condition", "frames", "eligible",
                "detected", "false", "corner px", "transl. % med/max", "rot. deg med/max");
    for (Row& row : rows) {
        run(row);
        std::printf("%-32s %6d %8d %8.2f%% %6d %9.4f %7.3f/%7.3f %7.3f/%7.3f\n", row.name,
                    row.frames, row.eligible, row.detection(), row.falses, row.cornerRms(),
                    percentile(row.t, 0.5), percentile(row.t, 1), percentile(row.r, 0.5),
                    percentile(row.r, 1));
        if (row.covered)
            std::printf("%32s under the thumb: %d frames, kept %d, worst corner %.2f px\n", "",
                        row.covered, row.kept, row.worstCovered);
        EXPECT_GE(row.eligible, 200) << row.name;
        EXPECT_GE(row.detection(), row.minDetection) << row.name;
        EXPECT_LE(row.falses, row.maxFalses) << row.name;
        EXPECT_GE(100.0 * row.kept, row.minKept * row.covered) << row.name;
        EXPECT_LE(row.worstCovered, 1.0) << row.name;
        EXPECT_LE(row.cornerRms(), row.maxCornerRms) << row.name;
    }
    // The static marker: the spread of its distance, % of the distance.
    const std::vector<double>& z = rows.back().jitter;
    cv::Scalar mean, sd;
    cv::meanStdDev(z, mean, sd);
    std::printf("static marker at %.0f mm: distance std %.4f %%\n", mean[0], 100 * sd[0] / mean[0]);
    EXPECT_LE(100 * sd[0] / mean[0], 0.01);
}

}  // namespace
}  // namespace quorv::markers
