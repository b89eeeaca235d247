// Marker configuration strings ("single;folder\pattern;width;x;y", "multi;folder\file"): any
// string is either refused with a reason or read as a configuration with a file name and finite
// numbers (a positive width), which, written as the viewer writes it and read again, is the same.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "Contract.h"
#include "MarkerConfig.h"

using quorv::fuzz::require;
const auto number = quorv::fuzz::exactNumber;
using quorv::markers::MarkerConfig;

namespace {

/// The configuration string with '\' as folder separator and every number exact.
std::string written(const MarkerConfig& config) {
    std::string path = config.path;
    for (char& c : path)
        if (c == '/') c = '\\';
    if (config.kind == MarkerConfig::Kind::Multi) return "multi;" + path;
    return "single;" + path + ";" + number(config.width) + ";" + number(config.center.x) + ";" +
           number(config.center.y);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string error;
    const auto config =
        MarkerConfig::parse(std::string(reinterpret_cast<const char*>(data), size), &error);
    if (!config) {
        quorv::fuzz::requireReason(error);
        return 0;
    }
    require(!config->name().empty(), "an accepted configuration names a file");
    require(config->path.find('\\') == std::string::npos, "folders are separated by '/'");
    require(std::isfinite(config->width) && std::isfinite(config->center.x) &&
                std::isfinite(config->center.y),
            "an accepted configuration holds finite numbers");
    require(config->kind == MarkerConfig::Kind::Multi || config->width > 0,
            "a single marker has a positive width");
    const auto again = MarkerConfig::parse(written(*config), &error);
    require(again && again->kind == config->kind && again->path == config->path &&
                again->width == config->width && again->center == config->center,
            "a written configuration reads back unchanged");
    return 0;
}
