#include "SynthRenderer.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace quorv {
namespace {

constexpr double kPi = 3.14159265358979323846;
/// Marker images smaller than this (pixels per side) are treated as pixel art and enlarged with
/// nearest-neighbour sampling, so their cells keep sharp edges.
constexpr int kPixelArtSide = 512;
/// Points closer to the camera than this (mm) are not drawn.
constexpr double kNearMm = 1.0;

using Point2 = std::array<double, 2>;

/// Clips a convex polygon to an axis-aligned box (Sutherland–Hodgman, one side at a time).
std::vector<Point2> clipToBox(std::vector<Point2> poly, double x0, double y0, double x1,
                              double y1) {
    auto clip = [&poly](auto inside, auto cross) {
        std::vector<Point2> out;
        for (size_t i = 0; i < poly.size(); ++i) {
            const Point2& a = poly[i];
            const Point2& b = poly[(i + 1) % poly.size()];
            const bool ina = inside(a), inb = inside(b);
            if (ina) out.push_back(a);
            if (ina != inb) out.push_back(cross(a, b));
        }
        poly = out;
    };
    auto atX = [](double x) {
        return [x](const Point2& a, const Point2& b) {
            const double f = (x - a[0]) / (b[0] - a[0]);
            return Point2{x, a[1] + f * (b[1] - a[1])};
        };
    };
    auto atY = [](double y) {
        return [y](const Point2& a, const Point2& b) {
            const double f = (y - a[1]) / (b[1] - a[1]);
            return Point2{a[0] + f * (b[0] - a[0]), y};
        };
    };
    clip([x0](const Point2& p) { return p[0] >= x0; }, atX(x0));
    clip([x1](const Point2& p) { return p[0] <= x1; }, atX(x1));
    clip([y0](const Point2& p) { return p[1] >= y0; }, atY(y0));
    clip([y1](const Point2& p) { return p[1] <= y1; }, atY(y1));
    return poly;
}

std::array<double, 3> transform(const std::array<double, 12>& pose, double x, double y, double z) {
    return {pose[0] * x + pose[1] * y + pose[2] * z + pose[3],
            pose[4] * x + pose[5] * y + pose[6] * z + pose[7],
            pose[8] * x + pose[9] * y + pose[10] * z + pose[11]};
}

/// A smooth, light, unremarkable surface: nothing in it is dark enough to look like a marker
/// border at the usual threshold.
cv::Mat generatedBackground(int width, int height, unsigned seed) {
    cv::RNG rng(0x5eed0000u ^ seed);
    cv::Mat base(height, width, CV_32FC3);
    const cv::Scalar tint(rng.uniform(175, 215), rng.uniform(175, 215), rng.uniform(175, 215));
    // Low-frequency light variation.
    cv::Mat coarse(5, 7, CV_32FC3);
    rng.fill(coarse, cv::RNG::UNIFORM, cv::Scalar::all(-22), cv::Scalar::all(22));
    cv::resize(coarse, base, base.size(), 0, 0, cv::INTER_CUBIC);
    base += tint;
    // Soft shapes of the room behind the visitor.
    cv::Mat shapes(height, width, CV_32FC3, cv::Scalar::all(0));
    for (int i = 0; i < 14; ++i) {
        const cv::Point centre(rng.uniform(0, width), rng.uniform(0, height));
        const cv::Size axes(rng.uniform(width / 20, width / 4),
                            rng.uniform(height / 20, height / 4));
        const double shade = rng.uniform(-30.0, 25.0);
        cv::ellipse(
            shapes, centre, axes, rng.uniform(0.0, 180.0), 0, 360,
            cv::Scalar(shade + rng.uniform(-6.0, 6.0), shade, shade + rng.uniform(-6.0, 6.0)),
            cv::FILLED, cv::LINE_AA);
    }
    cv::GaussianBlur(shapes, shapes, cv::Size(), std::max(2.0, width / 80.0));
    base += shapes;
    // Fine grain, like paper or a wooden table.
    cv::Mat grain(height, width, CV_32FC3);
    rng.fill(grain, cv::RNG::NORMAL, cv::Scalar::all(0), cv::Scalar::all(4));
    cv::GaussianBlur(grain, grain, cv::Size(), 0.8);
    base += grain;
    cv::Mat out;
    base.convertTo(out, CV_8UC3);
    cv::max(out, cv::Scalar::all(130), out);
    return out;
}

/// A finger's body in the marker's plane (mm): a capsule of radius `radius` around the segment
/// centre ± axis × halfLength (axis points to the tip), whose tip cap is squashed along the axis
/// by `tipScale` (1 = round). In the squashed frame it is a plain capsule, which gives its height
/// above the paper (a round cross-section) and so its shading.
struct FingerShape {
    Point2 centre{}, axis{};
    double halfLength = 0.0, radius = 0.0, tipScale = 1.0;

