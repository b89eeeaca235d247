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

/// The classic form's free values: mat's fx, fy, cx, cy and the lens's x0, y0, f. Its fourth lens
/// value s stays 1: it scales the ideal pixel's offset from (x0, y0), which mat's focal lengths
/// and principal point already do, so a fit with s free has no single answer.
using Classic = cv::Matx<double, 7, 1>;

osgART::CameraParameters classicCamera(cv::Size size, const Classic& t) {
    osgART::CameraParameters c;
    c.xsize = size.width;
    c.ysize = size.height;
    c.model = osgART::CameraParameters::Model::Radial4;
    c.mat = {{{t(0), 0.0, t(2), 0.0}, {0.0, t(1), t(3), 0.0}, {0.0, 0.0, 1.0, 0.0}}};
    c.dist = {t(4), t(5), t(6), 1.0};
    return c;
}

/// Found minus projected corners of one view (x, y interleaved), the board at pose (r, t).
cv::Mat viewResiduals(const osgART::CameraParameters& camera, const cv::Vec3d& r,
                      const cv::Vec3d& t, const std::vector<cv::Point3f>& points,
                      const BoardView& view) {
    cv::Matx33d R;
    cv::Rodrigues(r, R);
    cv::Mat out(int(2 * points.size()), 1, CV_64F);
    for (size_t i = 0; i < points.size(); ++i) {
        const cv::Vec3d X = R * cv::Vec3d(points[i].x, points[i].y, points[i].z) + t;
        const cv::Point2d d = cv::Point2d(view.corners[i]) - pixelOf(camera, X / X[2]);
        out.at<double>(int(2 * i)) = d.x;
        out.at<double>(int(2 * i + 1)) = d.y;
    }
    return out;
}

/// Levenberg-Marquardt from the unknowns x (a column): `normal(x, A, g)` adds J'J to A and J'r to
/// g, J being the Jacobian of the residuals r at x; `cost(x)` is r'r. The damping matters where a
/// lens is nearly ideal: with f near 0 the distortion centre hardly changes anything and a plain
/// Gauss-Newton step would send it far away. Returns where it settles, and there the cost.
template <class Normal, class Cost>
cv::Mat levenbergMarquardt(cv::Mat x, Normal normal, Cost cost, double* finalCost) {
    double now = cost(x), lambda = 1e-3;
    for (int iteration = 0; iteration < 100 && lambda < 1e8; ++iteration) {
        cv::Mat A = cv::Mat::zeros(x.rows, x.rows, CV_64F), g = cv::Mat::zeros(x.rows, 1, CV_64F);
        normal(x, A, g);
        while (lambda < 1e8) {
            cv::Mat damped = A.clone(), step;
            for (int j = 0; j < x.rows; ++j)
                damped.at<double>(j, j) += lambda * A.at<double>(j, j) + 1e-12;
            cv::solve(damped, -g, step, cv::DECOMP_CHOLESKY);
            const cv::Mat next = x + step;
            const double then = cost(next);
            if (then < now) {
                const bool settled = now - then < 1e-12 * now;
                x = next;
                now = then;
                lambda = settled ? 1e9 : std::max(1e-9, lambda / 10);
                break;
            }
            lambda *= 10;
        }
    }
    if (finalCost) *finalCost = now;
    return x;
}

/// Levenberg-Marquardt on a few unknowns whose residuals all depend on all of them, with a
/// numerical Jacobian.
template <class Residuals>
cv::Mat fitDense(const cv::Mat& x, Residuals residuals) {
    auto normal = [&](const cv::Mat& at, cv::Mat& A, cv::Mat& g) {
        const cv::Mat r = residuals(at);
        cv::Mat J(r.rows, at.rows, CV_64F);
        for (int j = 0; j < at.rows; ++j) {
            cv::Mat moved = at.clone();
            const double h = 1e-6 * std::max(1.0, std::abs(at.at<double>(j)));
            moved.at<double>(j) += h;
            const cv::Mat column = (residuals(moved) - r) / h;
            column.copyTo(J.col(j));
        }
        A += J.t() * J;
        g += J.t() * r;
    };
    auto cost = [&](const cv::Mat& at) { return cv::norm(residuals(at), cv::NORM_L2SQR); };
    return levenbergMarquardt(x, normal, cost, nullptr);
}

/// The rays a camera puts at a grid of pixels covering its picture.
struct RayGrid {
    std::vector<cv::Point2d> pixels;
    std::vector<cv::Vec3d> rays;

    explicit RayGrid(const osgART::CameraParameters& camera)
        : pixels(imageGrid(camera.xsize, camera.ysize)) {
        for (const cv::Point2d& p : pixels) rays.push_back(rayOf(camera, p));
    }
    /// Where `camera` puts the rays, minus the pixels (x, y interleaved).
    cv::Mat residuals(const osgART::CameraParameters& camera) const;
};

