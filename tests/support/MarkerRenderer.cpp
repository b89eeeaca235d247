#include "MarkerRenderer.h"

#include <opencv2/imgproc.hpp>
#include <random>

namespace quorv::markers::testing {

cv::Mat markerArtwork(const PatternImage& upright, double margin, int cell) {
    const int side = 32 * cell;
    const int pad = static_cast<int>(std::lround(margin * side));
    cv::Mat art(side + 2 * pad, side + 2 * pad, CV_8UC3, cv::Scalar(245, 245, 245));
    cv::rectangle(art, cv::Rect(pad, pad, side, side), cv::Scalar(15, 15, 15), cv::FILLED);
    for (int r = 0; r < kPatternSize; ++r)
        for (int c = 0; c < kPatternSize; ++c) {
            const cv::Scalar colour(upright.at(0, r, c), upright.at(1, r, c), upright.at(2, r, c));
            cv::rectangle(art, cv::Rect(pad + (8 + c) * cell, pad + (8 + r) * cell, cell, cell),
                          colour, cv::FILLED);
        }
    return art;
}

PatternImage randomPattern(unsigned seed) {
    std::mt19937 rng(seed);
    PatternImage p;
    // 4x4 blocks of 4x4 cells, black or white, with one corner block forced white and the
    // opposite black so that no rotation maps the pattern onto itself.
    int blocks[4][4];
    for (auto& row : blocks)
        for (int& b : row) b = static_cast<int>(rng() % 2);
    blocks[0][0] = 0;
    blocks[0][3] = 1;
    blocks[3][3] = 1;
    blocks[3][0] = 1;
    for (int r = 0; r < kPatternSize; ++r)
        for (int c = 0; c < kPatternSize; ++c) {
            const uint8_t v = blocks[r / 4][c / 4] ? 20 : 240;
            for (int plane = 0; plane < 3; ++plane) p.at(plane, r, c) = v;
        }
    return p;
}

RenderedMarker renderMarker(cv::Mat& image, const cv::Mat& artwork, double margin, double width,
                            const Pose& cameraFromMarker, const cv::Matx33d& k) {
    const int side = static_cast<int>(std::lround(artwork.cols / (1.0 + 2.0 * margin)));
    const double pad = (artwork.cols - side) / 2.0;
    const double s = side / width;  // artwork px per mm
    // Artwork pixel centre (i, j) -> marker (X, Y): X = (i + 0.5 - pad) / s - W/2, Y mirrored.
    const cv::Matx33d markerFromArt(1.0 / s, 0, (0.5 - pad) / s - width / 2, 0, -1.0 / s,
                                    width / 2 - (0.5 - pad) / s, 0, 0, 1);
    const cv::Matx33d& r = cameraFromMarker.rotation;
    const cv::Vec3d& t = cameraFromMarker.translation;
    const cv::Matx33d rt(r(0, 0), r(0, 1), t[0], r(1, 0), r(1, 1), t[1], r(2, 0), r(2, 1), t[2]);
    constexpr int f = 4;
    const cv::Matx33d superFromImage(f, 0, (f - 1) / 2.0, 0, f, (f - 1) / 2.0, 0, 0, 1);
    const cv::Matx33d h = superFromImage * k * rt * markerFromArt;

    cv::Mat big, mask;
    cv::warpPerspective(artwork, big, cv::Mat(h), cv::Size(image.cols * f, image.rows * f),
                        cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar(0, 0, 0));
    cv::Mat ones(artwork.size(), CV_8UC1, cv::Scalar(255));
    cv::warpPerspective(ones, mask, cv::Mat(h), big.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT,
                        cv::Scalar(0));
    cv::Mat small, smallMask;
    cv::resize(big, small, image.size(), 0, 0, cv::INTER_AREA);
    cv::resize(mask, smallMask, image.size(), 0, 0, cv::INTER_AREA);
    // Blend by coverage so the page edge is anti-aliased against the background too.
    for (int y = 0; y < image.rows; ++y)
        for (int x = 0; x < image.cols; ++x) {
            const float a = smallMask.at<uchar>(y, x) / 255.0f;
            if (a <= 0) continue;
            cv::Vec3b& dst = image.at<cv::Vec3b>(y, x);
            const cv::Vec3b src = small.at<cv::Vec3b>(y, x);
            for (int c = 0; c < 3; ++c)
                dst[c] = cv::saturate_cast<uchar>(src[c] + (1.0f - a) * dst[c]);
        }

    RenderedMarker out;
    const auto model = squareCorners(width);
    for (int i = 0; i < 4; ++i) {
        const cv::Point3d c = cameraFromMarker * model[i];
        out.corners[i] = cv::Point2d(k(0, 0) * c.x / c.z + k(0, 1) * c.y / c.z + k(0, 2),
                                     k(1, 1) * c.y / c.z + k(1, 2));
    }
    return out;
}

Pose lookAtPose(double distance, double x, double y, double rollDegrees, double tiltDegrees) {
    const double roll = rollDegrees * CV_PI / 180, tilt = tiltDegrees * CV_PI / 180;
    // Facing the camera: marker x = camera x, marker y = -camera y, marker z = -camera z.
    const cv::Matx33d facing(1, 0, 0, 0, -1, 0, 0, 0, -1);
    const cv::Matx33d rz(std::cos(roll), -std::sin(roll), 0, std::sin(roll), std::cos(roll), 0, 0,
                         0, 1);
    const cv::Matx33d rx(1, 0, 0, 0, std::cos(tilt), -std::sin(tilt), 0, std::sin(tilt),
                         std::cos(tilt));
    return Pose{facing * rx * rz, cv::Vec3d(x, y, distance)};
}

cv::Mat distortImage(const cv::Mat& ideal, const osgART::CameraParameters& camera,
                     std::array<cv::Point2d, 4>& corners) {
    cv::Mat mapX(ideal.size(), CV_32FC1), mapY(ideal.size(), CV_32FC1);
    for (int y = 0; y < ideal.rows; ++y)
        for (int x = 0; x < ideal.cols; ++x) {
            double ix, iy;
            camera.idealFromObserved(x, y, ix, iy);
            mapX.at<float>(y, x) = static_cast<float>(ix);
            mapY.at<float>(y, x) = static_cast<float>(iy);
        }
    cv::Mat observed;
    cv::remap(ideal, observed, mapX, mapY, cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    for (cv::Point2d& c : corners) camera.observedFromIdeal(c.x, c.y, c.x, c.y);
    return observed;
}

void addNoise(cv::Mat& image, double sigma, unsigned seed) {
    cv::RNG rng(seed);
    cv::Mat noise(image.size(), CV_32FC(image.channels()));
    rng.fill(noise, cv::RNG::NORMAL, 0, sigma);
    cv::Mat f;
    image.convertTo(f, CV_32F);
    f += noise;
    f.convertTo(image, image.type());
}

}  // namespace quorv::markers::testing
