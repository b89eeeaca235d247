#include "CameraParameters.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace osgART {
namespace {

constexpr size_t kShortRecord = 136;
constexpr size_t kLongRecord = 176;
/// Largest image side accepted from a file; anything bigger is not a camera we know.
constexpr int kMaxSide = 16384;

int32_t readInt32BE(const unsigned char* p) {
    uint32_t v = (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
    int32_t out;
    std::memcpy(&out, &v, 4);
    return out;
}

double readDoubleBE(const unsigned char* p) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
    double out;
    std::memcpy(&out, &v, 8);
    return out;
}

void writeInt32BE(std::vector<unsigned char>& out, int32_t value) {
    uint32_t v;
    std::memcpy(&v, &value, 4);
    for (int i = 3; i >= 0; --i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

void writeDoubleBE(std::vector<unsigned char>& out, double value) {
    uint64_t v;
    std::memcpy(&v, &value, 8);
    for (int i = 7; i >= 0; --i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

bool fail(std::string* error, const std::string& why) {
    if (error) *error = why;
    return false;
}

}  // namespace

std::optional<CameraParameters> CameraParameters::read(const std::string& path,
                                                       std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        fail(error, path + ": cannot open");
        return std::nullopt;
    }
    // Read at most one byte more than the longest form, so an oversized file is caught without
    // reading all of it.
    std::vector<unsigned char> bytes(kLongRecord + 1);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<size_t>(in.gcount()));
    std::string why;
    auto params = parse(bytes.data(), bytes.size(), &why);
    if (!params) fail(error, path + ": " + why);
    return params;
}

std::optional<CameraParameters> CameraParameters::parse(const unsigned char* data, size_t size,
                                                        std::string* error) {
    if (size != kShortRecord && size != kLongRecord) {
        fail(error, "size " + std::to_string(size) + " bytes is neither 136 nor 176");
        return std::nullopt;
    }
    CameraParameters p;
    p.xsize = readInt32BE(data);
    p.ysize = readInt32BE(data + 4);
    if (p.xsize <= 0 || p.ysize <= 0 || p.xsize > kMaxSide || p.ysize > kMaxSide) {
        fail(error, "image size " + std::to_string(p.xsize) + "x" + std::to_string(p.ysize) +
                        " is not plausible");
        return std::nullopt;
    }
    const unsigned char* q = data + 8;
    for (auto& row : p.mat)
        for (double& v : row) {
            v = readDoubleBE(q);
            q += 8;
        }
    p.model = size == kShortRecord ? Model::Radial4 : Model::Brown9;
    const size_t n = p.model == Model::Radial4 ? 4 : 9;
    for (size_t i = 0; i < n; ++i, q += 8) p.dist[i] = readDoubleBE(q);

    for (const auto& row : p.mat)
        for (double v : row)
            if (!std::isfinite(v)) {
                fail(error, "projection matrix holds a non-finite number");
                return std::nullopt;
            }
    for (double v : p.dist)
        if (!std::isfinite(v)) {
            fail(error, "distortion holds a non-finite number");
            return std::nullopt;
        }
    const Intrinsics k = p.intrinsics();
    if (!(k.fx > 0) || !(k.fy > 0)) {
        fail(error, "projection matrix has no positive focal lengths");
        return std::nullopt;
    }
    // Finite entries can still split into intrinsics that overflow (a nearly zero last row).
    if (!std::isfinite(k.fx) || !std::isfinite(k.fy) || !std::isfinite(k.cx) ||
        !std::isfinite(k.cy) || !std::isfinite(k.skew)) {
        fail(error, "projection matrix gives intrinsics too large for a number");
        return std::nullopt;
    }
    const double scale = p.model == Model::Radial4 ? p.dist[3] : p.dist[8];
    if (!(scale > 0)) {
        fail(error, "distortion scale must be positive");
        return std::nullopt;
    }
    if (p.model == Model::Brown9 && (!(p.dist[4] > 0) || !(p.dist[5] > 0))) {
        fail(error, "distortion focal lengths must be positive");
        return std::nullopt;
    }
    return p;
}

bool CameraParameters::write(const std::string& path) const {
    std::vector<unsigned char> out;
    writeInt32BE(out, xsize);
    writeInt32BE(out, ysize);
    for (const auto& row : mat)
        for (double v : row) writeDoubleBE(out, v);
    const size_t n = model == Model::Radial4 ? 4 : 9;
    for (size_t i = 0; i < n; ++i) writeDoubleBE(out, dist[i]);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
    return static_cast<bool>(file);
}

CameraParameters CameraParameters::scaled(int newXsize, int newYsize) const {
    CameraParameters p = *this;
    const double s = double(newXsize) / double(xsize);
    for (int j = 0; j < 4; ++j) {
        p.mat[0][j] *= s;
        p.mat[1][j] *= s;
    }
    if (model == Model::Radial4) {
        p.dist[0] *= s;
        p.dist[1] *= s;
        p.dist[2] /= s * s;
    } else {
        for (int i = 4; i < 8; ++i) p.dist[i] *= s;
    }
    p.xsize = newXsize;
    p.ysize = newYsize;
    return p;
}

void CameraParameters::observedFromIdeal(double ix, double iy, double& ox, double& oy) const {
    if (model == Model::Radial4) {
        const double x0 = dist[0], y0 = dist[1], p = dist[2] * 1e-8, s = dist[3];
        const double dx = s * (ix - x0), dy = s * (iy - y0);
        const double d = 1.0 - p * (dx * dx + dy * dy);
        ox = x0 + d * dx;
        oy = y0 + d * dy;
        return;
    }
    const double k1 = dist[0], k2 = dist[1], p1 = dist[2], p2 = dist[3];
    const double fx = dist[4], fy = dist[5], x0 = dist[6], y0 = dist[7], s = dist[8];
    const double x = (ix - x0) * s / fx, y = (iy - y0) * s / fy;
    const double l = x * x + y * y;
    const double radial = 1.0 + k1 * l + k2 * l * l;
    ox = (x * radial + 2.0 * p1 * x * y + p2 * (l + 2.0 * x * x)) * fx + x0;
    oy = (y * radial + p1 * (l + 2.0 * y * y) + 2.0 * p2 * x * y) * fy + y0;
}

void CameraParameters::idealFromObserved(double ox, double oy, double& ix, double& iy) const {
    if (model == Model::Radial4) {
        const double x0 = dist[0], y0 = dist[1], p = dist[2] * 1e-8, s = dist[3];
        double ux = ox - x0, uy = oy - y0;
        const double q = std::sqrt(ux * ux + uy * uy);
        if (q == 0.0) {
            ix = x0;
            iy = y0;
            return;
        }
        // Solve z·(1 − p·z²) = q for the scaled ideal radius z, starting from z = q; the
        // offset from the centre is scaled by z / q once, at the end.
        double z = q;
        for (int i = 0; i < 3; ++i) {
            const double zz = z * z;
            z -= (z * (1.0 - p * zz) - q) / (1.0 - 3.0 * p * zz);
        }
        const double scale = z / (q * s);
        ix = x0 + ux * scale;
        iy = y0 + uy * scale;
        return;
    }
    // Newton iteration on the forward model, with a numerical Jacobian; converges in a few
    // steps for any lens a webcam has.
    ix = ox;
    iy = oy;
    for (int i = 0; i < 10; ++i) {
        double fx0, fy0;
        observedFromIdeal(ix, iy, fx0, fy0);
        const double ex = fx0 - ox, ey = fy0 - oy;
        if (ex * ex + ey * ey < 1e-18) break;
        const double h = 1e-4;
        double ax, ay, bx, by;
        observedFromIdeal(ix + h, iy, ax, ay);
        observedFromIdeal(ix, iy + h, bx, by);
        const double j00 = (ax - fx0) / h, j10 = (ay - fy0) / h;
        const double j01 = (bx - fx0) / h, j11 = (by - fy0) / h;
        const double det = j00 * j11 - j01 * j10;
        if (std::abs(det) < 1e-12) break;
        ix -= (j11 * ex - j01 * ey) / det;
        iy -= (-j10 * ex + j00 * ey) / det;
    }
}

CameraParameters::Intrinsics CameraParameters::intrinsics() const {
    // Gram-Schmidt split of the left 3x3 of mat into an upper-triangular K times a rotation.
    double a[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) a[i][j] = mat[i][j];
    if (mat[2][3] < 0)
        for (auto& row : a)
            for (double& v : row) v = -v;
    auto dot = [](const double* u, const double* v) {
        return u[0] * v[0] + u[1] * v[1] + u[2] * v[2];
    };
    const double k22 = std::sqrt(dot(a[2], a[2]));
    double r3[3] = {a[2][0] / k22, a[2][1] / k22, a[2][2] / k22};
    const double k12 = dot(r3, a[1]);
    double u[3] = {a[1][0] - k12 * r3[0], a[1][1] - k12 * r3[1], a[1][2] - k12 * r3[2]};
    const double k11 = std::sqrt(dot(u, u));
    double r2[3] = {u[0] / k11, u[1] / k11, u[2] / k11};
    const double k02 = dot(r3, a[0]);
    const double k01 = dot(r2, a[0]);
    double w[3];
    for (int i = 0; i < 3; ++i) w[i] = a[0][i] - k01 * r2[i] - k02 * r3[i];
    const double k00 = std::sqrt(dot(w, w));
    return Intrinsics{k00 / k22, k11 / k22, k02 / k22, k12 / k22, k01 / k22};
}

}  // namespace osgART
