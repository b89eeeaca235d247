#include "Calibrator.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <opencv2/calib3d.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace quorv {
namespace {

constexpr double kPi = 3.14159265358979323846;
/// Fewer views than this leave the lens poorly determined.
constexpr size_t kEnoughViews = 10;

/// The camera's mat as a 3x3 (its fourth column is zero for a camera of its own frame).
cv::Matx33d leftOf(const osgART::CameraParameters& camera) {
    cv::Matx33d m;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) m(r, c) = camera.mat[r][c];
    return m;
}

/// Rows of observed pixels covering a picture, edges included.
std::vector<cv::Point2d> imageGrid(int width, int height, int across = 33, int down = 25) {
    std::vector<cv::Point2d> grid;
    for (int j = 0; j < down; ++j)
        for (int i = 0; i < across; ++i)
            grid.emplace_back((width - 1) * double(i) / (across - 1),
                              (height - 1) * double(j) / (down - 1));
    return grid;
}

}  // namespace

std::vector<cv::Point3f> Board::points() const {
    std::vector<cv::Point3f> out;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
            out.emplace_back(float(c * squareMm), float(r * squareMm), 0.0f);
    return out;
}

std::optional<BoardView> findBoard(const cv::Mat& grey, const Board& board) {
    BoardView view;
    if (!cv::findChessboardCorners(
            grey, board.patternSize(), view.corners,
            cv::CALIB_CB_ADAPTIVE_THRESH | cv::CALIB_CB_NORMALIZE_IMAGE | cv::CALIB_CB_FAST_CHECK))
        return std::nullopt;
    // The refinement window stays inside the squares around a corner: under half their side.
    double spacing = 1e9;
    for (int r = 0; r < board.rows; ++r)
        for (int c = 0; c + 1 < board.cols; ++c) {
            const cv::Point2f d =
                view.corners[r * board.cols + c + 1] - view.corners[r * board.cols + c];
            spacing = std::min(spacing, std::hypot(double(d.x), double(d.y)));
        }
    const int half = std::clamp(static_cast<int>(spacing * 0.4), 2, 11);
    cv::cornerSubPix(grey, view.corners, cv::Size(half, half), cv::Size(-1, -1),
                     cv::TermCriteria(cv::TermCriteria::EPS | cv::TermCriteria::COUNT, 40, 0.001));
    view.edgeWidth = cv::estimateChessboardSharpness(grey, board.patternSize(), view.corners)[0];
    return view;
}

ViewCollector::Outcome ViewCollector::offer(const BoardView& view) {
    if (view.edgeWidth > maxEdgeWidth) {
        ++_blurred;
        return Outcome::Blurred;
    }
    const double diagonal = std::hypot(double(_size.width), double(_size.height));
    for (const BoardView& taken : _views) {
        double sum = 0.0;
        for (size_t i = 0; i < view.corners.size(); ++i) {
            const cv::Point2f d = view.corners[i] - taken.corners[i];
            sum += std::hypot(double(d.x), double(d.y));
        }
        if (sum / view.corners.size() < minMove * diagonal) {
            ++_duplicates;
            return Outcome::Duplicate;
        }
    }
    _views.push_back(view);
    for (const cv::Point2f& p : view.corners) {
        const int c = std::clamp(int(p.x * kGridCols / _size.width), 0, kGridCols - 1);
        const int r = std::clamp(int(p.y * kGridRows / _size.height), 0, kGridRows - 1);
        ++_coverage.at<int>(r, c);
    }
    return Outcome::Taken;
}

double ViewCollector::coveredShare() const {
    return double(cv::countNonZero(_coverage)) / (kGridCols * kGridRows);
}

std::vector<std::string> ViewCollector::emptyCorners() const {
    const char* names[4] = {"top left", "top right", "bottom right", "bottom left"};
    const int cols[4] = {0, kGridCols - 2, kGridCols - 2, 0};
    const int rows[4] = {0, 0, kGridRows - 2, kGridRows - 2};
    std::vector<std::string> empty;
    for (int i = 0; i < 4; ++i)
        if (cv::countNonZero(_coverage(cv::Rect(cols[i], rows[i], 2, 2))) == 0)
            empty.push_back(names[i]);
    return empty;
}

