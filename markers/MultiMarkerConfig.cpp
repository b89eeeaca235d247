#include "MultiMarkerConfig.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "SmallFile.h"

namespace quorv::markers {
namespace {

/// A configuration of 50 members is a few kilobytes; refuse anything far larger.
constexpr std::streamsize kMaxFileBytes = 1 << 20;

bool fail(std::string* error, const std::string& why) {
    if (error) *error = why;
    return false;
}

/// The significant lines: no comments, no blank lines, no carriage returns.
std::vector<std::string> significantLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        if (line.find_first_not_of(" \t\r\v\f") == std::string::npos) continue;
        lines.push_back(line);
    }
    return lines;
}

/// Exactly `count` finite numbers from the start of `line`; anything after them is ignored,
/// as the classic reader ignores it.
bool readNumbers(const std::string& line, int count, double* out) {
    const char* p = line.c_str();
    for (int i = 0; i < count; ++i) {
        char* end = nullptr;
        out[i] = std::strtod(p, &end);
        if (end == p || !std::isfinite(out[i])) return false;
        p = end;
    }
    return true;
}

}  // namespace

std::optional<MultiMarkerConfig> MultiMarkerConfig::parse(const std::string& text,
                                                          std::string* error) {
    const std::vector<std::string> lines = significantLines(text);
    if (lines.empty()) {
        fail(error, "empty");
        return std::nullopt;
    }
    double count;
    if (!readNumbers(lines[0], 1, &count) || count != std::floor(count) || count < 1 ||
        count > kMaxMembers) {
        fail(error, "the first line must give the number of markers (1.." +
                        std::to_string(kMaxMembers) + ")");
        return std::nullopt;
    }
    const int n = static_cast<int>(count);
    if (lines.size() < 1 + 6 * static_cast<size_t>(n)) {
        fail(error, "too short for " + std::to_string(n) + " markers (6 lines each)");
        return std::nullopt;
    }
    MultiMarkerConfig config;
    size_t at = 1;
    for (int m = 0; m < n; ++m) {
        const std::string where = "marker " + std::to_string(m + 1) + ": ";
        Member member;
        std::istringstream first(lines[at++]);
        first >> member.patternPath;
        for (char& c : member.patternPath)
            if (c == '\\') c = '/';
        double v[4];
        if (!readNumbers(lines[at++], 1, v) || !(v[0] > 0)) {
            fail(error, where + "the width must be a positive number");
            return std::nullopt;
        }
        member.width = v[0];
        if (!readNumbers(lines[at++], 2, v)) {
            fail(error, where + "the centre must be two numbers");
            return std::nullopt;
        }
        member.center = cv::Point2d(v[0], v[1]);
        for (int row = 0; row < 3; ++row) {
            if (!readNumbers(lines[at++], 4, v)) {
                fail(error,
                     where + "matrix row " + std::to_string(row + 1) + " must be four numbers");
                return std::nullopt;
            }
            for (int col = 0; col < 4; ++col) member.setFromMarker(row, col) = v[col];
        }
        // The rotation part must be a rotation, or the set's corners are meaningless. Asked
        // as "within" so that huge entries, whose products make NaN, are refused too.
        const cv::Matx33d r = member.setFromMarker.get_minor<3, 3>(0, 0);
        const cv::Matx33d e = r * r.t() - cv::Matx33d::eye();
        if (!(cv::norm(e) <= 1e-3) || cv::determinant(r) < 0) {
            fail(error, where + "the matrix is not a rotation and translation");
            return std::nullopt;
        }
        config.members.push_back(member);
    }
    return config;
}

std::optional<MultiMarkerConfig> MultiMarkerConfig::read(const std::string& path,
                                                         std::string* error) {
    const auto text = readSmallFile(path, kMaxFileBytes, "a multi-marker configuration", error);
    if (!text) return std::nullopt;
    std::string why;
    auto config = parse(*text, &why);
    if (!config) fail(error, path + ": " + why);
    return config;
}

}  // namespace quorv::markers
