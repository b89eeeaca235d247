#include "MarkerConfig.h"

#include <cmath>
#include <cstdlib>
#include <vector>

namespace quorv::markers {
namespace {

bool fail(std::string* error, const std::string& why) {
    if (error) *error = why;
    return false;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(
            text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

/// A whole field as a finite number; surrounding blanks are allowed.
bool toNumber(const std::string& field, double& value) {
    const char* begin = field.c_str();
    char* end = nullptr;
    value = std::strtod(begin, &end);
    if (end == begin) return false;
    while (*end == ' ' || *end == '\t') ++end;
    return end == begin + field.size() && std::isfinite(value);  // all of it, even past a NUL
}

}  // namespace

std::string MarkerConfig::name() const {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::optional<MarkerConfig> MarkerConfig::parse(const std::string& text, std::string* error) {
    const std::vector<std::string> fields = split(text, ';');
    MarkerConfig config;
    if (fields[0] == "single") {
        config.kind = Kind::Single;
        if (fields.size() != 5) {
            fail(error, "\"" + text + "\": the single form has 5 fields (single;path;width;x;y)");
            return std::nullopt;
        }
        double cx, cy;
        if (!toNumber(fields[2], config.width) || !(config.width > 0) || !toNumber(fields[3], cx) ||
            !toNumber(fields[4], cy)) {
            fail(error,
                 "\"" + text + "\": width must be a positive number and the centre two numbers");
            return std::nullopt;
        }
        config.center = cv::Point2d(cx, cy);
    } else if (fields[0] == "multi") {
        config.kind = Kind::Multi;
        if (fields.size() != 2) {
            fail(error, "\"" + text + "\": the multi form has 2 fields (multi;path)");
            return std::nullopt;
        }
    } else {
        fail(error, "\"" + text + "\": unknown kind \"" + fields[0] + "\" (single or multi)");
        return std::nullopt;
    }
    config.path = fields[1];
    for (char& c : config.path)
        if (c == '\\') c = '/';
    if (config.path.empty() || config.path.back() == '/') {
        fail(error, "\"" + text + "\": no file name");
        return std::nullopt;
    }
    return config;
}

}  // namespace quorv::markers
