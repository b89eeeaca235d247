// The readers of pattern files, configuration strings and multi-marker files: what they read
// from good files, and refusals of malformed ones.

#include <gtest/gtest.h>
#include <support/Paths.h>

#include <algorithm>

#include "MarkerConfig.h"
#include "MultiMarkerConfig.h"
#include "Pattern.h"

namespace quorv::markers {
namespace {

const std::string kHiro = Pattern::load(quorvtest::testDataPath("patt.hiro"))->toText();
const std::string kSet =
    "# two markers\n2\n\ndata\\patt.a\n40.0\n0.0 0.0\n 1 0 0 0\n 0 1 0 0\n 0 0 1 0\n\n#second\n"
    "data/patt.b  trailing words\n60.0\n5.0 -5.0\n 0 -1 0 100\n 1 0 0 -20\n 0 0 1 0\n";

/// Reads `text` after its first letter as a Pattern, Multi-marker file or marker configuration
/// String: whether it was accepted. A refusal must give a reason.
bool accepts(const std::string& kindAndText) {
    const std::string text = kindAndText.substr(1);
    std::string error;
    const bool ok = kindAndText[0] == 'P'   ? bool(Pattern::parse(text, &error))
                    : kindAndText[0] == 'M' ? bool(MultiMarkerConfig::parse(text, &error))
                                            : bool(MarkerConfig::parse(text, &error));
    EXPECT_TRUE(ok || !error.empty()) << text.substr(0, 60);
    return ok;
}

TEST(Parsers, GoodFilesAndStringsGiveEveryField) {
    // Pattern blocks are planes blue, green, red, and quarter turns of the first.
    // Each plane of each block filled with its own value: the file's order is block, plane.
    std::string numbers;
    for (int i = 0; i < 4 * kPatternValues; ++i) numbers += std::to_string(i / 256 * 10) + " ";
    const auto planes = Pattern::parse(numbers);
    ASSERT_TRUE(planes);
    for (int v = 0; v < 12; ++v) EXPECT_EQ(planes->block(v / 3).at(v % 3, 7, 9), v * 10);
    // Hiro's blocks are its first turned counter-clockwise, as fromUpright makes them; written in
    // the classic layout (4 blocks of 48 lines and a blank) it reads back unchanged.
    const auto hiro = Pattern::parse(kHiro + "\r\n 17 extra words\n");
    ASSERT_TRUE(hiro);
    const std::string written = hiro->toText();
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 4 * 49);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(Pattern::fromUpright(hiro->block(0)).block(k), hiro->block(k)) << "block " << k;
        EXPECT_EQ(Pattern::parse(written)->block(k), hiro->block(k)) << "block " << k;
    }
    const auto single = MarkerConfig::parse("single;a\\b\\patt.x;80.5;-10;2.5");
    ASSERT_TRUE(single && single->kind == MarkerConfig::Kind::Single);
    EXPECT_EQ(single->path + " " + single->name(), "a/b/patt.x patt.x");
    EXPECT_EQ(single->width, 80.5);
    EXPECT_EQ(single->center, cv::Point2d(-10, 2.5));
    const auto multi = MarkerConfig::parse("multi;data\\multi\\marker.dat");
    ASSERT_TRUE(multi && multi->kind == MarkerConfig::Kind::Multi);
    EXPECT_EQ(multi->name(), "marker.dat");
    std::string crlf;  // Windows line ends are taken too
    for (char c : kSet) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    for (const std::string& text : {kSet, crlf}) {
        const auto set = MultiMarkerConfig::parse(text);
        ASSERT_TRUE(set && set->members.size() == 2u);
        EXPECT_EQ(set->members[0].patternPath + " " + set->members[1].patternPath,
                  "data/patt.a data/patt.b");
        EXPECT_EQ(set->members[0].width * 100 + set->members[1].width, 4060.0);
        EXPECT_EQ(set->members[1].center, cv::Point2d(5.0, -5.0));
        EXPECT_EQ(set->members[1].setFromMarker,
                  cv::Matx34d(0, -1, 0, 100, 1, 0, 0, -20, 0, 0, 1, 0));
    }
}

TEST(Parsers, MalformedInputIsRefusedWithAReason) {
    for (const char* text :
         {"M", "P", "S", "Ssingle", "Ssingle;p;80;0", "Ssingle;p;80;0;0;0", "Ssingle;p;-1;0;0",
          "Ssingle;p;80;x;0", "Ssingle;p;80;0;1e999", "Ssingle;;80;0;0", "Ssingle;dir\\;80;0;0",
          "Smulti", "Smulti;a;b", "SSingle;p;80;0;0"})
        EXPECT_FALSE(accepts(text)) << text;
    for (const std::string start : {"256 ", "-1 ", "12x ", "1.5 "})
        EXPECT_FALSE(accepts("P" + start + kHiro)) << start;
    EXPECT_FALSE(accepts("P" + kHiro.substr(0, kHiro.find_last_not_of(" \n") - 3)));
    // The good multi-marker file with one edit each: what, replaced by.
    const char* const edits[] = {"2\n",    "two\n",   "2\n",      "0\n",         "2\n",
                                 "51\n",   "2\n",     "1.5\n",    "2\n",         "3\n",
                                 "40.0",   "-40.0",   "5.0 -5.0", "5.0",         " 1 0 0 -20",
                                 " 1 0 0", " 0 -1 0", " 0 -2 0",  "0 0 1 0\n\n", "0 0 -1 0\n\n",
                                 "100",    "nan"};
    for (size_t i = 0; i < std::size(edits); i += 2)
        EXPECT_FALSE(accepts(
            "M" + std::string(kSet).replace(kSet.find(edits[i]), strlen(edits[i]), edits[i + 1])))
            << edits[i + 1];
    // Entries so large that the rotation check's products are NaN.
    EXPECT_FALSE(accepts("M1\np\n1\n0 0\n1e200 1e200 0 0\n-1e200 1e200 0 0\n0 0 1 0\n"));
    std::string error;
    EXPECT_FALSE(MultiMarkerConfig::read("no/such/set.dat", &error));
    EXPECT_NE(error.find("no/such/set.dat"), std::string::npos);
    EXPECT_FALSE(Pattern::load("no/such/patt.file", &error));
    EXPECT_NE(error.find("no/such/patt.file"), std::string::npos);
}

}  // namespace
}  // namespace quorv::markers
