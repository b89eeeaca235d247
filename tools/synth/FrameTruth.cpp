#include "FrameTruth.h"

#include <cstdio>

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

}  // namespace

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
        out += "]}";
    }
    return out + "]}";
}

}  // namespace quorv
