// Camera parameter files (the 136- and 176-byte forms): any bytes are either refused with a
// reason or read as parameters that are all finite, with finite positive focal lengths, and
// that the writer puts back byte for byte (the file is rewritten and read again).

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

#include "CameraParameters.h"
#include "Contract.h"
#include "ScratchFile.h"

using osgART::CameraParameters;
using quorv::fuzz::require;

namespace {

quorv::fuzz::ScratchFile scratch(".dat");

bool allFinite(const CameraParameters& p) {
    for (const auto& row : p.mat)
        for (double v : row)
            if (!std::isfinite(v)) return false;
    for (double v : p.dist)
        if (!std::isfinite(v)) return false;
    const CameraParameters::Intrinsics k = p.intrinsics();
    return std::isfinite(k.fx) && std::isfinite(k.fy) && std::isfinite(k.cx) &&
           std::isfinite(k.cy) && std::isfinite(k.skew) && k.fx > 0 && k.fy > 0;
}

bool same(const CameraParameters& a, const CameraParameters& b) {
    return a.xsize == b.xsize && a.ysize == b.ysize && a.mat == b.mat && a.model == b.model &&
           a.dist == b.dist;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string error;
    const auto params = CameraParameters::parse(data, size, &error);
    if (!params) {
        quorv::fuzz::requireReason(error);
        return 0;
    }
    require(allFinite(*params), "accepted parameters are finite, with positive focal lengths");
    require(params->write(scratch.path), "accepted parameters can be written");
    std::ifstream in(scratch.path, std::ios::binary);
    const std::string written((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
    require(written == std::string(reinterpret_cast<const char*>(data), size),
            "accepted parameters are written back byte for byte");
    const auto again = CameraParameters::read(scratch.path, &error);
    require(again && same(*again, *params), "written parameters read back unchanged");
    return 0;
}
