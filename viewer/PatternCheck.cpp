#include "PatternCheck.h"

#include <Pattern.h>

#include <algorithm>
#include <cmath>
#include <optional>

namespace quorv::viewer {
namespace {

using quorv::markers::kPatternSize;
using quorv::markers::kPatternValues;
using quorv::markers::PatternImage;

/// Standard deviation of the cells' grey levels (the mean of the three planes).
double greyDeviation(const PatternImage& image) {
    constexpr int cells = kPatternSize * kPatternSize;
    double sum = 0, squares = 0;
    for (int cell = 0; cell < cells; ++cell) {
        const double grey =
            (image.values[cell] + image.values[cells + cell] + image.values[2 * cells + cell]) /
            3.0;
        sum += grey;
        squares += grey * grey;
    }
    const double mean = sum / cells;
    return std::sqrt(std::max(0.0, squares / cells - mean * mean));
}

/// Normalised correlation of all three planes of two templates.
double correlation(const PatternImage& a, const PatternImage& b) {
    double meanA = 0, meanB = 0;
    for (int i = 0; i < kPatternValues; ++i) meanA += a.values[i], meanB += b.values[i];
    meanA /= kPatternValues, meanB /= kPatternValues;
    double ab = 0, aa = 0, bb = 0;
    for (int i = 0; i < kPatternValues; ++i) {
        const double x = a.values[i] - meanA, y = b.values[i] - meanB;
        ab += x * y, aa += x * x, bb += y * y;
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0.0;
}

}  // namespace

std::vector<std::string> patternWarnings(
    const std::vector<std::pair<std::string, std::string>>& patterns) {
    std::vector<std::optional<quorv::markers::Pattern>> loaded;
    std::vector<std::string> warnings;
    for (const auto& [name, path] : patterns) {
        loaded.push_back(quorv::markers::Pattern::load(path));
        if (loaded.back() && greyDeviation(loaded.back()->block(0)) < kUniformPatternDeviation) {
            warnings.push_back("pattern " + name + " (" + path +
                               ") is uniform: its marker can never be recognised");
            loaded.back().reset();  // compared with nothing
        }
    }
    for (size_t i = 0; i < loaded.size(); ++i)
        for (size_t j = i + 1; j < loaded.size(); ++j) {
            if (!loaded[i] || !loaded[j]) continue;
            double best = -1;
            for (int k = 0; k < 4; ++k)
                best = std::max(best, correlation(loaded[i]->block(0), loaded[j]->block(k)));
            if (best > kAlikePatternCorrelation)
                warnings.push_back("patterns " + patterns[i].first + " and " + patterns[j].first +
                                   " correlate at " + std::to_string(best).substr(0, 4) +
                                   ": the tracker will take one marker for the other");
        }
    return warnings;
}

}  // namespace quorv::viewer
