#include "PrintableMarker.h"

#include <cmath>
#include <cstdint>
#include <fstream>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

namespace quorv {
namespace {

uint32_t crc32(const uint8_t* data, size_t size) {
    uint32_t crc = 0xffffffffu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return crc ^ 0xffffffffu;
}

void putBigEndian(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 3; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

PrintableMarker::PrintableMarker() : _options() {}

int PrintableMarker::pixels(double mm) const {
    return static_cast<int>(std::lround(mm / 25.4 * _options.dpi));
}

cv::Mat PrintableMarker::make(const cv::Mat& pattern) const {
    cv::Mat bgr;
    if (pattern.channels() == 1)
        cv::cvtColor(pattern, bgr, cv::COLOR_GRAY2BGR);
    else if (pattern.channels() == 4)
        cv::cvtColor(pattern, bgr, cv::COLOR_BGRA2BGR);
    else
        bgr = pattern;
    const int side = pixels(_options.widthMm);
    const int border = static_cast<int>(std::lround(side / 4.0));
    const int inner = side - 2 * border;
    cv::Mat scaled;
    const bool enlarging = inner > bgr.cols || inner > bgr.rows;
    const int method =
        !enlarging ? cv::INTER_AREA : (_options.pixelArt ? cv::INTER_NEAREST : cv::INTER_CUBIC);
    cv::resize(bgr, scaled, cv::Size(inner, inner), 0, 0, method);
    const int margin = pixels(_options.marginMm);
    cv::Mat out(side + 2 * margin, side + 2 * margin, CV_8UC3, cv::Scalar::all(255));
    out(cv::Rect(margin, margin, side, side)).setTo(cv::Scalar::all(0));
    scaled.copyTo(out(cv::Rect(margin + border, margin + border, inner, inner)));
    return out;
}

bool PrintableMarker::writePng(const std::string& path, const cv::Mat& image) const {
    std::vector<uint8_t> png;
    if (!cv::imencode(".png", image, png) || png.size() < 33) return false;
    // A pHYs chunk (pixels per metre on both axes) right after IHDR, which always ends at
    // byte 33: signature (8) + length (4) + type (4) + 13 data bytes + CRC (4).
    const uint32_t perMetre = static_cast<uint32_t>(std::lround(_options.dpi / 0.0254));
    std::vector<uint8_t> chunk;
    putBigEndian(chunk, 9);
    const size_t typeAt = chunk.size();
    for (char c : {'p', 'H', 'Y', 's'}) chunk.push_back(static_cast<uint8_t>(c));
    putBigEndian(chunk, perMetre);
    putBigEndian(chunk, perMetre);
    chunk.push_back(1);  // unit: metre
    putBigEndian(chunk, crc32(chunk.data() + typeAt, chunk.size() - typeAt));
    png.insert(png.begin() + 33, chunk.begin(), chunk.end());
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    return static_cast<bool>(file);
}

}  // namespace quorv
