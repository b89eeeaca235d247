#pragma once

// Reading the viewer's window: what was drawn over the camera picture, and where.

#include <array>
#include <functional>
#include <opencv2/core.hpp>
#include <optional>

namespace quorvtest {

/// The pixels (CV_8U, 255 = set) where `picture` differs from the camera frame `frame` by more
/// than `threshold` in some channel: what the program drew over the video.
cv::Mat drawnOver(const cv::Mat& picture, const cv::Mat& frame, int threshold = 40);

/// The pixels whose colour (B, G, R) `wanted` accepts.
cv::Mat pixelsWhere(const cv::Mat& picture, const std::function<bool(const cv::Vec3b&)>& wanted);

/// A mask grown (positive `pixels`) or shrunk (negative) by a disc of that radius.
cv::Mat grown(const cv::Mat& mask, int pixels);

/// Share of the set pixels of `part` that are also set in `whole`; 1 when `part` is empty.
double shareInside(const cv::Mat& part, const cv::Mat& whole);

/// Centre of mass of the set pixels (pixel centres at integer coordinates).
cv::Point2d centroid(const cv::Mat& mask);

/// The corners of the largest region of `mask` that is a quadrilateral, to a fraction of a
/// pixel: lines are fitted to where each side crosses from set to unset pixels, and adjacent
/// lines intersected. In order around the region, starting anywhere; none when the
/// largest region has not four clear sides.
std::optional<std::array<cv::Point2d, 4>> quadCorners(const cv::Mat& mask);

}  // namespace quorvtest
