#include "Pattern.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "SmallFile.h"

namespace quorv::markers {
namespace {

constexpr int kFileValues = 4 * kPatternValues;
/// A pattern file holds 3072 short numbers; anything much longer is not a pattern file.
constexpr std::streamsize kMaxFileBytes = 1 << 20;

/// The bytes that separate numbers: the C locale's blanks.
constexpr std::array<bool, 256> kBlank = [] {
    std::array<bool, 256> blank{};
    for (unsigned char c : {' ', '\t', '\n', '\r', '\v', '\f'}) blank[c] = true;
    return blank;
}();

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
    // The text's terminating NUL is neither a blank nor a digit, so the scans below stop there
    // without a bounds test on every byte (a pattern is 12 kB of text); a NUL inside the text
    // stops them too, and is told from the end by its position.
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.c_str());
    const unsigned char* const end = p + text.size();
    for (int i = 0; i < kFileValues; ++i) {
        while (kBlank[*p]) ++p;
        if (p == end) {
            fail(error, "holds " + std::to_string(i) + " numbers, a pattern needs " +
                            std::to_string(kFileValues));
            return std::nullopt;
        }
        // Digits only (an optional sign) up to a blank or the end, so a stray byte is reported
        // rather than skipped; at most six characters.
        const unsigned char* start = p;
        const bool negative = *p == '-';
        if (negative || *p == '+') ++p;
        const unsigned char* digits = p;
        unsigned long magnitude = 0;  // wraps harmlessly on a long run of digits, refused below
        for (unsigned d; (d = unsigned(*p - '0')) < 10; ++p) magnitude = magnitude * 10 + d;
        if (p == digits || (p != end && !kBlank[*p]) || p - start > 6) {
            fail(error, "number " + std::to_string(i + 1) + " is not an integer");
            return std::nullopt;
        }
        const long value = negative ? -long(magnitude) : long(magnitude);
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
    // Each value as "%4d" would print it, looked up rather than formatted: a pattern is 3072 of
    // them.
    static const std::array<std::array<char, 4>, 256> kFields = [] {
        std::array<std::array<char, 4>, 256> fields{};
        for (int v = 0; v < 256; ++v) {
            char field[8];
            std::snprintf(field, sizeof field, "%4d", v);
            std::copy(field, field + 4, fields[v].begin());
        }
        return fields;
    }();
    std::string out(static_cast<size_t>(kFileValues) * 4 + 4 * 49, '\n');
    char* o = out.data();
    for (const PatternImage& block : _blocks) {
        for (int p = 0; p < kPatternPlanes; ++p)
            for (int r = 0; r < kPatternSize; ++r) {
                for (int c = 0; c < kPatternSize; ++c, o += 4)
                    std::copy_n(kFields[block.at(p, r, c)].data(), 4, o);
                ++o;  // the line's end
            }
        ++o;  // the empty line after the block
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
