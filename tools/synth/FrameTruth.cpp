#include "FrameTruth.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace quorv {
namespace {

void append(std::string& out, const char* format, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    out += buffer;
}

/// Marker names come from scripts; escape what JSON requires.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
            out += buffer;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

/// Reads the JSON that toJson() writes: objects, arrays, numbers, booleans and strings.
class Reader {
  public:
    explicit Reader(const std::string& text) : _s(text) {}

    bool done() {
        space();
        return _i == _s.size();
    }
    bool take(char c) {
        space();
        if (_i < _s.size() && _s[_i] == c) return ++_i, true;
        return false;
    }
    bool string(std::string& out) {
        if (!take('"')) return false;
        out.clear();
        while (_i < _s.size() && _s[_i] != '"') {
            char c = _s[_i++];
            if (c == '\\' && _i < _s.size()) {
                c = _s[_i++];
                if (c == 'u' && _i + 4 <= _s.size()) {
                    c = static_cast<char>(std::strtol(_s.substr(_i, 4).c_str(), nullptr, 16));
                    _i += 4;
                }
            }
            out += c;
        }
        return take('"');
    }
    bool number(double& out) {
        space();
        const char* start = _s.c_str() + _i;
        char* end = nullptr;
        out = std::strtod(start, &end);
        if (end == start) return false;
        _i += static_cast<size_t>(end - start);
        return true;
    }
    bool boolean(bool& out) {
        space();
        for (const bool value : {true, false}) {
            const std::string word = value ? "true" : "false";
            if (_s.compare(_i, word.size(), word) == 0) {
                _i += word.size();
                out = value;
                return true;
            }
        }
        return false;
    }
    /// `element` is called for each element of an array; fails on the first element it fails.
    template <class F>
    bool array(F element) {
        if (!take('[')) return false;
        if (take(']')) return true;
        do
            if (!element()) return false;
        while (take(','));
        return take(']');
    }
    /// `member(key)` is called for each member of an object.
    template <class F>
    bool object(F member) {
        if (!take('{')) return false;
        if (take('}')) return true;
        std::string key;
        do
            if (!string(key) || !take(':') || !member(key)) return false;
        while (take(','));
        return take('}');
    }
    /// Any value, ignored.
    bool skip() {
        std::string text;
        double number_ = 0;
        bool flag = false;
        space();
        if (_i < _s.size() && _s[_i] == '{')
            return object([this](const std::string&) { return skip(); });
        if (_i < _s.size() && _s[_i] == '[') return array([this] { return skip(); });
        if (_s.compare(_i, 4, "null") == 0) return _i += 4, true;
        return string(text) || boolean(flag) || number(number_);
    }

  private:
    void space() {
        while (_i < _s.size() && std::isspace(static_cast<unsigned char>(_s[_i]))) ++_i;
    }
    const std::string& _s;
    size_t _i = 0;
};

bool readMarker(Reader& in, FrameTruth::Marker& m) {
    return in.object([&](const std::string& key) {
        if (key == "name") return in.string(m.name);
        if (key == "in_view") return in.boolean(m.inView);
        if (key == "fully_in_view") return in.boolean(m.fullyInView);
        if (key == "width_px") return in.number(m.widthPx);
        if (key == "tilt_deg") return in.number(m.tiltDeg);
        if (key == "corners") {
            size_t i = 0;
            return in.array([&] {
                size_t j = 0;
                return i < 4 && in.array([&] { return j < 2 && in.number(m.corners[i][j++]); }) &&
                       j == 2 && ++i;
            }) && i == 4;
        }
        if (key == "covered") return m.reportsCover = true, in.boolean(m.covered);
        if (key == "covered_corners") {
            size_t i = 0;
            return in.array([&] { return i < 4 && in.boolean(m.coveredCorners[i++]); }) && i == 4;
        }
        if (key == "camera_from_marker") {
            size_t i = 0;
            return in.array([&] { return i < 12 && in.number(m.cameraFromMarker[i++]); }) &&
                   i == 12;
        }
        return in.skip();
    });
}

}  // namespace

std::optional<FrameTruth> FrameTruth::fromJson(const std::string& line) {
    FrameTruth truth;
    Reader in(line);
    double frame = 0.0;
    const bool ok = in.object([&](const std::string& key) {
        if (key == "frame") return in.number(frame);
        if (key == "time") return in.number(truth.time);
        if (key == "markers")
            return in.array([&] {
                truth.markers.emplace_back();
                return readMarker(in, truth.markers.back());
            });
        return in.skip();
    });
    if (!ok || !in.done()) return std::nullopt;
    truth.frame = static_cast<int>(frame);
    return truth;
}

std::optional<std::vector<FrameTruth>> FrameTruth::readFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) return std::nullopt;
    std::vector<FrameTruth> frames;
    for (std::string line; std::getline(in, line);) {
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        auto truth = fromJson(line);
        if (!truth) return std::nullopt;
        frames.push_back(std::move(*truth));
    }
    return frames;
}

std::string FrameTruth::toJson() const {
    std::string out = "{\"frame\":" + std::to_string(frame) + ",\"time\":";
    append(out, "%.6g", time);
    out += ",\"markers\":[";
    for (size_t m = 0; m < markers.size(); ++m) {
        const Marker& k = markers[m];
        if (m) out += ',';
        out += "{\"name\":" + quoted(k.name);
        out += std::string(",\"in_view\":") + (k.inView ? "true" : "false");
        out += std::string(",\"fully_in_view\":") + (k.fullyInView ? "true" : "false");
        out += ",\"width_px\":";
        append(out, "%.3f", k.widthPx);
        out += ",\"tilt_deg\":";
        append(out, "%.3f", k.tiltDeg);
        out += ",\"corners\":[";
        for (int i = 0; i < 4; ++i) {
            if (i) out += ',';
            out += '[';
            append(out, "%.4f", k.corners[i][0]);
            out += ',';
            append(out, "%.4f", k.corners[i][1]);
            out += ']';
        }
        out += "],\"camera_from_marker\":[";
        for (int i = 0; i < 12; ++i) {
            if (i) out += ',';
            append(out, i % 4 == 3 ? "%.4f" : "%.9f", k.cameraFromMarker[i]);
        }
        out += ']';
        if (k.reportsCover) {
            out += std::string(",\"covered\":") + (k.covered ? "true" : "false");
            out += ",\"covered_corners\":[";
            for (int i = 0; i < 4; ++i)
                out += std::string(i ? "," : "") + (k.coveredCorners[i] ? "true" : "false");
            out += ']';
        }
        out += '}';
    }
    return out + "]}";
}

}  // namespace quorv
