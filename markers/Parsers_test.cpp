// The readers of pattern files, configuration strings, multi-marker files and camera files:
// what they read from good files, refusals of malformed ones, and randomly damaged files.

#include <gtest/gtest.h>
#include <osgart/CameraParameters.h>
#include <support/Paths.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <sstream>

#include "MarkerConfig.h"
#include "MultiMarkerConfig.h"
#include "Pattern.h"

namespace quorv::markers {
namespace {

std::string readFile(const std::string& path) {
    std::stringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    return s.str();
}

const std::string kHiro = readFile(quorvtest::testDataPath("patt.hiro"));
const std::string kSet =
    "# two markers\n2\n\ndata\\patt.a\n40.0\n0.0 0.0\n 1 0 0 0\n 0 1 0 0\n 0 0 1 0\n\n#second\n"
    "data/patt.b  trailing words\n60.0\n5.0 -5.0\n 0 -1 0 100\n 1 0 0 -20\n 0 0 1 0\n";

// Each reader says whether it accepted `text`, and checks what must hold of anything it accepts.
using Reader = std::function<bool(const std::string& text, std::string& error)>;
const Reader readPattern = [](const std::string& text, std::string& error) {
    auto p = Pattern::parse(text, &error);
    EXPECT_TRUE(!p || Pattern::parse(p->toText()).value_or(Pattern()).block(3) == p->block(3));
    return bool(p);
};
const Reader readCamera = [](const std::string& bytes, std::string& error) {
    auto c = osgART::CameraParameters::parse(reinterpret_cast<const unsigned char*>(bytes.data()),
                                             bytes.size(), &error);
    const auto k = c ? c->intrinsics() : osgART::CameraParameters::Intrinsics{1, 1, 0, 0, 0};
    EXPECT_TRUE(!c || (c->xsize > 0 && c->ysize > 0 && k.fx > 0 && k.fy > 0 &&
                       std::isfinite(k.fx) && std::isfinite(k.fy)));
    return bool(c);
};
const Reader readSet = [](const std::string& text, std::string& error) {
    auto s = MultiMarkerConfig::parse(text, &error);
    EXPECT_TRUE(!s || (!s->members.empty() && s->members.size() <= 50u));
    for (const auto& m : s ? s->members : std::vector<MultiMarkerConfig::Member>())
        EXPECT_TRUE(m.width > 0 && std::isfinite(m.width + m.center.x + m.center.y));
    return bool(s);
};
const Reader readConfig = [](const std::string& text, std::string& error) {
    auto c = MarkerConfig::parse(text, &error);
    EXPECT_TRUE(!c || (!c->name().empty() && (c->kind == MarkerConfig::Kind::Multi ||
                                              (c->width > 0 && std::isfinite(c->width)))));
    return bool(c);
};

TEST(PatternFileTest, BlocksArePlanesBlueGreenRedAndQuarterTurnsOfTheFirst) {
    // Each plane of each block filled with its own value: the file's order is block, plane.
    std::string numbers;
    for (int i = 0; i < 4 * kPatternValues; ++i) numbers += std::to_string(i / 256 * 10) + " ";
    auto planes = Pattern::parse(numbers);
    ASSERT_TRUE(planes);
    for (int v = 0; v < 12; ++v) EXPECT_EQ(planes->block(v / 3).at(v % 3, 7, 9), v * 10);
    // Hiro's blocks are its first turned counter-clockwise, as fromUpright makes them. Written
    // in the classic layout (4 blocks of 48 lines and a blank), it reads back unchanged,
    // whatever the line layout and trailing text.
    auto hiro = Pattern::parse(kHiro);
    ASSERT_TRUE(hiro);
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(Pattern::fromUpright(hiro->block(0)).block(k), hiro->block(k)) << "block " << k;
    std::string written = hiro->toText();
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 4 * 49);
    std::replace(written.begin(), written.end(), '\n', ' ');
    const std::string path = ::testing::TempDir() + "parsers_test.patt";
    std::ofstream(path) << written << "\r\n 17 extra words\n";
    auto back = Pattern::load(path);
    ASSERT_TRUE(back);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(back->block(k), hiro->block(k));
}

TEST(ConfigTest, StringsAndMultiMarkerFilesGiveEveryField) {
    auto single = MarkerConfig::parse("single;a\\b\\patt.x;80.5;-10;2.5");
    ASSERT_TRUE(single && single->kind == MarkerConfig::Kind::Single);
    EXPECT_EQ(single->path, "a/b/patt.x");
    EXPECT_EQ(single->name(), "patt.x");
    EXPECT_EQ(single->width, 80.5);
    EXPECT_EQ(single->center, cv::Point2d(-10, 2.5));
    auto multi = MarkerConfig::parse("multi;data\\multi\\marker.dat");
    ASSERT_TRUE(multi && multi->kind == MarkerConfig::Kind::Multi);
    EXPECT_EQ(multi->name(), "marker.dat");
    // Windows line ends and blank lines of spaces and tabs are taken too.
    std::string crlf, blanks = kSet;
    for (char c : kSet) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    blanks.replace(blanks.find("\n\n#"), 3, "\n  \t\n#");
    for (const std::string& text : {kSet, crlf, blanks}) {
        auto set = MultiMarkerConfig::parse(text);
        ASSERT_TRUE(set && set->members.size() == 2u);
        EXPECT_EQ(set->members[0].patternPath, "data/patt.a");
        EXPECT_EQ(set->members[1].patternPath, "data/patt.b");
        EXPECT_EQ(set->members[0].width, 40.0);
        EXPECT_EQ(set->members[1].width, 60.0);
        EXPECT_EQ(set->members[1].center, cv::Point2d(5.0, -5.0));
        EXPECT_EQ(set->members[1].setFromMarker,
                  cv::Matx34d(0, -1, 0, 100, 1, 0, 0, -20, 0, 0, 1, 0));
    }
}

TEST(ParsersTest, MalformedInputIsRefusedWithAReason) {
    std::vector<std::string> sets = {""};
    // The good multi-marker file with one edit each: (what, replaced by).
    const char* const edits[] = {"2\n",    "two\n",   "2\n",      "0\n",         "2\n",
                                 "51\n",   "2\n",     "1.5\n",    "2\n",         "3\n",
                                 "40.0",   "-40.0",   "5.0 -5.0", "5.0",         " 1 0 0 -20",
                                 " 1 0 0", " 0 -1 0", " 0 -2 0",  "0 0 1 0\n\n", "0 0 -1 0\n\n",
                                 "100",    "nan"};
    for (size_t i = 0; i < std::size(edits); i += 2)
        sets.push_back(
            std::string(kSet).replace(kSet.find(edits[i]), strlen(edits[i]), edits[i + 1]));
    const std::pair<Reader, std::vector<std::string>> cases[] = {
        {readPattern,
         {"", kHiro.substr(0, kHiro.find_last_not_of(" \n") - 3), "256 " + kHiro, "-1 " + kHiro,
          "12 ab " + kHiro, "12x " + kHiro, "1.5 " + kHiro}},
        {readSet, sets},
        {readConfig,
         {"", "single", "single;p;80;0", "single;p;80;0;0;0", "single;p;-1;0;0", "single;p;80;x;0",
          "single;p;80;0;1e999", "single;;80;0;0", "single;dir\\;80;0;0", "multi", "multi;a;b",
          "Single;p;80;0;0"}}};
    for (const auto& [read, texts] : cases)
        for (const std::string& text : texts) {
            std::string error;
            EXPECT_FALSE(read(text, error)) << text.substr(0, 40);
            EXPECT_FALSE(error.empty()) << text.substr(0, 40);
        }
    std::string error;
    EXPECT_FALSE(MultiMarkerConfig::read("no/such/set.dat", &error));
    EXPECT_NE(error.find("no/such/set.dat"), std::string::npos);
    EXPECT_FALSE(Pattern::load("no/such/patt.file", &error));
    EXPECT_NE(error.find("no/such/patt.file"), std::string::npos);
}

/// One to eight random edits: flip, insert, delete or duplicate bytes, splice in a token, or cut.
std::string mutate(std::string s, std::mt19937& rng) {
    static const char* const tokens[] = {"-", "999999999999", "1e308", "nan", "\r",  "\n", "#",
                                         " ", "\\",           "0x1",   "-0",  "inf", ";"};
    for (int e = 1 + rng() % 8; e > 0; --e) {
        const unsigned op = rng() % 6;
        const size_t at = rng() % (s.size() + 1);
        if (op == 0 && at < s.size()) s[at] = char(rng());
        if (op == 1) s.insert(at, 1, char(rng()));
        if (op == 2) s.erase(at, rng() % 16);
        if (op == 3) s.insert(at, s.substr(at, rng() % 64));
        if (op == 4) s.insert(at, tokens[rng() % std::size(tokens)]);
        if (op == 5) s.resize(at);
    }
    return s;
}

TEST(ParsersTest, DamagedFilesAreRefusedWithAReasonOrReadAsSaneValues) {
    const std::string cameras[] = {quorvtest::testDataPath("camera_para_640x480_v4.dat"),
                                   quorvtest::sourceDirectory() + "/exhibit/camera_para.dat"};
    for (const std::string& file : cameras) {  // the 176- and the 136-byte form, big-endian
        auto c = osgART::CameraParameters::read(file);
        ASSERT_TRUE(c) << file;
        EXPECT_EQ(c->xsize * 10000 + c->ysize, 6400480) << file;
        EXPECT_NEAR(c->intrinsics().cx, 320, 10) << file;
        EXPECT_NEAR(c->intrinsics().fx, 650, 150) << file;
    }
    const std::pair<std::string, Reader> rows[] = {
        {kHiro, readPattern},
        {readFile(cameras[0]), readCamera},
        {readFile(cameras[1]), readCamera},
        {kSet, readSet},
        {"single;data_Tovarin\\patt.tovex;120;0;0", readConfig}};
    std::mt19937 rng(1);
    for (const auto& [good, read] : rows) {
        int accepted = 0;
        for (int i = 0; i < 3000 && !HasFailure(); ++i) {
            // Half the time same-size flips, so that value checks are reached, not only sizes.
            std::string text = i % 2 ? mutate(good, rng) : good, error;
            for (int e = i % 2 ? 0 : 1 + rng() % 4; e > 0; --e)
                text[rng() % text.size()] = char(rng());
            const bool ok = read(text, error);
            accepted += ok;
            EXPECT_TRUE(ok || !error.empty()) << text.substr(0, 60);
        }
        EXPECT_GT(accepted, 0) << good.substr(0, 30);
        EXPECT_LT(accepted, 3000) << good.substr(0, 30);
    }
}

}  // namespace
}  // namespace quorv::markers