osgART::CameraParameters Calibration::brown9() const {
    osgART::CameraParameters p;
    p.xsize = imageSize.width;
    p.ysize = imageSize.height;
    p.model = osgART::CameraParameters::Model::Brown9;
    p.mat = {
        {{K(0, 0), K(0, 1), K(0, 2), 0.0}, {0.0, K(1, 1), K(1, 2), 0.0}, {0.0, 0.0, 1.0, 0.0}}};
    p.dist = {dist[0], dist[1], dist[2], dist[3], K(0, 0), K(1, 1), K(0, 2), K(1, 2), 1.0};
    return p;
}

double Calibration::largestTilt() const {
    double largest = 0.0;
    for (size_t i = 0; i < rvecs.size(); ++i) {
        cv::Matx33d R;
        cv::Rodrigues(rvecs[i], R);
        const cv::Vec3d normal(R(0, 2), R(1, 2), R(2, 2)), sight = cv::normalize(tvecs[i]);
        largest =
            std::max(largest, std::acos(std::min(1.0, std::abs(normal.dot(sight)))) * 180.0 / kPi);
    }
    return largest;
}

std::optional<Calibration> calibrate(const ViewCollector& views) {
    if (views.views().size() < 3) return std::nullopt;
    std::vector<std::vector<cv::Point3f>> object;
    std::vector<std::vector<cv::Point2f>> image;
    for (const BoardView& v : views.views()) {
        object.push_back(views.board().points());
        image.push_back(v.corners);
    }
    Calibration out;
    out.imageSize = views.imageSize();
    cv::Mat K, dist;
    std::vector<cv::Mat> rvecs, tvecs;
    try {
        out.rms = cv::calibrateCamera(object, image, out.imageSize, K, dist, rvecs, tvecs,
                                      cv::CALIB_FIX_K3);
    } catch (const cv::Exception&) {
        return std::nullopt;
    }
    if (!std::isfinite(out.rms)) return std::nullopt;
    out.K = cv::Matx33d(K);
    for (int i = 0; i < 4; ++i) out.dist[i] = dist.at<double>(i);
    for (size_t i = 0; i < rvecs.size(); ++i) {
        out.rvecs.emplace_back(rvecs[i]);
        out.tvecs.emplace_back(tvecs[i]);
    }
    return out;
}

cv::Point2d pixelOf(const osgART::CameraParameters& camera, const cv::Vec3d& ray) {
    const auto& m = camera.mat;
    double q[3];
    for (int r = 0; r < 3; ++r)
        q[r] = m[r][0] * ray[0] + m[r][1] * ray[1] + m[r][2] * ray[2] + m[r][3];
    cv::Point2d out;
    camera.observedFromIdeal(q[0] / q[2], q[1] / q[2], out.x, out.y);
    return out;
}

cv::Vec3d rayOf(const osgART::CameraParameters& camera, const cv::Point2d& pixel) {
    double ix, iy;
    camera.idealFromObserved(pixel.x, pixel.y, ix, iy);
    const cv::Vec3d ray = leftOf(camera).inv() * cv::Vec3d(ix, iy, 1.0);
    return ray / ray[2];
}

double reprojectionRms(const osgART::CameraParameters& camera, const Calibration& solve,
                       const ViewCollector& views) {
    const std::vector<cv::Point3f> points = views.board().points();
    double sum = 0.0;
    size_t n = 0;
    for (size_t v = 0; v < solve.rvecs.size(); ++v) {
        cv::Matx33d R;
        cv::Rodrigues(solve.rvecs[v], R);
        for (size_t i = 0; i < points.size(); ++i) {
            const cv::Vec3d X =
                R * cv::Vec3d(points[i].x, points[i].y, points[i].z) + solve.tvecs[v];
            const cv::Point2d d =
                pixelOf(camera, X / X[2]) - cv::Point2d(views.views()[v].corners[i]);
            sum += d.dot(d);
            ++n;
        }
    }
    return n ? std::sqrt(sum / n) : 0.0;
}

double largestGap(const osgART::CameraParameters& reference,
                  const osgART::CameraParameters& other) {
    double largest = 0.0;
    for (const cv::Point2d& p : imageGrid(reference.xsize, reference.ysize))
        largest = std::max(largest, cv::norm(pixelOf(other, rayOf(reference, p)) - p));
    return largest;
}

