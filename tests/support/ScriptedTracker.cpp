// A tracker for tests, built as a plugin with the real tracker's name and placed in its own
// folder (build/tests/scripted-plugins) so that tests pick it with QUORV_PLUGIN_PATH. It finds
// nothing in images: what is in view, and where, follows a script.
//
// QUORV_TRACKER_SCRIPT names the script file. Each line:
//     PATTERN FIRST LAST seen|lost [TX TY TZ [RX RY RZ]]
// says that over the analysed images FIRST..LAST (counted from 1; LAST may be "*" for "from then
// on") the marker named PATTERN is seen, at the given camera-from-marker pose in the classic
// camera frame (x right, y down, z forward; millimetres; rotations in degrees about x, then y,
// then z), or lost. A marker is lost in any image no line covers. '#' starts a comment.
//
// QUORV_TRACKER_LOG names a file that gets one line per marker request: the configuration
// string as received.
// QUORV_TRACKER_REFUSE lists pattern names (comma-separated) whose requests are refused.
#include <osgart/Plugin.h>
#include <osgart/Tracker.h>

#include <osg/Notify>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct ScriptLine {
    std::string pattern;
    unsigned long first = 0;
    unsigned long last = 0;
    bool seen = false;
    osg::Matrixd modelview;
};

/// GL modelview of a camera-from-marker pose given in the classic camera frame.
osg::Matrixd modelviewOf(const double t[3], const double degrees[3]) {
    const double k = M_PI / 180.0;
    // Rotation about x, then y, then z, applied to marker points (column vectors).
    const double cx = std::cos(degrees[0] * k), sx = std::sin(degrees[0] * k);
    const double cy = std::cos(degrees[1] * k), sy = std::sin(degrees[1] * k);
    const double cz = std::cos(degrees[2] * k), sz = std::sin(degrees[2] * k);
    const double rx[3][3] = {{1, 0, 0}, {0, cx, -sx}, {0, sx, cx}};
    const double ry[3][3] = {{cy, 0, sy}, {0, 1, 0}, {-sy, 0, cy}};
    const double rz[3][3] = {{cz, -sz, 0}, {sz, cz, 0}, {0, 0, 1}};
    double ryx[3][3] = {}, r[3][3] = {};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int m = 0; m < 3; ++m) ryx[i][j] += ry[i][m] * rx[m][j];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int m = 0; m < 3; ++m) r[i][j] += rz[i][m] * ryx[m][j];
    // GL eye frame = classic camera frame turned 180 degrees about x; osg stores row vectors.
    const double flip[3] = {1.0, -1.0, -1.0};
    osg::Matrixd m;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) m(j, i) = flip[i] * r[i][j];
        m(3, i) = flip[i] * t[i];
    }
    return m;
}

std::vector<ScriptLine> readScript(const char* path) {
    std::vector<ScriptLine> lines;
    if (!path) return lines;
    std::ifstream in(path);
    if (!in) {
        osg::notify(osg::WARN) << "scripted tracker: cannot read " << path << std::endl;
        return lines;
    }
    std::string text;
    while (std::getline(in, text)) {
        const auto hash = text.find('#');
        if (hash != std::string::npos) text.resize(hash);
        std::istringstream fields(text);
        ScriptLine line;
        std::string last, state;
        if (!(fields >> line.pattern >> line.first >> last >> state)) continue;
        line.last = last == "*" ? std::numeric_limits<unsigned long>::max() : std::stoul(last);
        line.seen = state == "seen";
        double t[3] = {0, 0, 500}, r[3] = {0, 0, 0};
        fields >> t[0] >> t[1] >> t[2] >> r[0] >> r[1] >> r[2];
        line.modelview = modelviewOf(t, r);
        lines.push_back(line);
    }
    return lines;
}

class ScriptedTracker : public osgART::Tracker {
public:
    ScriptedTracker() : _script(readScript(std::getenv("QUORV_TRACKER_SCRIPT"))) {
        if (const char* refuse = std::getenv("QUORV_TRACKER_REFUSE")) {
            std::stringstream list(refuse);
            std::string name;
            while (std::getline(list, name, ',')) _refused.push_back(name);
        }
    }

    osgART::Marker* addMarker(const std::string& configuration) override {
        if (const char* log = std::getenv("QUORV_TRACKER_LOG"))
            std::ofstream(log, std::ios::app) << configuration << "\n";
        // The pattern name: after the last backslash of the second field, up to its end.
        const auto first = configuration.find(';');
        if (first == std::string::npos) return nullptr;
        std::string path = configuration.substr(first + 1);
        path = path.substr(0, path.find(';'));
        const std::string name = path.substr(path.rfind('\\') + 1);
        for (const std::string& refused : _refused)
            if (refused == name) return nullptr;
        auto* marker = new osgART::Marker(name);
        _markers.push_back(marker);
        return marker;
    }

    void update() override {
        ++_analysed;
        if (_script.empty()) return;  // markers are then driven by hand, through setTracked
        for (auto& marker : _markers) {
            bool seen = false;
            osg::Matrixd pose;
            for (const ScriptLine& line : _script)
                if (line.pattern == marker->getName() && _analysed >= line.first &&
                    _analysed <= line.last) {
                    seen = line.seen;
                    pose = line.modelview;
                }
            marker->setTracked(seen, pose);
        }
    }

private:
    std::vector<ScriptLine> _script;
    std::vector<std::string> _refused;
    unsigned long _analysed = 0;
};

}  // namespace

OSGART_PLUGIN_ENTRY(ScriptedTracker)
