#pragma once

#include <Pattern.h>

namespace quorv {

/// Normalised correlation of two templates over all 768 values, as a detector scores a sample
/// against a pattern block: both sides inverted (255 − v), their integer mean removed, then the
/// cosine of the two vectors. 1 = same picture, 0 = unrelated, −1 = negative. A flat template
/// correlates 0 with everything.
double patternCorrelation(const markers::PatternImage& a, const markers::PatternImage& b);

/// How alike two markers can look to a detector: the highest correlation of `a` upright with any
/// of the four orientations of `b`.
double worstCaseCorrelation(const markers::Pattern& a, const markers::Pattern& b);

}  // namespace quorv