osgART::CameraParameters fitClassic(const osgART::CameraParameters& camera) {
    std::vector<cv::Point2d> pixels = imageGrid(camera.xsize, camera.ysize);
    std::vector<cv::Vec3d> rays;
    for (const cv::Point2d& p : pixels) rays.push_back(rayOf(camera, p));

    const auto k = camera.intrinsics();
    // fx, fy, cx, cy, x0, y0, f: the distortion centre starts at the principal point, f at 0.
    cv::Matx<double, 7, 1> x(k.fx, k.fy, k.cx, k.cy, k.cx, k.cy, 0.0);
    auto model = [&camera](const cv::Matx<double, 7, 1>& t) {
        osgART::CameraParameters c;
        c.xsize = camera.xsize;
        c.ysize = camera.ysize;
        c.model = osgART::CameraParameters::Model::Radial4;
        c.mat = {{{t(0), 0.0, t(2), 0.0}, {0.0, t(1), t(3), 0.0}, {0.0, 0.0, 1.0, 0.0}}};
        c.dist = {t(4), t(5), t(6), 1.0};
        return c;
    };
    auto residuals = [&](const cv::Matx<double, 7, 1>& t) {
        const osgART::CameraParameters c = model(t);
        cv::Mat r(int(2 * pixels.size()), 1, CV_64F);
        for (size_t i = 0; i < pixels.size(); ++i) {
            const cv::Point2d d = pixelOf(c, rays[i]) - pixels[i];
            r.at<double>(int(2 * i)) = d.x;
            r.at<double>(int(2 * i + 1)) = d.y;
        }
        return r;
    };
    // Levenberg-Marquardt with a numerical Jacobian. The damping matters where the lens is
    // nearly ideal: with f near 0 the distortion centre hardly changes anything and a plain
    // Gauss-Newton step would send it far away.
    cv::Mat r = residuals(x);
    double cost = r.dot(r), lambda = 1e-3;
    for (int iteration = 0; iteration < 50 && lambda < 1e8; ++iteration) {
        cv::Mat J(r.rows, 7, CV_64F);
        for (int j = 0; j < 7; ++j) {
            cv::Matx<double, 7, 1> moved = x;
            const double h = 1e-6 * std::max(1.0, std::abs(x(j)));
            moved(j) += h;
            cv::Mat column = (residuals(moved) - r) / h;
            column.copyTo(J.col(j));
        }
        const cv::Mat A = J.t() * J, g = J.t() * r;
        while (lambda < 1e8) {
            cv::Mat damped = A.clone(), step;
            for (int j = 0; j < 7; ++j)
                damped.at<double>(j, j) += lambda * A.at<double>(j, j) + 1e-9;
            cv::solve(damped, -g, step, cv::DECOMP_CHOLESKY);
            cv::Matx<double, 7, 1> next = x;
            for (int j = 0; j < 7; ++j) next(j) += step.at<double>(j);
            const cv::Mat nr = residuals(next);
            if (nr.dot(nr) < cost) {
                x = next;
                r = nr;
                const bool settled = cost - nr.dot(nr) < 1e-12 * cost;
                cost = nr.dot(nr);
                lambda = std::max(1e-9, lambda / 10);
                if (settled) lambda = 1e9;
                break;
            }
            lambda *= 10;
        }
    }
    return model(x);
}

std::string verdict(const ViewCollector& views, const Calibration* solve) {
    std::vector<std::string> advice;
    const size_t taken = views.views().size();
    if (taken < kEnoughViews)
        advice.push_back("too few views: " + std::to_string(taken) + " taken, take at least " +
                         std::to_string(kEnoughViews - taken) + " more");
    if (views.blurred() > int(taken) || (solve && solve->rms > 0.5))
        advice.push_back("hold the board still (and flat) while a view is taken");
    const std::vector<std::string> corners = views.emptyCorners();
    if (!corners.empty()) {
        std::string list;
        for (const std::string& c : corners) list += (list.empty() ? "" : ", ") + c;
        advice.push_back("take more views near the corners of the picture (" + list + ")");
    } else if (views.coveredShare() < 0.7) {
        advice.push_back("take more views near the edges of the picture");
    }
    if (solve && solve->largestTilt() < 20.0)
        advice.push_back("tip the board away from the camera (20 to 40 degrees) in some views");
    if (advice.empty()) return "good";
    std::string out;
    for (const std::string& a : advice) out += (out.empty() ? "" : "; ") + a;
    return out;
}