cv::Mat RayGrid::residuals(const osgART::CameraParameters& camera) const {
    cv::Mat r(int(2 * pixels.size()), 1, CV_64F);
    for (size_t i = 0; i < pixels.size(); ++i) {
        const cv::Point2d d = pixelOf(camera, rays[i]) - pixels[i];
        r.at<double>(int(2 * i)) = d.x;
        r.at<double>(int(2 * i + 1)) = d.y;
    }
    return r;
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
    const RayGrid grid(camera);
    const auto k = camera.intrinsics();
    // fx, fy, cx, cy, x0, y0, f: the distortion centre starts at the principal point, f at 0.
    const cv::Mat x = (cv::Mat_<double>(7, 1) << k.fx, k.fy, k.cx, k.cy, k.cx, k.cy, 0.0);
    const cv::Size size(camera.xsize, camera.ysize);
    return classicCamera(size, fitDense(x, [&](const cv::Mat& t) {
                             return grid.residuals(classicCamera(size, Classic(t)));
                         }));
}

osgART::CameraParameters fitClassic(const Calibration& solve, const ViewCollector& views,
                                    Calibration* refined) {
    const std::vector<cv::Point3f> points = views.board().points();
    const int n = int(std::min(solve.rvecs.size(), views.views().size()));
    const osgART::CameraParameters start = fitClassic(solve.brown9());
    const auto k = start.intrinsics();
    // The unknowns: the classic values (7), then each view's rvec and tvec (6 each).
    cv::Mat x(7 + 6 * n, 1, CV_64F);
    const double first[7] = {k.fx, k.fy, k.cx, k.cy, start.dist[0], start.dist[1], start.dist[2]};
    for (int j = 0; j < 7; ++j) x.at<double>(j) = first[j];
    for (int v = 0; v < n; ++v)
        for (int j = 0; j < 3; ++j) {
            x.at<double>(7 + 6 * v + j) = solve.rvecs[v][j];
            x.at<double>(10 + 6 * v + j) = solve.tvecs[v][j];
        }
    auto classicAt = [&](const cv::Mat& at) {
        return classicCamera(views.imageSize(), Classic(at.ptr<double>(0)));
    };
    auto residualsOf = [&](const cv::Mat& at, const osgART::CameraParameters& camera, int v) {
        const double* p = at.ptr<double>(7 + 6 * v);
        return viewResiduals(camera, {p[0], p[1], p[2]}, {p[3], p[4], p[5]}, points,
                             views.views()[v]);
    };
    auto cost = [&](const cv::Mat& at) {
        const osgART::CameraParameters camera = classicAt(at);
        double sum = 0.0;
        for (int v = 0; v < n; ++v) sum += cv::norm(residualsOf(at, camera, v), cv::NORM_L2SQR);
        return sum;
    };
    // A view's residuals depend only on the classic values and its own pose, so each view adds a
    // 13-column block of the numerical Jacobian to the normal equations.
    auto normal = [&](const cv::Mat& at, cv::Mat& A, cv::Mat& g) {
        const osgART::CameraParameters camera = classicAt(at);
        for (int v = 0; v < n; ++v) {
            const cv::Mat r = residualsOf(at, camera, v);
            cv::Mat J(r.rows, 13, CV_64F);
            int index[13];
            for (int j = 0; j < 13; ++j) {
                index[j] = j < 7 ? j : 6 * v + j;
                cv::Mat moved = at.clone();
                const double h = 1e-6 * std::max(1.0, std::abs(at.at<double>(index[j])));
                moved.at<double>(index[j]) += h;
                const cv::Mat column =
                    (residualsOf(moved, j < 7 ? classicAt(moved) : camera, v) - r) / h;
                column.copyTo(J.col(j));
            }
            const cv::Mat JtJ = J.t() * J, Jtr = J.t() * r;
            for (int a = 0; a < 13; ++a) {
                g.at<double>(index[a]) += Jtr.at<double>(a);
                for (int b = 0; b < 13; ++b)
                    A.at<double>(index[a], index[b]) += JtJ.at<double>(a, b);
            }
        }
    };
    double finalCost = 0.0;
    x = levenbergMarquardt(x, normal, cost, &finalCost);
    if (refined) {
        *refined = solve;
        refined->rvecs.resize(n);
        refined->tvecs.resize(n);
        for (int v = 0; v < n; ++v) {
            const double* p = x.ptr<double>(7 + 6 * v);
            refined->rvecs[v] = {p[0], p[1], p[2]};
            refined->tvecs[v] = {p[3], p[4], p[5]};
        }
        refined->rms = n ? std::sqrt(finalCost / (n * points.size())) : 0.0;
    }
    return classicAt(x);
}

double lensGap(const osgART::CameraParameters& reference, const osgART::CameraParameters& other) {
    const RayGrid grid(reference);
    const auto k = other.intrinsics();
    auto withMat = [&other](const cv::Mat& t) {
        osgART::CameraParameters c = other;
        c.mat = {{{t.at<double>(0), 0.0, t.at<double>(2), 0.0},
                  {0.0, t.at<double>(1), t.at<double>(3), 0.0},
                  {0.0, 0.0, 1.0, 0.0}}};
        return c;
    };
    const cv::Mat x = fitDense((cv::Mat_<double>(4, 1) << k.fx, k.fy, k.cx, k.cy),
                               [&](const cv::Mat& t) { return grid.residuals(withMat(t)); });
    return largestGap(reference, withMat(x));
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
