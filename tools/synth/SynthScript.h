#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace quorv {

/// Where a marker is at one moment: its centre in the camera frame (x right, y down, z forward,
/// mm) and its attitude as three angles in degrees, applied in this order to a marker that faces
/// the camera upright: `roll` spins it in its own plane (positive turns it counter-clockwise on
/// screen), `yaw` turns it about the screen's vertical axis through its centre (positive takes its
/// right side away from the camera), `pitch` tips it about the screen's horizontal axis (positive
/// brings its upper side towards the camera). A `tilt` (sweeps use it) tips the spun marker about
/// an axis in the screen plane before yaw and pitch turn it: `tiltAxis` is that axis's direction on
/// screen in degrees (0 = towards the right, 90 = downwards); a positive tilt brings the half on
/// the side of direction tiltAxis − 90° towards the camera (axis 0: the upper half, as a positive
/// pitch does; axis 90: the right half).
struct MarkerPlacement {
    std::array<double, 3> position{0.0, 0.0, 500.0};
    double roll = 0.0;
    double pitch = 0.0;
    double yaw = 0.0;
    bool shown = true;
    double tilt = 0.0;
    double tiltAxis = 0.0;

    /// The pose camera_from_marker as a row-major 3x4 [R|t]: X_camera = R·X_marker + t.
    std::array<double, 12> cameraFromMarker() const;
};

/// One keyframe of one marker. Positions and angles are interpolated linearly between keyframes;
/// `shown` holds from its keyframe until the next one.
struct Keyframe {
    double time = 0.0;
    MarkerPlacement placement;
};

/// A thumb lying on a marker's paper between `from` and `to` seconds (from <= t < to), drawn in the
/// marker's plane so it moves with it. Either over a corner, coming along the diagonal from outside
/// with its rounded tip `depth` mm inside the corner, or across a side, covering `share` of the
/// side's length around `position` (0..1 along the side) and reaching `depth` mm inside its edge.
struct Finger {
    double from = 0.0;
    double to = 0.0;
    bool onCorner = true;
    int index = 0;        ///< corner 0 UL, 1 UR, 2 LR, 3 LL; side 0 top, 1 right, 2 bottom, 3 left
    double depth = 10.0;  ///< mm inside the corner (along the diagonal) or the side's edge
    double widthMm = 20.0;  ///< corner thumbs only; a side's thumb is share × the side wide
    double share = 0.3;     ///< sides only
    double position = 0.5;  ///< sides only

    bool activeAt(double t) const { return from <= t && t < to; }
};

/// A marker of the scene: its picture and its printed size.
struct ScriptMarker {
    std::string name;            ///< reported in the ground truth, e.g. "patt.tovex"
    std::string imagePath;       ///< absolute, or relative to the working directory
    double widthMm = 80.0;       ///< outer edge of the black border
    bool innerOnly = false;      ///< the image is the inner pattern; a 25 % black border is added
    double marginMm = -1.0;      ///< white paper around the border; negative means width / 8
    std::vector<Keyframe> keys;  ///< sorted by time
    std::vector<Finger> fingers{};
    /// A chessboard instead of a picture: boardCols × boardRows inner corners, squares of
    /// squareMm; widthMm is then the width of its (boardCols + 1) squares. 0 = a marker.
    int boardCols = 0;
    int boardRows = 0;
    double squareMm = 0.0;

    bool isBoard() const { return boardCols > 0; }
    /// Half the width and half the height of the printed area (a marker's square, a board's
    /// squares), mm.
    double halfWidth() const { return widthMm / 2.0; }
    double halfHeight() const {
        return isBoard() ? (boardRows + 1) * squareMm / 2.0 : widthMm / 2.0;
    }
    /// White paper around the printed area: a marker's default is width / 8, a board's a square.
    double margin() const {
        return marginMm >= 0.0 ? marginMm : isBoard() ? squareMm : widthMm / 8.0;
    }
    /// The marker's placement at time t (seconds). Before the first key it holds the first one,
    /// after the last it holds the last. A marker without keys is hidden.
    MarkerPlacement placementAt(double t) const;
};

/// Image effects applied to every frame, after the markers are drawn, in the order listed.
struct ImageEffects {
    double gradient = 0.0;       ///< lighting falloff: 0 = even light, 0.4 = dark side at 60 %
    double gradientAngle = 0.0;  ///< degrees; the direction in which light falls off (0 = right)
    double exposure = 1.0;       ///< scene light factor: 0.3 dark, 2 over-exposed (clipped at 255)
    double contrast = 1.0;       ///< grey values scaled about 128: 0.3 washed out
    double motionBlur = 0.0;     ///< length of the motion smear, pixels (0 = none)
    double motionAngle = 0.0;    ///< degrees; its direction (0 = right, 90 = down)
    double blurSigma = 0.0;      ///< Gaussian blur, pixels (0 = none); 0.5–1 mimics a webcam lens
    double noiseSigma = 0.0;     ///< additive Gaussian noise, grey levels (0 = none); 2–4 typical
    int jpegQuality = 0;         ///< re-encode each frame as JPEG at this quality (0 = off)
};

/// Random shapes drawn over the background: squares (some marker-like with random inner blocks),
/// rings, lines and words. Used to check that nothing is detected where no marker is.
struct ClutterOptions {
    int count = 0;   ///< shapes per frame (0 = none)
    int period = 1;  ///< frames between new sets of shapes
};

/// A scripted scene for the synthetic camera: global settings, markers and their keyframes.
/// The text form is documented in tools/synth/README.md.
struct SynthScript {
    int width = 0;  ///< 0 = the calibration's size
    int height = 0;
    double fps = 30.0;
    double duration = 1.0;  ///< seconds
    std::string calibrationPath;
    enum class Background { Generated, Image, Colour } background = Background::Generated;
    std::string backgroundImage;
    std::array<int, 3> backgroundRgb{200, 200, 200};
    unsigned seed = 1;
    ImageEffects effects;
    ClutterOptions clutter;
    std::vector<ScriptMarker> markers;

    int frameCount() const;

    /// Parses a script. Relative paths in it are taken from `baseDir` (the script's folder).
    /// On a syntax error returns nothing and sets `error` to "line N: what is wrong".
    static std::optional<SynthScript> parse(const std::string& text, const std::string& baseDir,
                                            std::string* error = nullptr);
    /// Reads and parses a script file; errors name the file.
    static std::optional<SynthScript> load(const std::string& path, std::string* error = nullptr);
};

}  // namespace quorv