cv::Mat chessboardSheet(const Board& board, int dpi) {
    const double dots = dpi / 25.4;  // per mm
    const double wide = (board.cols + 1) * board.squareMm, high = (board.rows + 1) * board.squareMm;
    // A4 turned to suit the board, with 15 mm of margin and room for the text below it.
    const bool landscape = wide > high;
    const double pageW = landscape ? 297 : 210, pageH = landscape ? 210 : 297;
    if (wide > pageW - 30 || high > pageH - 60) return cv::Mat();
    cv::Mat sheet(int(std::lround(pageH * dots)), int(std::lround(pageW * dots)), CV_8U,
                  cv::Scalar(255));
    const double left = (pageW - wide) / 2, top = 15;
    for (int r = 0; r <= board.rows; ++r)
        for (int c = 0; c <= board.cols; ++c)
            if ((r + c) % 2 == 0) {
                const cv::Point a(int(std::lround((left + c * board.squareMm) * dots)),
                                  int(std::lround((top + r * board.squareMm) * dots)));
                const cv::Point b(int(std::lround((left + (c + 1) * board.squareMm) * dots)),
                                  int(std::lround((top + (r + 1) * board.squareMm) * dots)));
                cv::rectangle(sheet, cv::Rect(a, b), cv::Scalar(0), cv::FILLED);
            }
    char text[160];
    std::snprintf(text, sizeof text, "quorv-calibrate board: %d x %d inner corners, squares %g mm",
                  board.cols, board.rows, board.squareMm);
    const double scale = dpi / 150.0;
    int y = int((top + high + 12) * dots);
    cv::putText(sheet, text, cv::Point(int(left * dots), y), cv::FONT_HERSHEY_SIMPLEX, scale,
                cv::Scalar(0), std::max(1, dpi / 100), cv::LINE_AA);
    y += int(10 * dots);
    std::snprintf(text, sizeof text,
                  "Print at 100 %% (%d dpi). This line must measure 100 mm; if not, pass "
                  "--square-mm with the measured square size:",
                  dpi);
    cv::putText(sheet, text, cv::Point(int(left * dots), y), cv::FONT_HERSHEY_SIMPLEX, scale * 0.6,
                cv::Scalar(0), std::max(1, dpi / 150), cv::LINE_AA);
    y += int(6 * dots);
    const int x0 = int(left * dots), x1 = int((left + 100) * dots);
    cv::line(sheet, {x0, y}, {x1, y}, cv::Scalar(0), std::max(1, dpi / 100));
    for (int x : {x0, x1})
        cv::line(sheet, {x, y - int(2 * dots)}, {x, y + int(2 * dots)}, cv::Scalar(0),
                 std::max(1, dpi / 100));
    return sheet;
}

bool writeSheet(const std::string& path, const cv::Mat& sheet, int dpi) {
    std::vector<uchar> png;
    if (!cv::imencode(".png", sheet, png) || png.size() < 33) return false;
    // A pHYs chunk after the header (8 bytes of signature, 25 of IHDR): pixels per metre.
    const uint32_t perMetre = uint32_t(std::lround(dpi / 0.0254));
    std::vector<uchar> chunk{0, 0, 0, 9, 'p', 'H', 'Y', 's'};
    for (int i = 0; i < 2; ++i)
        for (int b = 3; b >= 0; --b) chunk.push_back(uchar(perMetre >> (8 * b)));
    chunk.push_back(1);  // unit: metre
    uint32_t crc = 0xffffffffu;
    for (size_t i = 4; i < chunk.size(); ++i) {
        crc ^= chunk[i];
        for (int b = 0; b < 8; ++b) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    crc ^= 0xffffffffu;
    for (int b = 3; b >= 0; --b) chunk.push_back(uchar(crc >> (8 * b)));
    png.insert(png.begin() + 33, chunk.begin(), chunk.end());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(png.data()), std::streamsize(png.size()));
    return bool(out);
}

}  // namespace quorv
