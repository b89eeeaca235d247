#pragma once

// Pattern files of the classic marker toolkit (".patt").
//
// To write a pattern file from a 16x16 colour template (what quorv-mkpatt does):
//
//     #include "Pattern.h"                  // target quorv_markers
//     quorv::markers::PatternImage upright; // the pattern area, upright, top row first
//     upright.at(plane, row, col) = value;  // plane 0 = blue, 1 = green, 2 = red; 0..255
//     std::string error;
//     if (!quorv::markers::Pattern::fromUpright(upright).save("patt.name", &error)) ...
//
// The template holds the raw intensities of the central 50 % of the marker (inside the black
// border), white about 240 and black low, not inverted. `fromUpright` adds the three other
// orientations; `save` writes the classic layout (four blocks, each three planes of sixteen
// lines of sixteen "%4d" fields, an empty line after each block).

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace quorv::markers {

/// Cells per side of a pattern template.
constexpr int kPatternSize = 16;
/// Colour planes of a template, in file order: blue, green, red.
constexpr int kPatternPlanes = 3;
/// Values in one template: planes x rows x columns.
constexpr int kPatternValues = kPatternPlanes * kPatternSize * kPatternSize;

/// One 16x16 template in three colour planes (B, G, R), stored plane by plane, row by row,
/// exactly as a block of the file.
struct PatternImage {
    std::array<std::uint8_t, kPatternValues> values{};

    std::uint8_t& at(int plane, int row, int col) {
        return values[(plane * kPatternSize + row) * kPatternSize + col];
    }
    std::uint8_t at(int plane, int row, int col) const {
        return values[(plane * kPatternSize + row) * kPatternSize + col];
    }

    /// This template turned 90 degrees counter-clockwise as seen with row 0 on top:
    /// result[r][c] = this[c][15 - r].
    PatternImage rotatedCounterClockwise() const;

    bool operator==(const PatternImage& other) const { return values == other.values; }
};

/// A pattern as stored in a file: the template in its four orientations. Block k is block 0
/// (the pattern upright) turned k x 90 degrees counter-clockwise.
class Pattern {
  public:
    static Pattern fromUpright(const PatternImage& upright);

    /// Reads a pattern file. The reader takes the first 3072 whitespace-separated integers
    /// (line layout does not matter, anything after them is ignored). On failure returns
    /// nothing and says why in `error`, naming the file.
    static std::optional<Pattern> load(const std::string& path, std::string* error = nullptr);
    /// Parses the text of a pattern file; see load.
    static std::optional<Pattern> parse(const std::string& text, std::string* error = nullptr);

    /// The file text in the classic writer's layout.
    std::string toText() const;
    /// Writes toText() to `path`. Returns false (with a reason in `error`) on I/O failure.
    bool save(const std::string& path, std::string* error = nullptr) const;

    /// Orientation block k (0..3).
    const PatternImage& block(int k) const { return _blocks[k]; }

  private:
    std::array<PatternImage, 4> _blocks{};
};

}  // namespace quorv::markers