    /// Offset from the core segment in the squashed frame: (along, across), mm.
    Point2 offset(const Point2& p) const {
        const double dx = p[0] - centre[0], dy = p[1] - centre[1];
        double along = dx * axis[0] + dy * axis[1];
        along = along > halfLength    ? (along - halfLength) / tipScale
                : along < -halfLength ? along + halfLength
                                      : 0.0;
        return {along, -dx * axis[1] + dy * axis[0]};
    }
    /// Negative inside the finger; its magnitude is mm at the sides, squashed mm at the tip.
    double distance(const Point2& p) const {
        const Point2 o = offset(p);
        return std::hypot(o[0], o[1]) - radius;
    }
    /// The surface normal above p (marker frame, z out of the paper), for a point inside.
    cv::Vec3d normal(const Point2& p) const {
        const Point2 o = offset(p);
        const double r = std::min(std::hypot(o[0], o[1]), radius);
        // The round section's normal, taken back through the squashing (inverse transpose).
        const double along = o[0] / radius / (o[0] > 0 ? tipScale : 1.0), across = o[1] / radius;
        const cv::Vec3d n(along * axis[0] - across * axis[1], along * axis[1] + across * axis[0],
                          std::sqrt(1.0 - (r / radius) * (r / radius)));
        return cv::normalize(n);
    }
    Point2 at(double along) const {
        return {centre[0] + along * axis[0], centre[1] + along * axis[1]};
    }
};

/// Where a finger lies on a marker of outer width `width` with `margin` mm of paper around it.
/// A corner thumb comes along the diagonal, a side thumb square to the side; both reach `depth`
/// inside the marker and go back out past the paper's edge by two and a half of their widths.
FingerShape fingerShape(const Finger& f, double width, double margin) {
    const double h = width / 2.0;
    const Point2 corners[4] = {{-h, h}, {h, h}, {h, -h}, {-h, -h}};  // UL, UR, LR, LL
    Point2 edge, axis;  // where the finger crosses the marker's edge, and inwards
    FingerShape shape;
    double outside;
    if (f.onCorner) {
        edge = corners[f.index];
        axis = {-edge[0] / (h * std::sqrt(2.0)), -edge[1] / (h * std::sqrt(2.0))};
        shape.radius = f.widthMm / 2.0;
        outside = margin * std::sqrt(2.0);
    } else {
        const Point2& a = corners[f.index];
        const Point2& b = corners[(f.index + 1) % 4];
        edge = {a[0] + f.position * (b[0] - a[0]), a[1] + f.position * (b[1] - a[1])};
        axis = {-(a[0] + b[0]) / (2 * h), -(a[1] + b[1]) / (2 * h)};
        shape.radius = f.share * width / 2.0;
        // A tip no deeper than the depth, so the whole share is covered along the edge.
        shape.tipScale = std::min(1.0, f.depth / shape.radius);
        outside = margin;
    }
    const double r = shape.radius;
    const double length = f.depth + outside + 2.5 * std::max(f.widthMm, 2 * r);
    // Core from r behind the back end to tipScale × r behind the tip.
    const double tip = f.depth - r * shape.tipScale, back = f.depth - length + r;
    shape.axis = axis;
    shape.centre = {edge[0] + axis[0] * (tip + back) / 2, edge[1] + axis[1] * (tip + back) / 2};
    shape.halfLength = (tip - back) / 2;
    return shape;
}

/// A picture lying in a marker's plane beside or over its paper.
struct PlanePicture {
    std::vector<cv::Mat> levels;  ///< BGRA mip pyramid, premultiplied colour
    std::array<double, 4> rect;   ///< x0, y0, x1, y1 in the marker's plane, mm
    cv::Matx33d texFromMarker;    ///< plane point (mm) to level-0 texel position
};

/// Skin tones (BGR) a thumb's colour is picked from.
const cv::Vec3d kSkinTones[] = {{176, 196, 236}, {140, 170, 222}, {110, 145, 200},
                                {82, 116, 168},  {60, 82, 120},   {150, 178, 226}};

/// The mip pyramid of a BGRA picture: level 0 as given, each next level half the size.
std::vector<cv::Mat> pyramid(cv::Mat picture) {
    std::vector<cv::Mat> levels{picture};
    while (std::min(picture.cols, picture.rows) > 8) {
        cv::Mat half;
        cv::resize(picture, half, cv::Size((picture.cols + 1) / 2, (picture.rows + 1) / 2), 0, 0,
                   cv::INTER_AREA);
        levels.push_back(half);
        picture = half;
    }
    return levels;
}

const char* const kClutterWords[] = {"EXIT",  "Tovarin", "CAFE", "1987", "ENTRADA",  "SALA 3",
                                     "MUSEO", "Ticket",  "42",   "QR",   "no flash", "Info"};

}  // namespace

struct SynthRenderer::PreparedMarker {
    std::vector<cv::Mat> levels;  ///< BGRA paper images, level 0 full size, each next one half
    int markerPx = 0;             ///< side of the marker (outer border edge) at level 0
    int marginPx = 0;             ///< white paper around it at level 0
    double widthMm = 0.0;
    std::array<double, 4> rect{};      ///< the paper in the marker's plane: x0, y0, x1, y1, mm
    cv::Matx33d paperFromMarker;       ///< plane point (mm) to level-0 texel position
    std::vector<PlanePicture> thumbs;  ///< one per finger of the script's marker
};

