// Multi-marker configuration files: any text is either refused with a reason or read as 1 to 50
// members with finite numbers, positive widths and rigid transforms, which, written in the
// documented layout and read again, are the same.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <opencv2/core.hpp>
#include <string>

#include "Contract.h"
#include "MultiMarkerConfig.h"

using quorv::fuzz::require;
const auto number = quorv::fuzz::exactNumber;
using quorv::markers::MultiMarkerConfig;

namespace {

/// The set in the documented layout, every number exact. A path line starts with a blank, as
/// a path that starts with '#' must (at the start of a line it would be a comment).
std::string written(const MultiMarkerConfig& config) {
    std::string out = std::to_string(config.members.size()) + "\n";
    for (const auto& m : config.members) {
        out += " " + m.patternPath + "\n" + number(m.width) + "\n" + number(m.center.x) + " " +
               number(m.center.y) + "\n";
        for (int row = 0; row < 3; ++row) {
            for (int col = 0; col < 4; ++col) out += " " + number(m.setFromMarker(row, col));
            out += "\n";
        }
    }
    return out;
}

bool valid(const MultiMarkerConfig::Member& m) {
    bool finite = std::isfinite(m.width) && std::isfinite(m.center.x) && std::isfinite(m.center.y);
    for (int i = 0; i < 12; ++i) finite = finite && std::isfinite(m.setFromMarker.val[i]);
    const cv::Matx33d r = m.setFromMarker.get_minor<3, 3>(0, 0);
    return finite && m.width > 0 && !m.patternPath.empty() &&
           cv::norm(r * r.t() - cv::Matx33d::eye()) <= 1e-3 && cv::determinant(r) > 0;
}

bool same(const MultiMarkerConfig::Member& a, const MultiMarkerConfig::Member& b) {
    return a.patternPath == b.patternPath && a.width == b.width && a.center == b.center &&
           a.setFromMarker == b.setFromMarker;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string error;
    const auto config =
        MultiMarkerConfig::parse(std::string(reinterpret_cast<const char*>(data), size), &error);
    if (!config) {
        quorv::fuzz::requireReason(error);
        return 0;
    }
    require(!config->members.empty() &&
                config->members.size() <= size_t(MultiMarkerConfig::kMaxMembers),
            "an accepted set has 1 to 50 members");
    for (const auto& m : config->members)
        require(valid(m), "a member has a file, finite numbers, a positive width, a rigid motion");
    const auto again = MultiMarkerConfig::parse(written(*config), &error);
    require(again && again->members.size() == config->members.size(), "a written set reads back");
    for (size_t i = 0; i < config->members.size(); ++i)
        require(same(again->members[i], config->members[i]), "a written set reads back unchanged");
    return 0;
}
