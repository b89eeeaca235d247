#include "SynthScript.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

namespace quorv {
namespace {

constexpr double kPi = 3.14159265358979323846;

using Matrix3 = std::array<std::array<double, 3>, 3>;

Matrix3 multiply(const Matrix3& a, const Matrix3& b) {
    Matrix3 c{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) c[i][j] += a[i][k] * b[k][j];
    return c;
}

std::string joinPath(const std::string& baseDir, const std::string& path) {
    if (path.empty() || path[0] == '/' || baseDir.empty()) return path;
    return baseDir + "/" + path;
}

/// The whitespace-separated tokens of one line, taken one at a time; a getter fails on a token that
/// is missing or not of the kind asked for.
class LineReader {
  public:
    explicit LineReader(const std::string& line) {
        std::istringstream in(line);
        for (std::string token; in >> token;) _tokens.push_back(token);
    }

    bool atEnd() const { return _next >= _tokens.size(); }
    bool word(std::string& out) {
        if (atEnd()) return false;
        out = _tokens[_next++];
        return true;
    }
    bool number(double& out) {
        if (atEnd()) return false;
        char* end = nullptr;
        const std::string& token = _tokens[_next];
        out = std::strtod(token.c_str(), &end);
        if (end != token.c_str() + token.size() || !std::isfinite(out)) return false;
        ++_next;
        return true;
    }
    bool integer(int& out) {
        double v;
        if (!number(v) || v != std::floor(v) || std::abs(v) > 1e9) return false;
        out = static_cast<int>(v);
        return true;
    }

  private:
    std::vector<std::string> _tokens;
    size_t _next = 0;
};

}  // namespace

std::array<double, 12> MarkerPlacement::cameraFromMarker() const {
    const double r = roll * kPi / 180.0, p = pitch * kPi / 180.0, y = yaw * kPi / 180.0;
    // The facing pose: marker x along camera x, marker y (up) against camera y (down), the face
    // normal towards the camera.
    const Matrix3 facing{{{1, 0, 0}, {0, -1, 0}, {0, 0, -1}}};
    const Matrix3 rx{{{1, 0, 0}, {0, std::cos(p), -std::sin(p)}, {0, std::sin(p), std::cos(p)}}};
    const Matrix3 ry{{{std::cos(y), 0, std::sin(y)}, {0, 1, 0}, {-std::sin(y), 0, std::cos(y)}}};
    const Matrix3 rz{{{std::cos(r), -std::sin(r), 0}, {std::sin(r), std::cos(r), 0}, {0, 0, 1}}};
    Matrix3 spun = rz;
    if (tilt != 0.0) {
        // Rodrigues' rotation by `tilt` about the screen-plane axis, written in the facing
        // marker's frame (y up), where the screen direction (cos a, sin a) is (cos a, −sin a, 0).
        const double t = tilt * kPi / 180.0, a = tiltAxis * kPi / 180.0;
        const double ux = std::cos(a), uy = -std::sin(a), c = std::cos(t), s = std::sin(t);
        const Matrix3 tilted{{{c + (1 - c) * ux * ux, (1 - c) * ux * uy, s * uy},
                              {(1 - c) * ux * uy, c + (1 - c) * uy * uy, -s * ux},
                              {-s * uy, s * ux, c}}};
        spun = multiply(tilted, rz);
    }
    const Matrix3 rot = multiply(facing, multiply(rx, multiply(ry, spun)));
    std::array<double, 12> pose{};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) pose[4 * i + j] = rot[i][j];
        pose[4 * i + 3] = position[i];
    }
    return pose;
}

MarkerPlacement ScriptMarker::placementAt(double t) const {
    if (keys.empty()) {
        MarkerPlacement hidden;
        hidden.shown = false;
        return hidden;
    }
    if (t <= keys.front().time) return keys.front().placement;
    if (t >= keys.back().time) return keys.back().placement;
    // First key later than t; the one before it starts the segment.
    auto next = std::upper_bound(keys.begin(), keys.end(), t,
                                 [](double v, const Keyframe& k) { return v < k.time; });
    const Keyframe& a = *(next - 1);
    const Keyframe& b = *next;
    const double f = (t - a.time) / (b.time - a.time);
    auto mix = [f](double u, double v) { return u + (v - u) * f; };
    MarkerPlacement out;
    for (int i = 0; i < 3; ++i)
        out.position[i] = mix(a.placement.position[i], b.placement.position[i]);
    out.roll = mix(a.placement.roll, b.placement.roll);
    out.pitch = mix(a.placement.pitch, b.placement.pitch);
    out.yaw = mix(a.placement.yaw, b.placement.yaw);
    out.tilt = mix(a.placement.tilt, b.placement.tilt);
    out.tiltAxis = mix(a.placement.tiltAxis, b.placement.tiltAxis);
    out.shown = a.placement.shown;
    return out;
}

int SynthScript::frameCount() const {
    return std::max(0, static_cast<int>(std::llround(duration * fps)));
}