namespace {

/// A thumb's picture in the marker's plane: skin-toned, shaded as a rounded body lit from the
PlanePicture thumbPicture(const FingerShape& shape, cv::RNG& rng) {
    const double r = shape.radius, reach = shape.halfLength + r;
    const double scale = std::min(r, 12.0);  // of the shadow's offset and softness
    const Point2 shadowShift{0.25 * scale, -0.35 * scale};
    const double shadowBlur = 0.3 * scale;
    double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
    for (const double end : {-reach, reach})
        for (const double k : {0.0, 1.0}) {
            const Point2 c = shape.at(end);
            const double grow = r + k * (3 * shadowBlur + 1.0);
            x0 = std::min(x0, c[0] - grow + k * shadowShift[0]);
            x1 = std::max(x1, c[0] + grow + k * shadowShift[0]);
            y0 = std::min(y0, c[1] - grow + k * shadowShift[1]);
            y1 = std::max(y1, c[1] + grow + k * shadowShift[1]);
        }
    const double k = std::min(8.0, 2048.0 / std::max(x1 - x0, y1 - y0));  // texels per mm
    const int cols = static_cast<int>(std::ceil((x1 - x0) * k)),
              rows = static_cast<int>(std::ceil((y1 - y0) * k));
    const cv::Matx33d texFromMarker(k, 0, -x0 * k - 0.5, 0, -k, y1 * k - 0.5, 0, 0, 1);

    cv::Vec3d skin = kSkinTones[rng.uniform(0, int(std::size(kSkinTones)))];
    skin *= rng.uniform(0.93, 1.05);
    // The nail: a rounded patch from 0.2 to 1.3 nail sizes behind the tip, 1.2 sizes wide.
    const double nail = std::min(r, 11.0);
    const double tipAlong = shape.halfLength + r * shape.tipScale;
    const cv::Vec3d light = cv::normalize(cv::Vec3d(-0.35, 0.45, 0.82));
    const cv::Vec3d halfway = cv::normalize(light + cv::Vec3d(0, 0, 1));

    cv::Mat shadow(rows, cols, CV_32F), thumb(rows, cols, CV_32FC4, cv::Scalar::all(0));
    for (int j = 0; j < rows; ++j)
        for (int i = 0; i < cols; ++i) {
            const Point2 p{x0 + (i + 0.5) / k, y1 - (j + 0.5) / k};
            shadow.at<float>(j, i) =
                shape.distance({p[0] - shadowShift[0], p[1] - shadowShift[1]}) < 0 ? 1.0f : 0.0f;
            const double alpha = std::clamp(0.5 - shape.distance(p) * k, 0.0, 1.0);
            if (alpha <= 0) continue;
            const cv::Vec3d n = shape.normal(p);
            const double lit = std::max(0.0, n.dot(light));
            const double shine = std::pow(std::max(0.0, n.dot(halfway)), 24);
            cv::Vec3d colour = skin * (0.68 + 0.36 * lit);
            const double dx = p[0] - shape.centre[0], dy = p[1] - shape.centre[1];
            const double back = tipAlong - (dx * shape.axis[0] + dy * shape.axis[1]);
            const double across = -dx * shape.axis[1] + dy * shape.axis[0];
            const double inNail = std::pow(std::abs(back - 0.75 * nail) / (0.55 * nail), 2.5) +
                                  std::pow(std::abs(across) / (0.6 * nail), 2.5);
            if (inNail < 1.0) {
                // Lighter, pinker and glossier than the skin, with a darker rim.
                const double rim = std::clamp((inNail - 0.75) / 0.25, 0.0, 1.0);
                colour = 0.55 * colour + 0.45 * cv::Vec3d(200, 196, 238) * (0.7 + 0.35 * lit);
                colour *= 1.0 - 0.2 * rim;
                colour += cv::Vec3d::all(45 * shine);
            } else {
                colour += cv::Vec3d::all(30 * shine);
            }
            thumb.at<cv::Vec4f>(j, i) =
                cv::Vec4f(float(colour[0] * alpha), float(colour[1] * alpha),
                          float(colour[2] * alpha), float(255 * alpha));
        }
    cv::GaussianBlur(shadow, shadow, cv::Size(), shadowBlur * k);
    cv::Mat picture(rows, cols, CV_8UC4);
    for (int j = 0; j < rows; ++j)
        for (int i = 0; i < cols; ++i) {
            const cv::Vec4f& t = thumb.at<cv::Vec4f>(j, i);
            // The shadow is black, so it only adds to the coverage around the thumb.
            const float a = t[3] + (255 - t[3]) * 0.3f * shadow.at<float>(j, i);
            picture.at<cv::Vec4b>(j, i) =
                cv::Vec4b(cv::saturate_cast<uchar>(t[0]), cv::saturate_cast<uchar>(t[1]),
                          cv::saturate_cast<uchar>(t[2]), cv::saturate_cast<uchar>(a));
        }
    return {pyramid(picture), {x0, y0, x1, y1}, texFromMarker};
}

}  // namespace

std::unique_ptr<SynthRenderer> SynthRenderer::create(const SynthScript& script,
                                                     const Options& options, std::string* error) {
    auto fail = [error](const std::string& why) {
        if (error) *error = why;
        return nullptr;
    };
    if (script.calibrationPath.empty()) return fail("no calibration given");
    std::string why;
    auto camera = osgART::CameraParameters::read(script.calibrationPath, &why);
    if (!camera) return fail(why);
    std::vector<cv::Mat> images;
    for (const auto& m : script.markers) {
        if (m.isBoard()) {
            images.emplace_back();  // drawn by the renderer
            continue;
        }
        cv::Mat image = cv::imread(m.imagePath, cv::IMREAD_COLOR);
        if (image.empty()) return fail(m.imagePath + ": cannot read image of marker " + m.name);
        images.push_back(image);
    }
    cv::Mat background;
    if (script.background == SynthScript::Background::Image) {
        background = cv::imread(script.backgroundImage, cv::IMREAD_COLOR);
        if (background.empty()) return fail(script.backgroundImage + ": cannot read background");
    }
    return std::make_unique<SynthRenderer>(script, *camera, images, options, background);
}

