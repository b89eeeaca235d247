#include "Pattern.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "SmallFile.h"

namespace quorv::markers {
namespace {

constexpr int kFileValues = 4 * kPatternValues;
/// A pattern file holds 3072 short numbers; anything much longer is not a pattern file.
constexpr std::streamsize kMaxFileBytes = 1 << 20;

bool fail(std::string* error, const std::string& why) {
    if (error) *error = why;
    return false;
}

}  // namespace

PatternImage PatternImage::rotatedCounterClockwise() const {
    PatternImage out;
    const int last = kPatternSize - 1;
    for (int p = 0; p < kPatternPlanes; ++p)
        for (int r = 0; r < kPatternSize; ++r)
            for (int c = 0; c < kPatternSize; ++c) out.at(p, r, c) = at(p, c, last - r);
    return out;
}

Pattern Pattern::fromUpright(const PatternImage& upright) {
    Pattern pattern;
    pattern._blocks[0] = upright;
    for (int k = 1; k < 4; ++k)
        pattern._blocks[k] = pattern._blocks[k - 1].rotatedCounterClockwise();
    return pattern;
}

std::optional<Pattern> Pattern::parse(const std::string& text, std::string* error) {
    Pattern pattern;
    const char* p = text.c_str();
    const char* end = p + text.size();
    for (int i = 0; i < kFileValues; ++i) {
        while (p < end &&
               (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\v' || *p == '\f'))
            ++p;
        if (p == end) {
            fail(error, "holds " + std::to_string(i) + " numbers, a pattern needs " +
                            std::to_string(kFileValues));
            return std::nullopt;
        }
        // Digits only (an optional sign), so strtol never reads past the token into a
        // neighbour and a stray byte is reported rather than skipped.
        const char* start = p;
        if (*p == '+' || *p == '-') ++p;
        const char* digits = p;
        while (p < end && *p >= '0' && *p <= '9') ++p;
        const bool separated = p == end || *p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' ||
                               *p == '\v' || *p == '\f';
        if (p == digits || !separated || p - start > 6) {
            fail(error, "number " + std::to_string(i + 1) + " is not an integer");
            return std::nullopt;
        }
        const long value = std::strtol(std::string(start, p).c_str(), nullptr, 10);
        if (value < 0 || value > 255) {
            fail(error, "number " + std::to_string(i + 1) + " (" + std::to_string(value) +
                            ") is outside 0..255");
            return std::nullopt;
        }
        pattern._blocks[i / kPatternValues].values[i % kPatternValues] =
            static_cast<std::uint8_t>(value);
    }
    return pattern;
}

std::optional<Pattern> Pattern::load(const std::string& path, std::string* error) {
    const auto text = readSmallFile(path, kMaxFileBytes, "a pattern file", error);
    if (!text) return std::nullopt;
    std::string why;
    auto pattern = parse(*text, &why);
    if (!pattern) fail(error, path + ": " + why);
    return pattern;
}

std::string Pattern::toText() const {
    std::string out;
    out.reserve(static_cast<size_t>(kFileValues) * 4 + 4 * 49);
    char field[16];
    for (const PatternImage& block : _blocks) {
        for (int p = 0; p < kPatternPlanes; ++p)
            for (int r = 0; r < kPatternSize; ++r) {
                for (int c = 0; c < kPatternSize; ++c) {
                    std::snprintf(field, sizeof field, "%4d", int(block.at(p, r, c)));
                    out += field;
                }
                out += '\n';
            }
        out += '\n';
    }
    return out;
}

bool Pattern::save(const std::string& path, std::string* error) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return fail(error, path + ": cannot open for writing");
    const std::string text = toText();
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) return fail(error, path + ": write failed");
    return true;
}

}  // namespace quorv::markers
