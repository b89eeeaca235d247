#include "Threshold.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

namespace quorv::markers {
namespace {

/// Four bytes widened to 32-bit lanes. OpenCV's v_load_expand_q reads them as one int, which
/// must be aligned; rows of odd widths are not.
inline cv::v_uint32x4 loadFour(const uchar* p) {
    alignas(4) uchar four[4];
    std::memcpy(four, p, 4);
    return cv::v_load_expand_q(four);
}

/// Dark where a pixel is at least `delta` below the rounded mean of the `block` x `block`
/// square around it, edge pixels repeated beyond the image: what cv::adaptiveThreshold with
/// ADAPTIVE_THRESH_MEAN_C and THRESH_BINARY_INV gives, with whole-number sums and no blurred
/// copy of the image. The sums of each column's window move down one row at a time; along a
/// row, the window sums are differences of a running total. Four columns at a time in
/// OpenCV's portable vector registers.
void meanThreshold(const cv::Mat& src, cv::Mat& dark, int block, int delta) {
    const int cols = src.cols, rows = src.rows, r = block / 2, area = block * block;
    // Beyond +-256 every pixel is dark, or none is, as at +-256.
    delta = std::clamp(delta, -256, 256);
    dark.create(src.size(), CV_8U);
    thread_local std::vector<int> column, total;
    column.assign(cols, 0);
    total.resize(cols + 2 * r + 1);
    for (int k = -r; k <= r; ++k) {
        const uchar* s = src.ptr<uchar>(std::clamp(k, 0, rows - 1));
        for (int x = 0; x < cols; ++x) column[x] += s[x];
    }
    // round(sum / area) >= v + delta is, for an odd area (no ties),
    // sum + (area - 1) / 2 >= area * (v + delta).
    const int half = (area - 1) / 2;
    const cv::v_int32x4 vHalf = cv::v_setall_s32(half), vArea = cv::v_setall_s32(area),
                        vDelta = cv::v_setall_s32(delta);
    // The window sums from the running total, compared with four pixels at `s`.
    auto darkMask = [&](const uchar* s, int x) {
        const cv::v_int32x4 sum = cv::v_load(&total[x + block]) - cv::v_load(&total[x]) + vHalf;
        const cv::v_int32x4 v = cv::v_reinterpret_as_s32(loadFour(s + x));
        return sum >= (v + vDelta) * vArea;
    };
    for (int y = 0; y < rows; ++y) {
        // total[i]: the column sums left of extended column i (columns repeated at the ends).
        int running = 0, i = 0;
        int* t = total.data();
        const int* c = column.data();
        t[0] = 0;
        for (; i < r; ++i) t[i + 1] = running += c[0];
        for (int x = 0; x < cols; ++x, ++i) t[i + 1] = running += c[x];
        for (; i < cols + 2 * r; ++i) t[i + 1] = running += c[cols - 1];

        const uchar* s = src.ptr<uchar>(y);
        uchar* d = dark.ptr<uchar>(y);
        int x = 0;
        for (; x + 16 <= cols; x += 16) {
            const cv::v_int16x8 lo = cv::v_pack(darkMask(s, x), darkMask(s, x + 4));
            const cv::v_int16x8 hi = cv::v_pack(darkMask(s, x + 8), darkMask(s, x + 12));
            cv::v_store(d + x, cv::v_reinterpret_as_u8(cv::v_pack(lo, hi)));
        }
        for (; x < cols; ++x)
            d[x] = total[x + block] - total[x] + half >= area * (s[x] + delta) ? 255 : 0;
        if (y + 1 == rows) break;

        const uchar* add = src.ptr<uchar>(std::min(y + r + 1, rows - 1));
        const uchar* drop = src.ptr<uchar>(std::max(y - r, 0));
        x = 0;
        for (; x + 4 <= cols; x += 4) {
            const cv::v_int32x4 in = cv::v_reinterpret_as_s32(loadFour(add + x));
            const cv::v_int32x4 out = cv::v_reinterpret_as_s32(loadFour(drop + x));
            cv::v_store(&column[x], cv::v_load(&column[x]) + in - out);
        }
        for (; x < cols; ++x) column[x] += int(add[x]) - int(drop[x]);
    }
}

/// meanThreshold with 16-bit sums, eight columns at a time, for blocks and offsets where they
/// cannot overflow: window sums up to area x 255 and thresholds up to area x (255 + delta),
/// both below 65536 (a 15 x 15 block with an offset from 0 to 36). The running totals along a
/// row wrap around, but the difference of two is the window sum modulo 65536: the sum itself.
/// OpenCV's plain + and - saturate on 16-bit lanes, so the wrapping forms are spelled out.
bool meanThreshold16(const cv::Mat& src, cv::Mat& dark, int block, int delta) {
    const int cols = src.cols, rows = src.rows, r = block / 2, area = block * block;
    if (delta < 0 || area * (255 + delta) > 65535) return false;
    dark.create(src.size(), CV_8U);
    thread_local std::vector<ushort> column, total;
    column.assign(cols, 0);
    total.resize(cols + 2 * r + 1 + 8);
    for (int k = -r; k <= r; ++k) {
        const uchar* s = src.ptr<uchar>(std::clamp(k, 0, rows - 1));
        for (int x = 0; x < cols; ++x) column[x] = static_cast<ushort>(column[x] + s[x]);
    }
    const cv::v_uint16x8 vHalf = cv::v_setall_u16(static_cast<ushort>((area - 1) / 2));
    const cv::v_uint16x8 vArea = cv::v_setall_u16(static_cast<ushort>(area));
    const cv::v_uint16x8 vDelta = cv::v_setall_u16(static_cast<ushort>(delta));
    auto darkMask = [&](const uchar* s, int x) {
        const cv::v_uint16x8 sum = cv::v_add_wrap(
            cv::v_sub_wrap(cv::v_load(&total[x + block]), cv::v_load(&total[x])), vHalf);
        const cv::v_uint16x8 v = cv::v_load_expand(s + x);
        return sum >= cv::v_mul_wrap(cv::v_add_wrap(v, vDelta), vArea);
    };
    for (int y = 0; y < rows; ++y) {
        ushort running = 0;
        int i = 0;
        ushort* t = total.data();
        const ushort* c = column.data();
        t[0] = 0;
        for (; i < r; ++i) t[i + 1] = running = static_cast<ushort>(running + c[0]);
        for (int x = 0; x < cols; ++x, ++i)
            t[i + 1] = running = static_cast<ushort>(running + c[x]);
        for (; i < cols + 2 * r; ++i)
            t[i + 1] = running = static_cast<ushort>(running + c[cols - 1]);

        const uchar* s = src.ptr<uchar>(y);
        uchar* d = dark.ptr<uchar>(y);
        int x = 0;
        for (; x + 16 <= cols; x += 16)
            cv::v_store(d + x, cv::v_pack(darkMask(s, x), darkMask(s, x + 8)));
        const int half = (area - 1) / 2;
        for (; x < cols; ++x)
            d[x] = ushort(total[x + block] - total[x]) + half >= area * (s[x] + delta) ? 255 : 0;
        if (y + 1 == rows) break;

        const uchar* add = src.ptr<uchar>(std::min(y + r + 1, rows - 1));
        const uchar* drop = src.ptr<uchar>(std::max(y - r, 0));
        x = 0;
        for (; x + 8 <= cols; x += 8) {
            const cv::v_uint16x8 in = cv::v_load_expand(add + x), out = cv::v_load_expand(drop + x);
            cv::v_store(&column[x],
                        cv::v_sub_wrap(cv::v_add_wrap(cv::v_load(&column[x]), in), out));
        }
        for (; x < cols; ++x) column[x] = static_cast<ushort>(column[x] + add[x] - drop[x]);
    }
    return true;
}

}  // namespace

BinaryImage threshold(const cv::Mat& grey, const ThresholdParameters& params) {
    BinaryImage out;
    out.scale = (params.downscale == 2 || params.downscale == 4) ? params.downscale : 1;
    cv::Mat work = grey;
    if (out.scale > 1) {
        // INTER_AREA averages whole scale x scale blocks, which also lowers the noise.
        cv::resize(grey, work, cv::Size(grey.cols / out.scale, grey.rows / out.scale), 0, 0,
                   cv::INTER_AREA);
    }
    if (params.method == ThresholdParameters::Method::Fixed) {
        cv::threshold(work, out.dark, params.fixedLevel, 255, cv::THRESH_BINARY_INV);
    } else {
        const int block = std::max(3, params.blockSize | 1);
        const int delta = static_cast<int>(std::floor(params.offset));
        if (!meanThreshold16(work, out.dark, block, delta))
            meanThreshold(work, out.dark, block, delta);
    }
    return out;
}

}  // namespace quorv::markers