SynthRenderer::SynthRenderer(SynthScript script, const osgART::CameraParameters& camera,
                             const std::vector<cv::Mat>& markerImages, const Options& options,
                             const cv::Mat& background)
    : _script(std::move(script)), _camera(camera), _options(options) {
    if (_script.width <= 0 || _script.height <= 0) {
        _script.width = camera.xsize;
        _script.height = camera.ysize;
    }
    if (_camera.xsize != _script.width || _camera.ysize != _script.height)
        _camera = camera.scaled(_script.width, _script.height);
    _options.supersampling = std::max(1, _options.supersampling);
    const int w = _script.width, h = _script.height, s = _options.supersampling;

    switch (_script.background) {
        case SynthScript::Background::Image:
            cv::resize(background, _background, cv::Size(w, h), 0, 0, cv::INTER_AREA);
            break;
        case SynthScript::Background::Colour: {
            const auto& c = _script.backgroundRgb;
            _background = cv::Mat(h, w, CV_8UC3, cv::Scalar(c[2], c[1], c[0]));
            break;
        }
        case SynthScript::Background::Generated:
            _background = generatedBackground(w, h, _script.seed);
            break;
    }

    _idealMap.create(h * s, w * s, CV_32FC2);
    // The s x s samples of a pixel sit on a sheared grid: no two share a column or a row, so an
    // edge near the horizontal or the vertical still sees s² coverage levels, not s.
    for (int y = 0; y < h * s; ++y) {
        auto* row = _idealMap.ptr<cv::Vec2f>(y);
        const int py = y / s, j = y % s;
        for (int x = 0; x < w * s; ++x) {
            const int px = x / s, i = x % s;
            const double u = px - 0.5 + (i + (j + 0.5) / s) / s;
            const double v = py - 0.5 + (j + (i + 0.5) / s) / s;
            double ix, iy;
            _camera.idealFromObserved(u, v, ix, iy);
            row[x] = cv::Vec2f(static_cast<float>(ix), static_cast<float>(iy));
        }
    }
    // The image's outer edge (pixel edges, not centres), taken to the ideal plane, bounds what
    // the image sees of it.
    _idealBox = {1e300, 1e300, -1e300, -1e300};
    auto extend = [this](double u, double v) {
        double ix, iy;
        _camera.idealFromObserved(u, v, ix, iy);
        _idealBox = {std::min(_idealBox[0], ix), std::min(_idealBox[1], iy),
                     std::max(_idealBox[2], ix), std::max(_idealBox[3], iy)};
    };
    for (int x = 0; x <= w; ++x) extend(x - 0.5, -0.5), extend(x - 0.5, h - 0.5);
    for (int y = 0; y <= h; ++y) extend(-0.5, y - 0.5), extend(w - 0.5, y - 0.5);

    const ImageEffects& fx = _script.effects;
    if (fx.gradient > 0.0) {
        // Factor 1 on the lit side, 1 − gradient on the far side, linear in between.
        _lightMap.create(h, w, CV_32F);
        const double dx = std::cos(fx.gradientAngle * kPi / 180.0);
        const double dy = std::sin(fx.gradientAngle * kPi / 180.0);
        const double reach = std::abs(dx) * (w - 1) / 2.0 + std::abs(dy) * (h - 1) / 2.0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const double along =
                    ((x - (w - 1) / 2.0) * dx + (y - (h - 1) / 2.0) * dy) / std::max(reach, 1.0);
                _lightMap.at<float>(y, x) =
                    static_cast<float>(1.0 - fx.gradient * 0.5 * (1.0 + along));
            }
    }

    for (size_t i = 0; i < _script.markers.size(); ++i) {
        const ScriptMarker& m = _script.markers[i];
        auto prepared = std::make_unique<PreparedMarker>();
        if (m.isBoard()) {
            prepareBoard(m, *prepared);
            _markers.push_back(std::move(prepared));
            continue;
        }
        cv::Mat image = i < markerImages.size() ? markerImages[i] : cv::Mat();
        if (image.empty()) image = cv::Mat(64, 64, CV_8UC3, cv::Scalar::all(128));
        if (image.channels() == 1) cv::cvtColor(image, image, cv::COLOR_GRAY2BGR);
        if (image.channels() == 4) cv::cvtColor(image, image, cv::COLOR_BGRA2BGR);
        if (image.rows != image.cols) {
            const int side = std::max(image.rows, image.cols);
            cv::resize(image, image, cv::Size(side, side), 0, 0, cv::INTER_AREA);
        }
        if (m.innerOnly) {
            const int border = image.cols / 2;
            cv::copyMakeBorder(image, image, border, border, border, border, cv::BORDER_CONSTANT,
                               cv::Scalar::all(0));
        }
        if (image.cols < kPixelArtSide) {
            const int factor = (kPixelArtSide + image.cols - 1) / image.cols;
            cv::resize(image, image, cv::Size(), factor, factor, cv::INTER_NEAREST);
        }
        prepared->markerPx = image.cols;
        prepared->widthMm = m.widthMm;
        prepared->marginPx = static_cast<int>(std::lround(m.margin() / m.widthMm * image.cols));
        const int g = prepared->marginPx;
        cv::copyMakeBorder(image, image, g, g, g, g, cv::BORDER_CONSTANT, cv::Scalar::all(255));
        cv::Mat paper;
        cv::cvtColor(image, paper, cv::COLOR_BGR2BGRA);
        prepared->levels = pyramid(paper);
        const double w = m.widthMm, n = prepared->markerPx;
        const double half = w / 2.0 + prepared->marginPx * w / prepared->markerPx;
        prepared->rect = {-half, -half, half, half};
        prepared->paperFromMarker =
            cv::Matx33d(n / w, 0, n / 2 + g - 0.5, 0, -n / w, n / 2 + g - 0.5, 0, 0, 1);
        for (size_t f = 0; f < m.fingers.size(); ++f) {
            // Each thumb's tone depends on the seed and on which marker and finger it is.
            cv::RNG rng(0x7b0u + 7919u * _script.seed + 131u * unsigned(i) + unsigned(f));
            prepared->thumbs.push_back(
                thumbPicture(fingerShape(m.fingers[f], m.widthMm, m.margin()), rng));
        }
        _markers.push_back(std::move(prepared));
    }
}

