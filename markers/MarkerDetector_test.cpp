// The detector on markers drawn by the synthetic camera through the stock lens. (Every turn of
// a pattern, and corners to a fraction of a pixel over many poses: markers/Accuracy_test.cpp.)

#include "MarkerDetector.h"

#include <gtest/gtest.h>
#include <support/MarkerRenderer.h>
#include <support/Paths.h>
#include <support/StockCamera.h>

#include <opencv2/imgproc.hpp>

namespace quorv::markers {
namespace {

using quorvtest::shoot;

const osgART::CameraParameters kCamera = quorvtest::stockCamera(26.2);
const std::string kData = quorvtest::sourceDirectory() + "/exhibit/data_Tovarin/";
const PatternImage kHiro = Pattern::load(quorvtest::testDataPath("patt.hiro"))->block(0);
const PatternImage kTovex = Pattern::load(kData + "patt.tovex")->block(0);

/// A detector of Hiro (pattern 0) and the exhibit's tovex (pattern 1).
MarkerDetector detector(DetectorParameters params = {}) {
    MarkerDetector d(params);
    d.addPattern(Pattern::fromUpright(kHiro));
    d.addPattern(Pattern::fromUpright(kTovex));
    d.setCamera(kCamera);
    return d;
}

TEST(MarkerDetector, OnlyTheBestCandidateOfAKnownPatternAboveTheMinimumIsReported) {
    // A clean Hiro, a smaller steeply tilted copy, an unknown pattern, a flat square, a square
    // with a grey inside and an outline.
    const auto shot =
        shoot(kCamera, {{kHiro, 80, {{-70, 0, 450}}},
                        {kHiro, 80, {{110, 0, 900}, 0, 65}},
                        {Pattern::load(kData + "patt.camara")->block(0), 80, {{60, 100, 650}}}});
    cv::Mat image = shot.image;
    cv::rectangle(image, cv::Rect(40, 20, 100, 100), cv::Scalar::all(20), cv::FILLED);
    cv::rectangle(image, cv::Rect(200, 20, 120, 120), cv::Scalar::all(20), cv::FILLED);
    cv::rectangle(image, cv::Rect(230, 50, 60, 60), cv::Scalar::all(128), cv::FILLED);
    cv::rectangle(image, cv::Rect(400, 20, 120, 120), cv::Scalar::all(20), 2);
    const DetectionResult r = detector().detect(image);
    EXPECT_GE(r.candidates, 6);
    ASSERT_EQ(r.detections.size(), 1u);
    const auto& ul = shot.truth.markers[0].corners[0];
    EXPECT_LT(cv::norm(r.detections[0].observed[0] - cv::Point2d(ul[0], ul[1])), 0.3);
    DetectorParameters strict;
    strict.match.minConfidence = r.detections[0].confidence + 1e-4;
    for (const Detection& d : detector(strict).detect(image).detections)
        EXPECT_GE(d.confidence, strict.match.minConfidence);
}

TEST(MarkerDetector, AdaptiveThresholdCopesWithUnevenLightWhereAFixedOneFails) {
    // The light falls to a fifth towards the lower right, where the marker's white is darker
    // than the classic fixed level of 100.
    const auto shot = shoot(kCamera, {{kTovex, 80, {{120, 80, 500}, 20, 30}}},
                            {.gradient = 0.8, .gradientAngle = 35}, 235);
    const DetectionResult adaptive = detector().detect(shot.image);
    ASSERT_EQ(adaptive.detections.size(), 1u);
    EXPECT_EQ(adaptive.detections[0].pattern, 1);
    DetectorParameters fixed;
    fixed.threshold.method = ThresholdParameters::Method::Fixed;
    EXPECT_TRUE(detector(fixed).detect(shot.image).detections.empty());
}

}  // namespace
}  // namespace quorv::markers
