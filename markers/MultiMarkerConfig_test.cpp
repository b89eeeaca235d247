#include "MultiMarkerConfig.h"

#include <gtest/gtest.h>

#include "MarkerConfig.h"

namespace quorv::markers {
namespace {

const char* const kTwoMarkers =
    "# two markers on one board\n"
    "2\n"
    "\n"
    "data\\patt.a\n"
    "40.0\n"
    "0.0 0.0\n"
    " 1.0000  0.0000 0.0000    0.0000\n"
    " 0.0000  1.0000 0.0000    0.0000\n"
    " 0.0000  0.0000 1.0000    0.0000\n"
    "\n"
    "#second\n"
    "data/patt.b  trailing words\n"
    "40.0\n"
    "5.0 -5.0\n"
    " 0.0000 -1.0000 0.0000  100.0000\n"
    " 1.0000  0.0000 0.0000  -20.0000\n"
    " 0.0000  0.0000 1.0000    0.0000\n";

TEST(MultiMarkerConfigTest, ReadsTheClassicLayoutWithCommentsBlankLinesAndCarriageReturns) {
    std::string crlf;
    for (const char* p = kTwoMarkers; *p; ++p) {
        if (*p == '\n') crlf += '\r';
        crlf += *p;
    }
    // Whitespace-only lines are mended too: the classic reader stumbles on them.
    const std::string blanks =
        std::string(kTwoMarkers).replace(std::string(kTwoMarkers).find("\n\n#"), 2, "\n   \t\n");
    for (const std::string& text : {std::string(kTwoMarkers), crlf, blanks}) {
        std::string error;
        auto config = MultiMarkerConfig::parse(text, &error);
        ASSERT_TRUE(config) << error;
        ASSERT_EQ(config->members.size(), 2u);
        EXPECT_EQ(config->members[0].patternPath, "data/patt.a");
        EXPECT_EQ(config->members[1].patternPath, "data/patt.b");
        EXPECT_DOUBLE_EQ(config->members[1].width, 40.0);
        EXPECT_EQ(config->members[1].center, cv::Point2d(5.0, -5.0));
        EXPECT_DOUBLE_EQ(config->members[1].setFromMarker(0, 1), -1.0);
        EXPECT_DOUBLE_EQ(config->members[1].setFromMarker(0, 3), 100.0);
        EXPECT_DOUBLE_EQ(config->members[1].setFromMarker(1, 3), -20.0);
    }
}

TEST(MultiMarkerConfigTest, MalformedFilesFailWithAReason) {
    const std::string good = kTwoMarkers;
    auto replace = [&](const std::string& from, const std::string& to) {
        std::string s = good;
        return s.replace(s.find(from), from.size(), to);
    };
    const std::pair<const char*, std::string> cases[] = {
        {"empty", ""},
        {"count missing", replace("2\n", "two\n")},
        {"count zero", replace("2\n", "0\n")},
        {"count too large", replace("2\n", "51\n")},
        {"count fractional", replace("2\n", "1.5\n")},
        {"one marker short", replace("2\n", "3\n")},
        {"negative width", replace("40.0\n0.0 0.0", "-40.0\n0.0 0.0")},
        {"centre with one number", replace("5.0 -5.0", "5.0")},
        {"matrix row short", replace(" 1.0000  0.0000 0.0000  -20.0000", " 1.0000  0.0000 0.0000")},
        {"not a rotation", replace(" 0.0000 -1.0000 0.0000", " 0.0000 -2.0000 0.0000")},
        {"mirror",
         replace(" 0.0000  0.0000 1.0000    0.0000\n\n", " 0.0000  0.0000 -1.0000    0.0000\n\n")},
        {"not finite", replace("100.0000", "nan")},
    };
    for (const auto& [what, text] : cases) {
        std::string error;
        EXPECT_FALSE(MultiMarkerConfig::parse(text, &error)) << what;
        EXPECT_FALSE(error.empty()) << what;
    }
    std::string error;
    EXPECT_FALSE(MultiMarkerConfig::read("no/such/config.dat", &error));
    EXPECT_NE(error.find("no/such/config.dat"), std::string::npos);
}

TEST(MarkerConfigTest, ParsesBothFormsAndTurnsBackslashesIntoFolders) {
    auto single = MarkerConfig::parse("single;data_Tovarin\\patt.tovex;120;0;0");
    ASSERT_TRUE(single);
    EXPECT_EQ(single->kind, MarkerConfig::Kind::Single);
    EXPECT_EQ(single->path, "data_Tovarin/patt.tovex");
    EXPECT_EQ(single->name(), "patt.tovex");
    EXPECT_DOUBLE_EQ(single->width, 120.0);

    auto offset = MarkerConfig::parse("single;a\\b\\patt.x;80.5;-10;2.5");
    ASSERT_TRUE(offset);
    EXPECT_EQ(offset->path, "a/b/patt.x");
    EXPECT_EQ(offset->center, cv::Point2d(-10, 2.5));

    auto multi = MarkerConfig::parse("multi;data\\multi\\marker.dat");
    ASSERT_TRUE(multi);
    EXPECT_EQ(multi->kind, MarkerConfig::Kind::Multi);
    EXPECT_EQ(multi->name(), "marker.dat");

    for (const char* bad : {"", "single", "single;p;80;0", "single;p;80;0;0;0", "single;p;-1;0;0",
                            "single;p;80;x;0", "single;p;80;0;1e999", "single;;80;0;0",
                            "single;dir\\;80;0;0", "multi", "multi;a;b", "Single;p;80;0;0"})
        EXPECT_FALSE(MarkerConfig::parse(bad)) << bad;
}

}  // namespace
}  // namespace quorv::markers
