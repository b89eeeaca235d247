#pragma once

#include <osgart/CameraParameters.h>

#include <array>
#include <opencv2/core.hpp>
#include <optional>
#include <string>
#include <vector>

namespace quorv {

/// A printed chessboard: cols × rows inner corners (where four squares meet), squares of squareMm.
struct Board {
    int cols = 9;
    int rows = 6;
    double squareMm = 25.0;

    cv::Size patternSize() const { return {cols, rows}; }
    /// The inner corners on the board (mm, z = 0), row by row, as the chessboard finder orders
    /// them.
    std::vector<cv::Point3f> points() const;
};

/// The board as found in one picture.
struct BoardView {
    std::vector<cv::Point2f>
        corners;             ///< refined to a fraction of a pixel, pixel centres at integers
    double edgeWidth = 0.0;  ///< how many pixels a black-white edge takes to rise (blur)
};

/// Finds the whole board in a grey picture and refines its corners; nothing if it is not all seen.
std::optional<BoardView> findBoard(const cv::Mat& grey, const Board& board);

/// Collects the views a calibration is made from, turning away blurred ones and ones too close to a
/// view already taken, and keeps count of what it turned away and where the board has been.
class ViewCollector {
  public:
    enum class Outcome { Taken, Blurred, Duplicate };
    /// Coverage is counted on a grid of this many cells across and down the picture.
    static constexpr int kGridCols = 8, kGridRows = 6;

    ViewCollector(const Board& board, cv::Size imageSize) : _board(board), _size(imageSize) {}

    Outcome offer(const BoardView& view);

    const Board& board() const { return _board; }
    cv::Size imageSize() const { return _size; }
    const std::vector<BoardView>& views() const { return _views; }
    int blurred() const { return _blurred; }
    int duplicates() const { return _duplicates; }
    /// Board corners taken per grid cell (kGridRows × kGridCols, CV_32S).
    const cv::Mat& coverage() const { return _coverage; }
    /// Share of grid cells with a board corner in them, 0..1.
    double coveredShare() const;
    /// The corners of the picture (top left, top right, bottom right, bottom left) that no view
    /// has reached: the 2 × 2 cells in each.
    std::vector<std::string> emptyCorners() const;

    /// Edges wider than this (pixels) mean a blurred view.
    double maxEdgeWidth = 3.0;
    /// A view whose corners lie on average closer than this share of the picture's diagonal to
    /// those of a view already taken adds nothing.
    double minMove = 0.04;

  private:
    Board _board;
    cv::Size _size;
    std::vector<BoardView> _views;
    int _blurred = 0, _duplicates = 0;
    cv::Mat _coverage = cv::Mat::zeros(kGridRows, kGridCols, CV_32S);
};

/// What the solve found: the camera in OpenCV's terms and the board's pose in every view.
struct Calibration {
    cv::Size imageSize;
    cv::Matx33d K;
    std::array<double, 4> dist{};  ///< k1, k2, p1, p2 (k3 held at 0: the 176-byte form has none)
    double rms = 0.0;              ///< reprojection error of the solve, pixels
    std::vector<cv::Vec3d> rvecs, tvecs;

    /// The 176-byte form: mat = [K | 0], distortion (k1, k2, p1, p2, fx, fy, cx, cy, 1).
    osgART::CameraParameters brown9() const;
    /// Largest angle between a view's board normal and the line of sight to it, degrees.
    double largestTilt() const;
};

/// Solves for the camera from the views taken (cv::calibrateCamera). Nothing if there are fewer
/// than three views or the solve fails.
std::optional<Calibration> calibrate(const ViewCollector& views);

/// RMS distance (pixels) between the corners found and where `camera` puts the board's points at
/// the solve's poses: the reprojection error of a written camera file.
double reprojectionRms(const osgART::CameraParameters& camera, const Calibration& solve,
                       const ViewCollector& views);

/// Where `camera` puts the ray (x, y, 1) of the camera frame (observed pixels).
cv::Point2d pixelOf(const osgART::CameraParameters& camera, const cv::Vec3d& ray);
/// The ray (x, y, 1) that `camera` puts at an observed pixel.
cv::Vec3d rayOf(const osgART::CameraParameters& camera, const cv::Point2d& pixel);
/// The largest distance (pixels), over a grid covering the whole picture of `reference`, between
/// where `reference` and `other` put the same rays.
double largestGap(const osgART::CameraParameters& reference, const osgART::CameraParameters& other);

/// The largest distance (pixels) over the picture between the lens of `other` and that of
/// `reference`: largestGap once `other`'s focal lengths and principal point (its mat) are those
/// that bring it closest to `reference`. It tells how well one lens model follows another apart
/// from the pinhole part, which focal length and principal point errors account for.
double lensGap(const osgART::CameraParameters& reference, const osgART::CameraParameters& other);

/// The classic 136-byte form that comes closest to `camera`: mat (fx, fy, cx, cy) and the
/// classic lens (x0, y0, f; s = 1, which loses nothing as mat absorbs the scale) fitted together
/// by Gauss-Newton to the rays of a grid covering the picture.
osgART::CameraParameters fitClassic(const osgART::CameraParameters& camera);
/// The classic 136-byte form fitted to the board corners found in the views: mat (fx, fy, cx, cy),
/// the classic lens (x0, y0, f; s = 1 as above) and every view's board pose, by Levenberg-Marquardt
/// from the solve's poses and the classic form closest to its lens. Fitted to what the camera saw,
/// it follows the lens into the picture's corners, where the solve's own lens model may stray
/// beyond the views. `refined`, if given, gets the solve with the fitted poses and, as rms, the
/// fit's reprojection error.
osgART::CameraParameters fitClassic(const Calibration& solve, const ViewCollector& views,
                                    Calibration* refined = nullptr);

/// Plain-words verdict: "good", or what to do to get a better calibration.
std::string verdict(const ViewCollector& views, const Calibration* solve);

/// A printable sheet (grey, `dpi` dots per inch): the board centred on an A4 page, with its square
/// size, corner count and a 100 mm check line written on it. Empty if the board does not fit.
cv::Mat chessboardSheet(const Board& board, int dpi = 300);
/// Writes a sheet as PNG, recording its dots per inch so that it prints at true size.
bool writeSheet(const std::string& path, const cv::Mat& sheet, int dpi = 300);

}  // namespace quorv