SynthRenderer::~SynthRenderer() = default;

void SynthRenderer::prepareBoard(const ScriptMarker& m, PreparedMarker& out) const {
    // Squares of up to 64 texels, the longer side of the board at most 1024 texels; the top-left
    // square is black.
    const int cols = m.boardCols + 1, rows = m.boardRows + 1;
    const int square = std::max(4, std::min(64, 1024 / std::max(cols, rows)));
    const double k = square / m.squareMm;  // texels per mm
    const int g = static_cast<int>(std::lround(m.margin() * k));
    cv::Mat paper(rows * square + 2 * g, cols * square + 2 * g, CV_8UC4, cv::Scalar::all(255));
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
            if ((r + c) % 2 == 0)
                paper(cv::Rect(g + c * square, g + r * square, square, square))
                    .setTo(cv::Scalar(0, 0, 0, 255));
    out.levels = pyramid(paper);
    out.markerPx = cols * square;
    out.marginPx = g;
    out.widthMm = m.widthMm;
    const double hx = m.halfWidth() + g / k, hy = m.halfHeight() + g / k;
    out.rect = {-hx, -hy, hx, hy};
    out.paperFromMarker = cv::Matx33d(k, 0, cols * square / 2.0 + g - 0.5, 0, -k,
                                      rows * square / 2.0 + g - 0.5, 0, 0, 1);
}

bool SynthRenderer::project(const std::array<double, 3>& p, double& u, double& v) const {
    const auto& m = _camera.mat;
    const double x = m[0][0] * p[0] + m[0][1] * p[1] + m[0][2] * p[2] + m[0][3];
    const double y = m[1][0] * p[0] + m[1][1] * p[1] + m[1][2] * p[2] + m[1][3];
    const double z = m[2][0] * p[0] + m[2][1] * p[1] + m[2][2] * p[2] + m[2][3];
    if (!(z > 0.0)) return false;
    _camera.observedFromIdeal(x / z, y / z, u, v);
    return true;
}

cv::Mat SynthRenderer::render(int frameIndex) const {
    cv::Mat frame = _background.clone();
    if (_script.clutter.count > 0) drawClutter(frame, frameIndex);
    const double t = frameIndex / _script.fps;
    for (size_t i = 0; i < _script.markers.size(); ++i) {
        const MarkerPlacement p = _script.markers[i].placementAt(t);
        if (!p.shown) continue;
        const PreparedMarker& marker = *_markers[i];
        const auto pose = p.cameraFromMarker();
        drawPlane(frame, marker.levels, pose, marker.rect, marker.paperFromMarker);
        for (size_t f = 0; f < marker.thumbs.size(); ++f)
            if (_script.markers[i].fingers[f].activeAt(t))
                drawPlane(frame, marker.thumbs[f].levels, pose, marker.thumbs[f].rect,
                          marker.thumbs[f].texFromMarker);
    }
    applyEffects(frame, frameIndex);
    return frame;
}

