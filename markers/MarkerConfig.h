#pragma once

#include <opencv2/core.hpp>
#include <optional>
#include <string>

namespace quorv::markers {

/// A marker configuration string, as the viewer hands it to the tracker:
///   single;folder\pattern;width;centerX;centerY
///   multi;folder\configuration
/// The backslash separates folders on every platform; paths are relative to the working
/// directory.
struct MarkerConfig {
    enum class Kind { Single, Multi };
    Kind kind = Kind::Single;
    /// The file path with '/' as folder separator.
    std::string path;
    /// Single: the outer width of the black border, and where the marker's centre lies in the
    /// frame its pose is given in (normally 0, 0). In the width's units (mm).
    double width = 0.0;
    cv::Point2d center{0, 0};

    /// The marker's name: its file name without folder.
    std::string name() const;

    /// Parses a configuration string; on failure returns nothing and says why in `error`.
    static std::optional<MarkerConfig> parse(const std::string& text, std::string* error = nullptr);
};

}  // namespace quorv::markers
