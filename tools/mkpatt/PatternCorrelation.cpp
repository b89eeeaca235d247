#include "PatternCorrelation.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace quorv {
namespace {

/// Inverted values with their integer mean removed.
std::array<double, markers::kPatternValues> centred(const markers::PatternImage& p) {
    int sum = 0;
    for (auto v : p.values) sum += 255 - v;
    const int mean = sum / markers::kPatternValues;
    std::array<double, markers::kPatternValues> out{};
    for (int i = 0; i < markers::kPatternValues; ++i) out[i] = 255 - p.values[i] - mean;
    return out;
}

}  // namespace

double patternCorrelation(const markers::PatternImage& a, const markers::PatternImage& b) {
    const auto x = centred(a), y = centred(b);
    double xy = 0, xx = 0, yy = 0;
    for (int i = 0; i < markers::kPatternValues; ++i) {
        xy += x[i] * y[i];
        xx += x[i] * x[i];
        yy += y[i] * y[i];
    }
    if (xx == 0 || yy == 0) return 0.0;
    return xy / std::sqrt(xx * yy);
}

double worstCaseCorrelation(const markers::Pattern& a, const markers::Pattern& b) {
    double best = -1.0;
    for (int k = 0; k < 4; ++k) best = std::max(best, patternCorrelation(a.block(0), b.block(k)));
    return best;
}

}  // namespace quorv
