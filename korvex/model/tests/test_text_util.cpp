#include <gtest/gtest.h>

#include "model/TextUtil.h"

using namespace korvex;

TEST(TextUtil, Utf16Length) {
    EXPECT_EQ(Utf16Length(""), 0u);
    EXPECT_EQ(Utf16Length("abc"), 3u);
    EXPECT_EQ(Utf16Length("张伟"), 2u);
    EXPECT_EQ(Utf16Length("\xF0\x9F\x98\x80"), 2u);  // U+1F600 takes a surrogate pair
    EXPECT_EQ(Utf16Length("\xFF\xFE"), 2u);          // stray bytes count one each
    EXPECT_EQ(Utf16Length("\xE5\xBC"), 2u);          // truncated sequence
}

TEST(TextUtil, ParseInt32) {
    const struct {
        const char* text;
        bool ok;
        std::int32_t value;
    } cases[] = {
        {"0", true, 0},           {"-1", true, -1},           {"+7", true, 7},
        {"650", true, 650},       {"2147483647", true, 2147483647}, {"-2147483648", true, INT32_MIN},
        {"2147483648", false, 0}, {"", false, 0},             {"-", false, 0},
        {"1 2", false, 0},        {" 1", false, 0},           {"12a", false, 0},
        {"0x1A", true, 26},       {"0XFF", true, 255},        {"0xFFFFFFFF", true, -1},
        {"0x", false, 0},         {"0x123456789", false, 0},  {"0xG", false, 0},
        {"99999999999999999999", false, 0},
    };
    for (const auto& c : cases) {
        const auto v = ParseInt32(c.text);
        EXPECT_EQ(v.has_value(), c.ok) << c.text;
        if (c.ok && v) {
            EXPECT_EQ(*v, c.value) << c.text;
        }
    }
    EXPECT_FALSE(ParseDecimalInt32("0x1A").has_value());
}

TEST(TextUtil, TrimAndCase) {
    EXPECT_EQ(TrimBlanks(" \t a b \r\n"), "a b");
    EXPECT_EQ(AsciiUpper("abc张z"), "ABC张Z");
    EXPECT_TRUE(SameText("Candidate.1", "CANDIDATE.1"));
    EXPECT_FALSE(SameText("External", "Externa"));
}
