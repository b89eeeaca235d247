#pragma once

#include <string>
#include <utility>
#include <vector>

namespace quorv::viewer {

/// A pattern whose cells' grey levels spread less than this (standard deviation) is uniform:
/// the tracker never identifies so flat a sample.
constexpr double kUniformPatternDeviation = 8.0;
/// Two patterns correlating above this, in some orientation, are taken for each other.
constexpr double kAlikePatternCorrelation = 0.9;

/// The warnings for a set of marker patterns, given as (name, pattern file): one for each
/// pattern that is uniform, one for each pair that correlates above kAlikePatternCorrelation in
/// any of the four orientations. Files that cannot be read are left to the tracker to refuse.
std::vector<std::string> patternWarnings(
    const std::vector<std::pair<std::string, std::string>>& patterns);

}  // namespace quorv::viewer
