#include "Pattern.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include <support/Paths.h>

namespace quorv::markers {
namespace {

constexpr int kLast = kPatternSize - 1;

TEST(PatternTest, HiroBlocksAreRotationsOfBlockZeroElementForElement) {
    std::string error;
    auto hiro = Pattern::load(quorvtest::testDataPath("patt.hiro"), &error);
    ASSERT_TRUE(hiro) << error;
    const PatternImage& b0 = hiro->block(0);
    for (int p = 0; p < kPatternPlanes; ++p)
        for (int r = 0; r < kPatternSize; ++r)
            for (int c = 0; c < kPatternSize; ++c) {
                ASSERT_EQ(hiro->block(1).at(p, r, c), b0.at(p, c, kLast - r)) << p << r << c;
                ASSERT_EQ(hiro->block(2).at(p, r, c), b0.at(p, kLast - r, kLast - c));
                ASSERT_EQ(hiro->block(3).at(p, r, c), b0.at(p, kLast - c, r));
            }
    // The same relations come out of fromUpright, so a file we write has the same layout.
    const Pattern rebuilt = Pattern::fromUpright(b0);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(rebuilt.block(k), hiro->block(k)) << "block " << k;
    // The first numbers of the file are block 0, blue plane, row 0 (not inverted: white ~240).
    EXPECT_EQ(b0.at(0, 0, 0), 234);
    EXPECT_EQ(b0.at(0, 0, 1), 235);
    EXPECT_EQ(b0.at(0, 1, 0), 229);
}

TEST(PatternTest, SaveWritesTheClassicLayoutAndLoadsBack) {
    PatternImage upright;
    for (int i = 0; i < kPatternValues; ++i) upright.values[i] = static_cast<uint8_t>(i * 7 % 256);
    const Pattern pattern = Pattern::fromUpright(upright);
    const std::string text = pattern.toText();

    std::istringstream lines(text);
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        ++count;
        if (count % 49 == 0) {
            EXPECT_TRUE(line.empty()) << "line " << count;
        } else {
            ASSERT_EQ(line.size(), 64u) << "line " << count << ": '" << line << "'";
        }
    }
    EXPECT_EQ(count, 4 * 49);
    char first[8];
    std::snprintf(first, sizeof first, "%4d", int(upright.at(0, 0, 0)));
    EXPECT_EQ(text.substr(0, 4), first);

    const std::string path = testing::TempDir() + "pattern_roundtrip.patt";
    std::string error;
    ASSERT_TRUE(pattern.save(path, &error)) << error;
    auto back = Pattern::load(path, &error);
    ASSERT_TRUE(back) << error;
    for (int k = 0; k < 4; ++k) EXPECT_EQ(back->block(k), pattern.block(k));
    std::remove(path.c_str());
}

TEST(PatternTest, ReaderIgnoresLineLayoutAndTrailingText) {
    std::ifstream in(quorvtest::testDataPath("patt.hiro"));
    std::stringstream all;
    all << in.rdbuf();
    std::string flat = all.str();
    for (char& ch : flat)
        if (ch == '\n') ch = ' ';
    auto a = Pattern::parse(flat + "\r\n 17 extra words\n");
    auto b = Pattern::parse(all.str());
    ASSERT_TRUE(a && b);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(a->block(k), b->block(k));
}

TEST(PatternTest, MalformedFilesFailWithAReason) {
    std::ifstream in(quorvtest::testDataPath("patt.hiro"));
    std::stringstream all;
    all << in.rdbuf();
    const std::string good = all.str();
    const std::string lastNumber = good.substr(good.find_last_not_of(" \n") - 2);

    struct Case {
        const char* what;
        std::string text;
    } cases[] = {
        {"empty", ""},
        {"one number short", good.substr(0, good.find_last_not_of(" \n") - 3)},
        {"value above 255", "256 " + good},
        {"negative value", "-1 " + good},
        {"a word", "12 ab " + good},
        {"a number glued to text", "12x " + good},
        {"a fraction", "1.5 " + good},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(Pattern::parse(c.text, &error)) << c.what;
        EXPECT_FALSE(error.empty()) << c.what;
    }
    std::string error;
    EXPECT_FALSE(Pattern::load(testing::TempDir() + "no/such/patt.file", &error));
    EXPECT_NE(error.find("no/such/patt.file"), std::string::npos) << error;
}

}  // namespace
}  // namespace quorv::markers