std::optional<SynthScript> SynthScript::parse(const std::string& text, const std::string& baseDir,
                                              std::string* error) {
    SynthScript script;
    std::istringstream lines(text);
    std::string line;
    int lineNumber = 0;
    auto fail = [&](const std::string& why) -> std::optional<SynthScript> {
        if (error) *error = "line " + std::to_string(lineNumber) + ": " + why;
        return std::nullopt;
    };
    auto find = [&script](const std::string& name) -> ScriptMarker* {
        for (auto& m : script.markers)
            if (m.name == name) return &m;
        return nullptr;
    };
    auto addKey = [](ScriptMarker& marker, const Keyframe& key) {
        // Keep keys sorted; a key at the same time as an earlier one comes after it.
        auto at = std::upper_bound(marker.keys.begin(), marker.keys.end(), key.time,
                                   [](double t, const Keyframe& k) { return t < k.time; });
        marker.keys.insert(at, key);
    };
    while (std::getline(lines, line)) {
        ++lineNumber;
        line = line.substr(0, line.find('#'));
        LineReader in(line);
        std::string command;
        if (!in.word(command)) continue;

        if (command == "size") {
            if (!in.integer(script.width) || !in.integer(script.height) || script.width <= 0 ||
                script.height <= 0)
                return fail("size wants two positive integers: WIDTH HEIGHT");
        } else if (command == "fps") {
            if (!in.number(script.fps) || script.fps <= 0)
                return fail("fps wants a positive number");
        } else if (command == "duration") {
            if (!in.number(script.duration) || script.duration < 0)
                return fail("duration wants seconds, not negative");
        } else if (command == "calibration") {
            std::string path;
            if (!in.word(path)) return fail("calibration wants a file");
            script.calibrationPath = joinPath(baseDir, path);
        } else if (command == "background") {
            std::string kind;
            if (!in.word(kind))
                return fail("background wants generated, image PATH or colour R G B");
            if (kind == "generated") {
                script.background = Background::Generated;
            } else if (kind == "image") {
                std::string path;
                if (!in.word(path)) return fail("background image wants a file");
                script.background = Background::Image;
                script.backgroundImage = joinPath(baseDir, path);
            } else if (kind == "colour" || kind == "color") {
                for (int& c : script.backgroundRgb)
                    if (!in.integer(c) || c < 0 || c > 255)
                        return fail("background colour wants three values 0..255 (R G B)");
                script.background = Background::Colour;
            } else {
                return fail("unknown background '" + kind + "'");
            }
        } else if (command == "seed") {
            int seed;
            if (!in.integer(seed) || seed < 0) return fail("seed wants a non-negative integer");
            script.seed = static_cast<unsigned>(seed);
        } else if (command == "noise") {
            if (!in.number(script.effects.noiseSigma) || script.effects.noiseSigma < 0)
                return fail("noise wants a sigma in grey levels, not negative");
        } else if (command == "blur") {
            if (!in.number(script.effects.blurSigma) || script.effects.blurSigma < 0)
                return fail("blur wants a sigma in pixels, not negative");
        } else if (command == "gradient") {
            if (!in.number(script.effects.gradient) || script.effects.gradient < 0 ||
                script.effects.gradient >= 1)
                return fail("gradient wants a strength in [0, 1)");
            if (!in.atEnd() && !in.number(script.effects.gradientAngle))
                return fail("gradient angle must be a number (degrees)");
        } else if (command == "jpeg") {
            if (!in.integer(script.effects.jpegQuality) || script.effects.jpegQuality < 0 ||
                script.effects.jpegQuality > 100)
                return fail("jpeg wants a quality 0..100 (0 = off)");
        } else if (command == "exposure") {
            if (!in.number(script.effects.exposure) || script.effects.exposure < 0)
                return fail("exposure wants a light factor, not negative");
        } else if (command == "contrast") {
            if (!in.number(script.effects.contrast) || script.effects.contrast < 0)
                return fail("contrast wants a factor, not negative");
        } else if (command == "motionblur") {
            if (!in.number(script.effects.motionBlur) || script.effects.motionBlur < 0)
                return fail("motionblur wants a length in pixels, not negative");
            if (!in.atEnd() && !in.number(script.effects.motionAngle))
                return fail("motionblur angle must be a number (degrees)");
        } else if (command == "clutter") {
            if (!in.integer(script.clutter.count) || script.clutter.count < 0)
                return fail("clutter wants a shape count");
            if (!in.atEnd() && (!in.integer(script.clutter.period) || script.clutter.period <= 0))
                return fail("clutter period must be a positive number of frames");
        } else if (command == "marker") {
            ScriptMarker marker;
            std::string path;
            if (!in.word(marker.name) || !in.word(path) || !in.number(marker.widthMm) ||
                marker.widthMm <= 0)
                return fail("marker wants NAME IMAGE WIDTH_MM [inner] [margin MM]");
            marker.imagePath = joinPath(baseDir, path);
            std::string option;
            while (in.word(option)) {
                if (option == "inner") {
                    marker.innerOnly = true;
                } else if (option == "margin") {
                    if (!in.number(marker.marginMm) || marker.marginMm < 0)
                        return fail("margin wants millimetres, not negative");
                } else {
                    return fail("unknown marker option '" + option + "'");
                }
            }
            for (const auto& m : script.markers)
                if (m.name == marker.name)
                    return fail("marker '" + marker.name + "' declared twice");
            script.markers.push_back(marker);
            continue;
        } else if (command == "board") {
            ScriptMarker board;
            if (!in.word(board.name) || !in.integer(board.boardCols) ||
                !in.integer(board.boardRows) || !in.number(board.squareMm) || board.boardCols < 2 ||
                board.boardRows < 2 || board.boardCols > 100 || board.boardRows > 100 ||
                board.squareMm <= 0)
                return fail("board wants NAME COLS ROWS SQUARE_MM [margin MM], 2..100 corners");
            board.widthMm = (board.boardCols + 1) * board.squareMm;
            std::string option;
            if (in.word(option) &&
                (option != "margin" || !in.number(board.marginMm) || board.marginMm < 0))
                return fail("board option must be margin MM (not negative)");
            if (find(board.name)) return fail("marker '" + board.name + "' declared twice");
            script.markers.push_back(board);
        } else if (command == "key") {
            std::string name;
            Keyframe key;
            MarkerPlacement& p = key.placement;
            if (!in.word(name) || !in.number(key.time) || !in.number(p.position[0]) ||
                !in.number(p.position[1]) || !in.number(p.position[2]) || !in.number(p.roll) ||
                !in.number(p.pitch) || !in.number(p.yaw))
                return fail("key wants NAME TIME X Y Z ROLL PITCH YAW [shown|hidden]");
            std::string flag;
            if (in.word(flag)) {
                if (flag == "shown")
                    p.shown = true;
                else if (flag == "hidden")
                    p.shown = false;
                else
                    return fail("key flag must be shown or hidden, not '" + flag + "'");
            }
            ScriptMarker* marker = find(name);
            if (!marker) return fail("key for undeclared marker '" + name + "'");
            addKey(*marker, key);
        } else if (command == "sweep") {
            std::string name;
            Keyframe a, b;
            MarkerPlacement& p = a.placement;
            if (!in.word(name) || !in.number(a.time) || !in.number(b.time) ||
                !in.number(p.position[0]) || !in.number(p.position[1]) ||
                !in.number(p.position[2]) || !in.number(p.roll) || !in.number(p.tilt) ||
                !in.number(b.placement.tilt) || !in.number(p.tiltAxis) ||
                !in.number(b.placement.tiltAxis) || b.time <= a.time)
                return fail(
                    "sweep wants NAME T0 T1 X Y Z ROLL TILT0 TILT1 AXIS0 AXIS1 with T0 < T1");
            ScriptMarker* marker = find(name);
            if (!marker) return fail("sweep for undeclared marker '" + name + "'");
            b.placement.position = p.position;
            b.placement.roll = p.roll;
            addKey(*marker, a);
            addKey(*marker, b);
        } else if (command == "finger") {
            std::string name, kind;
            Finger f;
            const char* usage =
                "finger wants NAME FROM TO corner K DEPTH [WIDTH] or NAME FROM TO side K SHARE "
                "[DEPTH] [POSITION]";
            if (!in.word(name) || !in.number(f.from) || !in.number(f.to) || !in.word(kind) ||
                (kind != "corner" && kind != "side") || !in.integer(f.index) || f.index < 0 ||
                f.index > 3)
                return fail(usage);
            ScriptMarker* marker = find(name);
            if (!marker) return fail("finger for undeclared marker '" + name + "'");
            if (marker->isBoard()) return fail("fingers go on markers, not on boards");
            f.onCorner = kind == "corner";
            if (!f.onCorner) f.depth = marker->widthMm / 8.0;  // half the black border
            if (!(f.onCorner ? in.number(f.depth) : in.number(f.share)) ||
                (!in.atEnd() && !in.number(f.onCorner ? f.widthMm : f.depth)) ||
                (!in.atEnd() && (f.onCorner || !in.number(f.position))))
                return fail(usage);
            if (f.depth <= 0 || f.widthMm <= 0 || f.share <= 0 || f.share > 1 || f.position < 0 ||
                f.position > 1)
                return fail(
                    "finger depth and width must be positive, share in (0, 1], position "
                    "in [0, 1]");
            marker->fingers.push_back(f);
        } else {
            return fail("unknown command '" + command + "'");
        }
        if (!in.atEnd()) return fail("unexpected text after '" + command + "'");
    }
    return script;
}

std::optional<SynthScript> SynthScript::load(const std::string& path, std::string* error) {
    std::ifstream file(path);
    if (!file) {
        if (error) *error = path + ": cannot open";
        return std::nullopt;
    }
    std::stringstream text;
    text << file.rdbuf();
    const auto slash = path.find_last_of('/');
    const std::string baseDir = slash == std::string::npos ? "" : path.substr(0, slash);
    std::string why;
    auto script = parse(text.str(), baseDir, &why);
    if (!script && error) *error = path + ": " + why;
    return script;
}

}  // namespace quorv
