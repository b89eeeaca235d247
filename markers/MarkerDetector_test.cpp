// The detector on markers drawn by the synthetic camera through the stock lens.

#include "MarkerDetector.h"

#include <gtest/gtest.h>
#include <support/MarkerRenderer.h>
#include <support/Paths.h>
#include <support/StockCamera.h>

#include <opencv2/imgproc.hpp>

namespace quorv::markers {
namespace {

using quorvtest::shoot;

class MarkerDetectorTest : public ::testing::Test {
  protected:
    MarkerDetector detector(DetectorParameters params = {}) const {
        MarkerDetector d(params);
        d.addPattern(_hiro);
        d.addPattern(Pattern::fromUpright(_own));
        d.setCamera(_camera);
        return d;
    }
    const osgART::CameraParameters _camera = quorvtest::stockCamera(26.2);
    const Pattern _hiro = *Pattern::load(quorvtest::testDataPath("patt.hiro"));
    const PatternImage _own = quorvtest::randomPattern(7);
};

TEST_F(MarkerDetectorTest, EveryTurnIsIdentifiedWithItsCornersWhereTheLensPutsThem) {
    const MarkerDetector d = detector();
    for (int row = 0; row < 8; ++row) {
        const int pattern = row / 4, turn = row % 4;
        SCOPED_TRACE("pattern " + std::to_string(pattern) + ", turn " + std::to_string(turn));
        const auto shot =
            shoot(_camera,
                  {{pattern ? _own : _hiro.block(0),
                    80,
                    {{-60.0 + 30 * turn, 40, 450.0 + 60 * row}, 90.0 * turn + 8, 25}}},
                  {.noiseSigma = 2});
        const DetectionResult r = d.detect(shot.image);
        ASSERT_EQ(r.detections.size(), 1u);
        EXPECT_EQ(r.detections[0].pattern, pattern);
        EXPECT_GT(r.detections[0].confidence, 0.9);
        for (int k = 0; k < 4; ++k) {
            const auto& truth = shot.truth.markers[0].corners[k];
            cv::Point2d ideal;
            _camera.idealFromObserved(truth[0], truth[1], ideal.x, ideal.y);
            EXPECT_LT(cv::norm(r.detections[0].observed[k] - cv::Point2d(truth[0], truth[1])),
                      0.15);
            EXPECT_LT(cv::norm(r.detections[0].ideal[k] - ideal), 0.15) << "corner " << k;
        }
    }
}

TEST_F(MarkerDetectorTest, FlatSquaresOutlinesAndUnknownPatternsAreRejected) {
    cv::Mat image = shoot(_camera, {{quorvtest::randomPattern(99), 80, {{0, 60, 600}}}}).image;
    cv::rectangle(image, cv::Rect(40, 40, 100, 100), cv::Scalar::all(20), cv::FILLED);
    cv::rectangle(image, cv::Rect(200, 40, 120, 120), cv::Scalar::all(20), cv::FILLED);
    cv::rectangle(image, cv::Rect(230, 70, 60, 60), cv::Scalar::all(128), cv::FILLED);
    cv::rectangle(image, cv::Rect(400, 40, 120, 120), cv::Scalar::all(20), 2);
    const DetectionResult r = detector().detect(image);
    EXPECT_GE(r.candidates, 3);
    EXPECT_TRUE(r.detections.empty());
}

TEST_F(MarkerDetectorTest, EachPatternGoesToItsBestCandidateAboveTheMinimum) {
    // A clean Hiro and a smaller, steeply tilted copy.
    const auto shot = shoot(_camera, {{_hiro.block(0), 80, {{-70, 0, 450}}},
                                      {_hiro.block(0), 80, {{110, 0, 900}, 0, 65}}});
    const DetectionResult r = detector().detect(shot.image);
    ASSERT_EQ(r.detections.size(), 1u);
    const auto& ul = shot.truth.markers[0].corners[0];
    EXPECT_LT(cv::norm(r.detections[0].observed[0] - cv::Point2d(ul[0], ul[1])), 0.3);
    DetectorParameters strict;
    strict.match.minConfidence = r.detections[0].confidence + 1e-4;
    for (const Detection& d : detector(strict).detect(shot.image).detections)
        EXPECT_GE(d.confidence, strict.match.minConfidence);
}

TEST_F(MarkerDetectorTest, AdaptiveThresholdCopesWithUnevenLightWhereAFixedOneFails) {
    // The light falls to a fifth towards the lower right, where the marker's white is darker
    // than the classic fixed level of 100.
    const auto shot = shoot(_camera, {{_own, 80, {{120, 80, 500}, 20, 30}}},
                            {.gradient = 0.8, .gradientAngle = 35}, 235);
    const DetectionResult adaptive = detector().detect(shot.image);
    ASSERT_EQ(adaptive.detections.size(), 1u);
    EXPECT_EQ(adaptive.detections[0].pattern, 1);
    DetectorParameters fixed;
    fixed.threshold.method = ThresholdParameters::Method::Fixed;
    EXPECT_TRUE(detector(fixed).detect(shot.image).detections.empty());
}

TEST_F(MarkerDetectorTest, AcceptsEveryPixelLayoutTheVideoDelivers) {
    const cv::Mat bgr = shoot(_camera, {{_hiro.block(0), 80, {{0, 0, 500}}}}).image;
    const MarkerDetector d = detector();
    const DetectionResult reference = d.detect(bgr);
    ASSERT_EQ(reference.detections.size(), 1u);
    for (const auto& [code, rgb] : {std::pair{cv::COLOR_BGR2RGB, true},
                                    {cv::COLOR_BGR2BGRA, false},
                                    {cv::COLOR_BGR2RGBA, true},
                                    {cv::COLOR_BGR2GRAY, false}}) {
        cv::Mat image;
        cv::cvtColor(bgr, image, code);
        const DetectionResult r = d.detect(image, rgb);
        ASSERT_EQ(r.detections.size(), 1u) << "conversion " << code;
        EXPECT_GT(r.detections[0].confidence, 0.85);
        EXPECT_LT(cv::norm(r.detections[0].observed[0] - reference.detections[0].observed[0]),
                  0.05);
    }
}

}  // namespace
}  // namespace quorv::markers
