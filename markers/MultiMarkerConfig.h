#pragma once

#include <opencv2/core.hpp>
#include <optional>
#include <string>
#include <vector>

namespace quorv::markers {

/// A classic multi-marker configuration file: several markers fixed to one rigid set, tracked
/// as one pose.
///
/// Layout: the number of markers N, then six significant lines per marker: the pattern file
/// path (first word of the line), the width, the centre x and y, and three lines of four
/// numbers, rows 0..2 of set_from_marker (x_in_set = T * x_in_marker). Lines that start with
/// '#' and lines that hold only blanks are skipped; Windows line ends are accepted. Pattern
/// paths are relative to the working directory, as the classic reader takes them, and may
/// use '\' as folder separator.
struct MultiMarkerConfig {
    struct Member {
        std::string patternPath;
        double width = 0.0;
        cv::Point2d center{0, 0};
        cv::Matx34d setFromMarker;
    };
    std::vector<Member> members;

    /// Most members accepted, as many as the classic toolkit loads patterns.
    static constexpr int kMaxMembers = 50;

    static std::optional<MultiMarkerConfig> parse(const std::string& text,
                                                  std::string* error = nullptr);
    /// Reads and parses a file; errors name the file.
    static std::optional<MultiMarkerConfig> read(const std::string& path,
                                                 std::string* error = nullptr);
};

}  // namespace quorv::markers
