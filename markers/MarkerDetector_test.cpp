#include "MarkerDetector.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include <support/MarkerRenderer.h>
#include <support/StockCamera.h>
#include <support/Paths.h>

namespace quorv::markers {
namespace {

using testing::addNoise;
using testing::lookAtPose;
using testing::markerArtwork;
using testing::renderMarker;

class MarkerDetectorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto hiro = Pattern::load(quorvtest::testDataPath("patt.hiro"));
        ASSERT_TRUE(hiro);
        _hiro = *hiro;
        // A pattern of our own, through the file writer and reader.
        const std::string path = ::testing::TempDir() + "detector_random.patt";
        ASSERT_TRUE(Pattern::fromUpright(testing::randomPattern(7)).save(path));
        auto own = Pattern::load(path);
        ASSERT_TRUE(own);
        _own = *own;
        _camera = quorvtest::stockCamera();
        _k = quorvtest::cameraMatrix(_camera);
    }

    MarkerDetector makeDetector(const DetectorParameters& params = DetectorParameters()) const {
        MarkerDetector d(params);
        d.addPattern(_hiro);
        d.addPattern(_own);
        d.setCamera(_camera);
        return d;
    }

    cv::Mat page() const { return cv::Mat(480, 640, CV_8UC3, cv::Scalar(150, 150, 150)); }

    Pattern _hiro, _own;
    osgART::CameraParameters _camera;
    cv::Matx33d _k;
};

TEST_F(MarkerDetectorTest, EveryTurnIsIdentifiedWithItsCornersInOrder) {
    const MarkerDetector detector = makeDetector();
    for (int p = 0; p < 2; ++p) {
        const Pattern& pattern = p == 0 ? _hiro : _own;
        const cv::Mat art = markerArtwork(pattern.block(0));
        for (int turn = 0; turn < 4; ++turn) {
            SCOPED_TRACE("pattern " + std::to_string(p) + ", turned " + std::to_string(turn * 90));
            cv::Mat image = page();
            const auto truth =
                renderMarker(image, art, 0.25, 80, lookAtPose(500, 10, -5, turn * 90 + 8, 25), _k);
            const DetectionResult r = detector.detect(image);
            ASSERT_EQ(r.detections.size(), 1u);
            const Detection& d = r.detections[0];
            EXPECT_EQ(d.pattern, p);
            EXPECT_GT(d.confidence, 0.9);
            for (int k = 0; k < 4; ++k)
                EXPECT_LT(cv::norm(d.observed[k] - truth.corners[k]), 0.15) << "corner " << k;
        }
    }
}

TEST_F(MarkerDetectorTest, CornersAreSubPixelAccurateOverManyPoses) {
    const MarkerDetector detector = makeDetector();
    const cv::Mat art = markerArtwork(_own.block(0));
    cv::RNG rng(11);
    double sum = 0;
    int n = 0;
    for (int i = 0; i < 12; ++i) {
        cv::Mat image = page();
        const Pose pose =
            lookAtPose(rng.uniform(300.0, 1200.0), rng.uniform(-80.0, 80.0),
                       rng.uniform(-60.0, 60.0), rng.uniform(0.0, 360.0), rng.uniform(-55.0, 55.0));
        const auto truth = renderMarker(image, art, 0.25, 80, pose, _k);
        addNoise(image, 2.0, 100 + i);
        const DetectionResult r = detector.detect(image);
        ASSERT_EQ(r.detections.size(), 1u) << "pose " << i;
        for (int k = 0; k < 4; ++k) {
            const double e = cv::norm(r.detections[0].observed[k] - truth.corners[k]);
            sum += e * e;
            ++n;
        }
    }
    EXPECT_LT(std::sqrt(sum / n), 0.1);
}

TEST_F(MarkerDetectorTest, FlatSquaresOutlinesAndUnknownPatternsAreRejected) {
    const MarkerDetector detector = makeDetector();
    cv::Mat image = page();
    // A flat dark square, a flat grey square on a black frame, and a thin box outline.
    cv::rectangle(image, cv::Rect(40, 40, 100, 100), cv::Scalar(20, 20, 20), cv::FILLED);
    cv::rectangle(image, cv::Rect(200, 40, 120, 120), cv::Scalar(20, 20, 20), cv::FILLED);
    cv::rectangle(image, cv::Rect(230, 70, 60, 60), cv::Scalar(128, 128, 128), cv::FILLED);
    cv::rectangle(image, cv::Rect(400, 40, 120, 120), cv::Scalar(20, 20, 20), 2);
    // A marker of a pattern the detector does not know.
    renderMarker(image, markerArtwork(testing::randomPattern(99)), 0.25, 80,
                 lookAtPose(600, 0, 60, 0, 0), _k);
    const DetectionResult r = detector.detect(image);
    EXPECT_GE(r.candidates, 3);
    EXPECT_TRUE(r.detections.empty());
}