void SynthRenderer::drawPlane(cv::Mat& frame, const std::vector<cv::Mat>& levels,
                              const std::array<double, 12>& pose, const std::array<double, 4>& rect,
                              const cv::Matx33d& paperFromMarker) const {
    // Homography from the marker plane (mm) to ideal pixels.
    const auto& m = _camera.mat;
    cv::Matx33d plane;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 2; ++c)
            plane(r, c) = m[r][0] * pose[c] + m[r][1] * pose[4 + c] + m[r][2] * pose[8 + c];
        plane(r, 2) = m[r][0] * pose[3] + m[r][1] * pose[7] + m[r][2] * pose[11] + m[r][3];
    }

    // The texture's outline in ideal pixels, clipped to the part of the ideal plane the image sees.
    std::vector<Point2> outline;
    for (const auto& corner : {Point2{rect[0], rect[3]}, Point2{rect[2], rect[3]},
                               Point2{rect[2], rect[1]}, Point2{rect[0], rect[1]}}) {
        const auto c = transform(pose, corner[0], corner[1], 0.0);
        if (c[2] < kNearMm) return;  // partly behind the camera: not drawn
        const cv::Vec3d q = plane * cv::Vec3d(corner[0], corner[1], 1.0);
        outline.push_back({q[0] / q[2], q[1] / q[2]});
    }
    const auto& box = _idealBox;
    const std::vector<Point2> seen =
        clipToBox(outline, box[0] - 1, box[1] - 1, box[2] + 1, box[3] + 1);
    if (seen.empty()) return;

    // Its bounding box in observed pixels; edges are sampled because the lens bends them.
    double u0 = 1e300, v0 = 1e300, u1 = -1e300, v1 = -1e300;
    for (size_t i = 0; i < seen.size(); ++i) {
        const Point2& a = seen[i];
        const Point2& b = seen[(i + 1) % seen.size()];
        for (int k = 0; k < 16; ++k) {
            const double f = k / 16.0;
            double u, v;
            _camera.observedFromIdeal(a[0] + f * (b[0] - a[0]), a[1] + f * (b[1] - a[1]), u, v);
            u0 = std::min(u0, u), u1 = std::max(u1, u);
            v0 = std::min(v0, v), v1 = std::max(v1, v);
        }
    }
    const int x0 = std::max(0, static_cast<int>(std::floor(u0)) - 2);
    const int y0 = std::max(0, static_cast<int>(std::floor(v0)) - 2);
    const int x1 = std::min(frame.cols - 1, static_cast<int>(std::ceil(u1)) + 2);
    const int y1 = std::min(frame.rows - 1, static_cast<int>(std::ceil(v1)) + 2);
    if (x0 > x1 || y0 > y1) return;

    // Ideal pixel → texel at level 0.
    const cv::Matx33d paperFromIdeal = paperFromMarker * plane.inv();

    // Pick the finest pyramid level whose texels are still at least one sample across.
    const int s = _options.supersampling;
    const double cu = (outline[0][0] + outline[2][0]) / 2,
                 cv_ = (outline[0][1] + outline[2][1]) / 2;
    auto toPaper = [&](double x, double y) {
        const cv::Vec3d q = paperFromIdeal * cv::Vec3d(x, y, 1.0);
        return cv::Vec2d(q[0] / q[2], q[1] / q[2]);
    };
    const cv::Vec2d pc = toPaper(cu, cv_), pu = toPaper(cu + 1.0 / s, cv_),
                    pv = toPaper(cu, cv_ + 1.0 / s);
    const cv::Vec2d du = pu - pc, dv = pv - pc;
    const double footprint = std::sqrt(std::abs(du[0] * dv[1] - du[1] * dv[0]));
    int level = footprint > 1.0 ? static_cast<int>(std::floor(std::log2(footprint))) : 0;
    level = std::min(level, static_cast<int>(levels.size()) - 1);
    const cv::Mat& texture = levels[level];
    const double kx = double(texture.cols) / levels[0].cols;
    const double ky = double(texture.rows) / levels[0].rows;
    const cv::Matx33d levelFromPaper(kx, 0, 0.5 * kx - 0.5, 0, ky, 0.5 * ky - 0.5, 0, 0, 1);
    const cv::Matx33d texFromIdeal = levelFromPaper * paperFromIdeal;

    const int bw = (x1 - x0 + 1) * s, bh = (y1 - y0 + 1) * s;
    cv::Mat map(bh, bw, CV_32FC2);
    for (int y = 0; y < bh; ++y) {
        const auto* ideal = _idealMap.ptr<cv::Vec2f>(y0 * s + y) + x0 * s;
        auto* out = map.ptr<cv::Vec2f>(y);
        for (int x = 0; x < bw; ++x) {
            const double px = ideal[x][0], py = ideal[x][1];
            const double d = texFromIdeal(2, 0) * px + texFromIdeal(2, 1) * py + texFromIdeal(2, 2);
            if (d <= 0.0) {
                out[x] = cv::Vec2f(-1e5f, -1e5f);  // beyond the plane's horizon
                continue;
            }
            out[x] = cv::Vec2f(
                static_cast<float>(
                    (texFromIdeal(0, 0) * px + texFromIdeal(0, 1) * py + texFromIdeal(0, 2)) / d),
                static_cast<float>(
                    (texFromIdeal(1, 0) * px + texFromIdeal(1, 1) * py + texFromIdeal(1, 2)) / d));
        }
    }
    cv::Mat samples, covered;
    cv::remap(texture, samples, map, cv::noArray(), cv::INTER_LINEAR, cv::BORDER_CONSTANT,
              cv::Scalar::all(0));
    // Averaging s × s samples gives each pixel its area's colour and the paper's coverage in alpha.
    if (s > 1)
        cv::resize(samples, covered, cv::Size(x1 - x0 + 1, y1 - y0 + 1), 0, 0, cv::INTER_AREA);
    else
        covered = samples;
    for (int y = 0; y < covered.rows; ++y) {
        const auto* src = covered.ptr<cv::Vec4b>(y);
        auto* dst = frame.ptr<cv::Vec3b>(y0 + y) + x0;
        for (int x = 0; x < covered.cols; ++x) {
            const int a = src[x][3];
            if (a == 0) continue;
            for (int c = 0; c < 3; ++c)
                dst[x][c] =
                    cv::saturate_cast<uchar>((dst[x][c] * (255 - a) + 127) / 255 + src[x][c]);
        }
    }
}

