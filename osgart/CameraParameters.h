#pragma once

#include <array>
#include <optional>
#include <string>

namespace osgART {

/// Intrinsic camera parameters in the classic marker toolkit's binary form ("camera_para.dat").
///
/// Two record forms exist, told apart by file size:
///  - 136 bytes: xsize, ysize, mat[3][4], then four distortion values (x0, y0, f, s), where the
///    observed radius from (x0, y0) is r·(1 − f·1e-8·r²) with r the ideal radius times s;
///  - 176 bytes: the same header and matrix, then nine values (k1, k2, p1, p2, fx, fy, x0, y0, s)
///    of the usual radial-tangential model.
/// All numbers are big-endian. `mat` maps a camera-frame point (x right, y down, z forward) to
/// homogeneous pixel coordinates.
struct CameraParameters {
    enum class Model { Radial4, Brown9 };

    int xsize = 0;
    int ysize = 0;
    std::array<std::array<double, 4>, 3> mat{};
    Model model = Model::Radial4;
    /// Radial4 uses the first four values (x0, y0, f, s); Brown9 all nine.
    std::array<double, 9> dist{};

    /// Reads a parameter file. On failure returns nothing and, if `error` is given, says why.
    static std::optional<CameraParameters> read(const std::string& path,
                                                std::string* error = nullptr);
    /// Parses the bytes of a parameter file (the 136- or 176-byte form, nothing else).
    static std::optional<CameraParameters> parse(const unsigned char* data, size_t size,
                                                 std::string* error = nullptr);
    /// Writes the parameters in their own form (136 or 176 bytes). Returns false on I/O failure.
    bool write(const std::string& path) const;

    /// The parameters for a video of another size. Only the width ratio is used, as the classic
    /// toolkit does; the aspect ratio is assumed unchanged.
    CameraParameters scaled(int newXsize, int newYsize) const;

    /// Maps an undistorted (ideal) pixel position to where the lens puts it in the image.
    void observedFromIdeal(double ix, double iy, double& ox, double& oy) const;
    /// Inverse of observedFromIdeal, by a few Newton steps.
    void idealFromObserved(double ox, double oy, double& ix, double& iy) const;

    /// Whether these parameters can map the image at all: every value finite, positive focal
    /// lengths, the principal point and the distortion centre inside the image, and a lens that
    /// does not fold the image (the distorted distance from the centre grows with the ideal one
    /// all the way to the image's farthest corner, in each corner's direction). False with the
    /// reason in `reason` (if given). Files can hold parameters that parse yet are unusable.
    bool validate(std::string* reason = nullptr) const;

    /// Intrinsics from `mat` (mat = K·[R|t] split as the toolkit does, K normalised to
    /// K[2][2] = 1).
    struct Intrinsics {
        double fx, fy, cx, cy, skew;
    };
    Intrinsics intrinsics() const;
};

}  // namespace osgART