TEST_F(MarkerDetectorTest, EachPatternGoesToItsBestCandidateAboveTheMinimum) {
    cv::Mat image = page();
    const cv::Mat art = markerArtwork(_hiro.block(0));
    // Two copies of Hiro: a clean one and a steeply tilted, smaller one.
    const auto clean = renderMarker(image, art, 0.25, 80, lookAtPose(450, -70, 0, 0, 0), _k);
    renderMarker(image, art, 0.25, 80, lookAtPose(900, 110, 0, 0, 65), _k);
    const DetectionResult r = makeDetector().detect(image);
    ASSERT_EQ(r.detections.size(), 1u);
    EXPECT_LT(cv::norm(r.detections[0].observed[0] - clean.corners[0]), 0.3);
    EXPECT_GE(r.candidates, 2);

    // The minimum confidence is a strict boundary: just above the match loses it.
    const double cf = r.detections[0].confidence;
    DetectorParameters above, below;
    above.match.minConfidence = cf + 1e-4;
    below.match.minConfidence = cf - 1e-4;
    const DetectionResult strict = makeDetector(above).detect(image);
    const DetectionResult loose = makeDetector(below).detect(image);
    ASSERT_EQ(loose.detections.size(), 1u);
    EXPECT_DOUBLE_EQ(loose.detections[0].confidence, cf);
    // The strict detector may still take the other copy if it correlates better than cf; it
    // must never report a confidence below its minimum.
    for (const Detection& d : strict.detections) EXPECT_GE(d.confidence, above.match.minConfidence);
}

TEST_F(MarkerDetectorTest, AdaptiveThresholdCopesWithUnevenLightWhereAFixedOneFails) {
    cv::Mat image(480, 640, CV_8UC3, cv::Scalar(235, 235, 235));
    const auto truth = renderMarker(image, markerArtwork(_own.block(0)), 0.25, 80,
                                    lookAtPose(500, 120, 80, 20, 30), _k);
    // Light falls off from left to right and top to bottom to a fifth of its strength; where
    // the marker lies its white is darker than the classic fixed level of 100.
    for (int y = 0; y < image.rows; ++y)
        for (int x = 0; x < image.cols; ++x) {
            const double light = 1.0 - 0.8 * (0.6 * x / 639.0 + 0.4 * y / 479.0);
            cv::Vec3b& px = image.at<cv::Vec3b>(y, x);
            for (int c = 0; c < 3; ++c) px[c] = cv::saturate_cast<uchar>(px[c] * light);
        }
    const DetectionResult adaptive = makeDetector().detect(image);
    ASSERT_EQ(adaptive.detections.size(), 1u);
    EXPECT_EQ(adaptive.detections[0].pattern, 1);
    for (int k = 0; k < 4; ++k)
        EXPECT_LT(cv::norm(adaptive.detections[0].observed[k] - truth.corners[k]), 0.3);

    DetectorParameters fixed;
    fixed.threshold.method = ThresholdParameters::Method::Fixed;
    EXPECT_TRUE(makeDetector(fixed).detect(image).detections.empty());
}

TEST_F(MarkerDetectorTest, AcceptsEveryPixelLayoutTheVideoDelivers) {
    cv::Mat bgr = page();
    renderMarker(bgr, markerArtwork(_hiro.block(0)), 0.25, 80, lookAtPose(500, 0, 0, 0, 0), _k);
    cv::Mat rgb, bgra, rgba, grey;
    cv::cvtColor(bgr, rgb, cv::COLOR_BGR2RGB);
    cv::cvtColor(bgr, bgra, cv::COLOR_BGR2BGRA);
    cv::cvtColor(bgr, rgba, cv::COLOR_BGR2RGBA);
    cv::cvtColor(bgr, grey, cv::COLOR_BGR2GRAY);
    const MarkerDetector detector = makeDetector();
    const DetectionResult reference = detector.detect(bgr);
    ASSERT_EQ(reference.detections.size(), 1u);
    const std::pair<cv::Mat, bool> layouts[] = {
        {rgb, true}, {bgra, false}, {rgba, true}, {grey, false}};
    for (const auto& [image, isRgb] : layouts) {
        const DetectionResult r = detector.detect(image, isRgb);
        ASSERT_EQ(r.detections.size(), 1u) << image.channels() << " channels, rgb " << isRgb;
        EXPECT_GT(r.detections[0].confidence, 0.85);
        EXPECT_LT(cv::norm(r.detections[0].observed[0] - reference.detections[0].observed[0]),
                  0.05);
    }
}

}  // namespace
}  // namespace quorv::markers
