// Randomised mutation of valid pattern, camera and multi-marker files: every parser must
// either accept or refuse each mutant cleanly (run under AddressSanitizer to catch the rest),
// and what it accepts must be sane.

#include <gtest/gtest.h>
#include <osgart/CameraParameters.h>

#include <cmath>
#include <fstream>
#include <random>
#include <sstream>

#include "MarkerConfig.h"
#include "MultiMarkerConfig.h"
#include "Pattern.h"
#include <support/Paths.h>

namespace quorv::markers {
namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

/// One random edit: flip, insert, delete or duplicate bytes, splice in a token, or cut.
std::string mutate(const std::string& input, std::mt19937& rng) {
    static const char* const tokens[] = {
        "-", "999999999999", "1e308", "nan", "\r",  "\n", "#", "\0",
        " ", "\\",           "0x1",   "-0",  "inf", ";"};
    std::string s = input;
    const int edits = 1 + static_cast<int>(rng() % 8);
    for (int e = 0; e < edits; ++e) {
        const size_t at = s.empty() ? 0 : rng() % (s.size() + 1);
        switch (rng() % 6) {
            case 0:
                if (at < s.size()) s[at] = static_cast<char>(rng());
                break;
            case 1:
                s.insert(at, 1, static_cast<char>(rng()));
                break;
            case 2:
                s.erase(at, rng() % 16);
                break;
            case 3:
                s.insert(at, s.substr(at, rng() % 64));
                break;
            case 4:
                s.insert(at, tokens[rng() % (sizeof tokens / sizeof *tokens)]);
                break;
            case 5:
                s.resize(at);
                break;
        }
    }
    return s;
}

constexpr int kRounds = 3000;

TEST(ParserFuzzTest, PatternParserSurvivesMutants) {
    const std::string seed = readFile(quorvtest::testDataPath("patt.hiro"));
    std::mt19937 rng(1);
    int accepted = 0;
    for (int i = 0; i < kRounds; ++i) {
        const std::string text = mutate(seed, rng);
        std::string error;
        auto pattern = Pattern::parse(text, &error);
        if (pattern) {
            ++accepted;
            // What is accepted writes back and reads back unchanged.
            auto again = Pattern::parse(pattern->toText());
            ASSERT_TRUE(again);
            for (int k = 0; k < 4; ++k) ASSERT_EQ(again->block(k), pattern->block(k));
        } else {
            ASSERT_FALSE(error.empty());
        }
    }
    EXPECT_GT(accepted, 0);
    EXPECT_LT(accepted, kRounds);
}

TEST(ParserFuzzTest, CameraParserSurvivesMutants) {
    const std::string seed = readFile(quorvtest::testDataPath("camera_para_640x480_v4.dat"));
    ASSERT_EQ(seed.size(), 176u);
    std::mt19937 rng(2);
    int accepted = 0;
    for (int i = 0; i < kRounds; ++i) {
        std::string bytes = seed;
        // Mostly same-size flips, so the parser's value checks are reached, not just its size
        // check.
        if (rng() % 4 == 0) {
            bytes = mutate(seed, rng);
        } else {
            for (int e = 1 + rng() % 4; e > 0; --e)
                bytes[rng() % bytes.size()] = static_cast<char>(rng());
        }
        std::string error;
        auto camera = osgART::CameraParameters::parse(
            reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), &error);
        if (!camera) {
            ASSERT_FALSE(error.empty());
            continue;
        }
        ++accepted;
        const auto k = camera->intrinsics();
        ASSERT_TRUE(std::isfinite(k.fx) && k.fx > 0 && std::isfinite(k.fy) && k.fy > 0);
        ASSERT_GT(camera->xsize, 0);
        ASSERT_GT(camera->ysize, 0);
    }
    EXPECT_GT(accepted, 0);
}

TEST(ParserFuzzTest, MultiMarkerAndConfigStringParsersSurviveMutants) {
    const std::string seed =
        "# set\n2\n\ndata\\patt.a\n40.0\n0.0 0.0\n1 0 0 0\n0 1 0 0\n0 0 1 0\n"
        "data/patt.b\n40.0\n0.0 0.0\n1 0 0 100\n0 1 0 0\n0 0 1 0\n";
    std::mt19937 rng(3);
    int accepted = 0;
    for (int i = 0; i < kRounds; ++i) {
        const std::string text = mutate(seed, rng);
        std::string error;
        auto config = MultiMarkerConfig::parse(text, &error);
        if (!config) {
            ASSERT_FALSE(error.empty());
            continue;
        }
        ++accepted;
        ASSERT_GE(config->members.size(), 1u);
        ASSERT_LE(config->members.size(), size_t(MultiMarkerConfig::kMaxMembers));
        for (const auto& m : config->members) {
            ASSERT_GT(m.width, 0);
            ASSERT_TRUE(std::isfinite(m.width) && std::isfinite(m.center.x) &&
                        std::isfinite(m.center.y));
        }
    }
    EXPECT_GT(accepted, 0);

    const std::string single = "single;data_Tovarin\\patt.tovex;120;0;0";
    for (int i = 0; i < kRounds; ++i) {
        auto config = MarkerConfig::parse(mutate(single, rng));
        if (!config) continue;
        if (config->kind == MarkerConfig::Kind::Single) {
            ASSERT_TRUE(config->width > 0 && std::isfinite(config->width));
        }
        ASSERT_FALSE(config->name().empty());
    }
}

}  // namespace
}  // namespace quorv::markers