void SynthRenderer::drawClutter(cv::Mat& frame, int frameIndex) const {
    const int set = frameIndex / _script.clutter.period;
    cv::RNG rng(0xc1u + 7919u * _script.seed + 104729u * static_cast<unsigned>(set));
    const int w = frame.cols, h = frame.rows;
    for (int i = 0; i < _script.clutter.count; ++i) {
        const cv::Point2d centre(rng.uniform(0.0, double(w)), rng.uniform(0.0, double(h)));
        const double angle = rng.uniform(0.0, 2 * kPi);
        const double side = rng.uniform(24.0, std::min(w, h) * 0.3);
        const cv::Scalar dark = cv::Scalar::all(rng.uniform(0, 70));
        const cv::Scalar light = cv::Scalar::all(rng.uniform(170, 255));
        auto square = [&](double a, double b, double c, double d) {
            // Corners of the rectangle [a, c] × [b, d] in the shape's own frame (units of side).
            std::vector<cv::Point> pts;
            for (const auto& q :
                 {cv::Point2d(a, b), cv::Point2d(c, b), cv::Point2d(c, d), cv::Point2d(a, d)}) {
                const double x = (q.x - 0.5) * side, y = (q.y - 0.5) * side;
                pts.emplace_back(
                    cvRound((centre.x + x * std::cos(angle) - y * std::sin(angle)) * 16),
                    cvRound((centre.y + x * std::sin(angle) + y * std::cos(angle)) * 16));
            }
            return pts;
        };
        switch (rng.uniform(0, 6)) {
            case 0: {  // marker-like: dark square with random light cells in its middle half
                cv::fillConvexPoly(frame, square(0, 0, 1, 1), dark, cv::LINE_AA, 4);
                const int cells = rng.uniform(3, 6);
                for (int r = 0; r < cells; ++r)
                    for (int c = 0; c < cells; ++c)
                        if (rng.uniform(0, 2))
                            cv::fillConvexPoly(
                                frame,
                                square(0.25 + 0.5 * c / cells, 0.25 + 0.5 * r / cells,
                                       0.25 + 0.5 * (c + 1) / cells, 0.25 + 0.5 * (r + 1) / cells),
                                light, cv::LINE_AA, 4);
                break;
            }
            case 1:  // plain dark block
                cv::fillConvexPoly(frame, square(0, 0.2, 1, 0.2 + rng.uniform(0.2, 0.8)), dark,
                                   cv::LINE_AA, 4);
                break;
            case 2: {  // square frame
                const std::vector<std::vector<cv::Point>> outline{square(0, 0, 1, 1)};
                cv::polylines(frame, outline, true, dark, rng.uniform(2, 10), cv::LINE_AA, 4);
                break;
            }
            case 3:  // disc or ring
                cv::circle(frame, centre, static_cast<int>(side / 2), dark,
                           rng.uniform(0, 2) ? cv::FILLED : rng.uniform(3, 12), cv::LINE_AA);
                break;
            case 4: {  // a word
                const char* word = kClutterWords[rng.uniform(0, int(std::size(kClutterWords)))];
                cv::putText(frame, word, centre, cv::FONT_HERSHEY_SIMPLEX, rng.uniform(0.6, 3.0),
                            dark, rng.uniform(1, 7), cv::LINE_AA);
                break;
            }
            default:  // a stroke
                cv::line(frame, centre,
                         centre + cv::Point2d(std::cos(angle), std::sin(angle)) * side * 1.5, dark,
                         rng.uniform(2, 14), cv::LINE_AA);
                break;
        }
    }
}

