#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace quorv {

/// What the synthetic camera knows about one frame: every marker that is shown at that moment,
/// with its true corners and pose. One JSON object per frame (see tools/synth/README.md).
struct FrameTruth {
    struct Marker {
        std::string name;
        bool inView = false;       ///< in front of the camera and at least partly inside the image
        bool fullyInView = false;  ///< all four corners inside the image
        double widthPx = 0.0;      ///< square root of the corner quadrilateral's area, pixels
        double tiltDeg = 0.0;      ///< angle between the face normal and the line to the camera
        /// Observed (distorted) image positions of UL, UR, LR, LL; pixel centres at integers.
        std::array<std::array<double, 2>, 4> corners{};
        /// [R|t] row-major, X_camera = R·X_marker + t, camera x right, y down, z forward, mm.
        std::array<double, 12> cameraFromMarker{};
        /// A finger lies on the marker's square at this moment; coveredCorners[i]: it hides
        /// corner i (UL, UR, LR, LL).
        bool covered = false;
        std::array<bool, 4> coveredCorners{};
        /// Whether the two fields above are written: true for markers the script puts fingers on
        /// (and when they were read), so truth without fingers keeps its old form.
        bool reportsCover = false;
    };

    int frame = 0;
    double time = 0.0;  ///< seconds, frame / fps
    std::vector<Marker> markers;

    /// The frame as one line of JSON, without the newline.
    std::string toJson() const;

    /// One line as toJson() writes it (keys in any order, unknown keys skipped); nothing when
    /// the line is not such an object.
    static std::optional<FrameTruth> fromJson(const std::string& line);

    /// Every frame of a truth file, one JSON object a line; nothing when the file cannot be
    /// read or a line is malformed.
    static std::optional<std::vector<FrameTruth>> readFile(const std::string& path);
};

}  // namespace quorv