void SynthRenderer::applyEffects(cv::Mat& frame, int frameIndex) const {
    const ImageEffects& fx = _script.effects;
    if (!_lightMap.empty()) {
        for (int y = 0; y < frame.rows; ++y) {
            auto* row = frame.ptr<cv::Vec3b>(y);
            const float* light = _lightMap.ptr<float>(y);
            for (int x = 0; x < frame.cols; ++x)
                for (int c = 0; c < 3; ++c)
                    row[x][c] = cv::saturate_cast<uchar>(row[x][c] * light[x]);
        }
    }
    if (fx.exposure != 1.0 || fx.contrast != 1.0) {
        // The sensor clips the light at 255 before contrast is scaled about mid-grey.
        cv::Mat table(1, 256, CV_8U);
        for (int v = 0; v < 256; ++v)
            table.at<uchar>(v) = cv::saturate_cast<uchar>(
                128.0 + (std::min(255.0, v * fx.exposure) - 128.0) * fx.contrast);
        cv::LUT(frame, table, frame);
    }
    if (fx.motionBlur > 0.0) {
        // A line LENGTH pixels long and one wide: along it each tap gets the share of its pixel
        // the line covers (so the ends honour fractions of a pixel), across it a tent weight.
        const double len = fx.motionBlur, a = fx.motionAngle * kPi / 180.0;
        const double dx = std::cos(a), dy = std::sin(a);
        const int r = static_cast<int>(std::ceil(len / 2 + 1.5));
        cv::Mat kernel(2 * r + 1, 2 * r + 1, CV_64F);
        for (int j = -r; j <= r; ++j)
            for (int i = -r; i <= r; ++i) {
                const double along = i * dx + j * dy, across = -i * dy + j * dx;
                const double cover =
                    std::min(along + 0.5, len / 2) - std::max(along - 0.5, -len / 2);
                kernel.at<double>(j + r, i + r) =
                    std::max(0.0, cover) * std::max(0.0, 1.0 - std::abs(across));
            }
        kernel /= cv::sum(kernel)[0];
        cv::filter2D(frame, frame, -1, kernel);
    }
    if (fx.blurSigma > 0.0) cv::GaussianBlur(frame, frame, cv::Size(), fx.blurSigma);
    if (fx.noiseSigma > 0.0) {
        cv::RNG rng(0x9e3779b9u ^ (_script.seed * 2654435761u) ^ static_cast<unsigned>(frameIndex));
        cv::Mat noise(frame.size(), CV_16SC3);
        rng.fill(noise, cv::RNG::NORMAL, cv::Scalar::all(0), cv::Scalar::all(fx.noiseSigma));
        cv::Mat wide;
        frame.convertTo(wide, CV_16SC3);
        wide += noise;
        wide.convertTo(frame, CV_8UC3);
    }
    if (fx.jpegQuality > 0) {
        std::vector<uchar> bytes;
        cv::imencode(".jpg", frame, bytes, {cv::IMWRITE_JPEG_QUALITY, fx.jpegQuality});
        frame = cv::imdecode(bytes, cv::IMREAD_COLOR);
    }
}

FrameTruth SynthRenderer::truth(int frameIndex) const {
    FrameTruth truth;
    truth.frame = frameIndex;
    truth.time = frameIndex / _script.fps;
    for (const ScriptMarker& m : _script.markers) {
        const MarkerPlacement p = m.placementAt(truth.time);
        if (p.shown) truth.markers.push_back(markerTruth(m, p.cameraFromMarker(), truth.time));
    }
    return truth;
}

FrameTruth::Marker SynthRenderer::markerTruth(const ScriptMarker& marker,
                                              const std::array<double, 12>& pose,
                                              double time) const {
    FrameTruth::Marker out;
    out.name = marker.name;
    out.cameraFromMarker = pose;
    const double h = marker.halfWidth(), hy = marker.halfHeight();
    const Point2 model[4] = {{-h, hy}, {h, hy}, {h, -hy}, {-h, -hy}};  // UL, UR, LR, LL
    bool inFront = true;
    std::vector<Point2> ideal;
    for (int i = 0; i < 4; ++i) {
        const auto c = transform(pose, model[i][0], model[i][1], 0.0);
        if (c[2] < kNearMm) inFront = false;
        double u = 0, v = 0;
        project(c, u, v);
        out.corners[i] = {u, v};
        const auto& k = _camera.mat;
        const double z = k[2][0] * c[0] + k[2][1] * c[1] + k[2][2] * c[2] + k[2][3];
        ideal.push_back({(k[0][0] * c[0] + k[0][1] * c[1] + k[0][2] * c[2] + k[0][3]) / z,
                         (k[1][0] * c[0] + k[1][1] * c[1] + k[1][2] * c[2] + k[1][3]) / z});
    }
    double area = 0.0;
    for (int i = 0; i < 4; ++i) {
        const auto& a = out.corners[i];
        const auto& b = out.corners[(i + 1) % 4];
        area += a[0] * b[1] - b[0] * a[1];
    }
    out.widthPx = std::sqrt(std::abs(area) / 2.0);
    out.reportsCover = !marker.fingers.empty();
    for (const Finger& f : marker.fingers) {
        if (!f.activeAt(time)) continue;
        // A finger always reaches inside the square (its depth is positive).
        const FingerShape shape = fingerShape(f, marker.widthMm, marker.margin());
        out.covered = true;
        for (int i = 0; i < 4; ++i)
            out.coveredCorners[i] = out.coveredCorners[i] || shape.distance(model[i]) < 0;
    }
    // Angle between the face normal (the pose's third column) and the way to the camera.
    const double nx = pose[2], ny = pose[6], nz = pose[10];
    const double tx = -pose[3], ty = -pose[7], tz = -pose[11];
    const double tn = std::sqrt(tx * tx + ty * ty + tz * tz);
    out.tiltDeg =
        tn > 0 ? std::acos(std::clamp((nx * tx + ny * ty + nz * tz) / tn, -1.0, 1.0)) * 180.0 / kPi
               : 0.0;
    if (!inFront) return out;
    const double W = _script.width, H = _script.height;
    out.fullyInView = true;
    for (const auto& c : out.corners)
        if (c[0] < 0 || c[1] < 0 || c[0] > W - 1 || c[1] > H - 1) out.fullyInView = false;
    if (out.fullyInView) {
        out.inView = true;
        return out;
    }
    // Partly in view when the marker's square reaches the part of the ideal plane the image sees.
    out.inView = !clipToBox(ideal, _idealBox[0], _idealBox[1], _idealBox[2], _idealBox[3]).empty();
    return out;
}

}  // namespace quorv
