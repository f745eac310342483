// Names as the counting database keeps them: trimming of every kind of blank,
// refusal of line breaks and control characters, and the order of name maps.
#include <gtest/gtest.h>

#include <map>

#include "model/NameText.h"

using namespace korvex;

TEST(NameText, TrimRemovesEveryKindOfBlankAtBothEnds) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"王五", "王五"},
        {"王五\u3000", "王五"},                      // ideographic space
        {"\u3000\u3000王五", "王五"},
        {" \t王五\r\n", "王五"},
        {"\u00A0王五\u2003", "王五"},                // no-break space, em space
        {"\uFEFF王五\u200B", "王五"},                // byte-order mark, zero-width space
        {"王五\u2028", "王五"},                      // line separator
        {"王五\u0085", "王五"},                      // next line (C1)
        {"\u202F\u205F\u1680王五\u3000 ", "王五"},
        {"王\u3000五", "王\u3000五"},                // inner blanks stay
        {"Ann  Lee", "Ann  Lee"},
        {"\u3000 \u00A0", ""},
        {"", ""},
        {"\xFF王五 ", "\xFF王五"},                   // a stray byte is not a blank
        {"王五\xE3\x80", "王五\xE3\x80"},            // a cut sequence is kept
    };
    for (const auto& c : cases) EXPECT_EQ(TrimName(c.in), c.out) << VisibleName(c.in);
}

TEST(NameText, LineBreaksControlsAndBrokenBytesAreForbidden) {
    const struct {
        const char* name;
        bool forbidden;
    } cases[] = {
        {"王五", false},         {"O'Neil", false},      {"王\u3000五", false}, {"Ann Lee", false},
        {"王\n五", true},        {"王\r五", true},       {"王\t五", true},      {"a\x01" "b", true},
        {"a\x7F" "b", true},     {"a\u0085b", true},     {"a\u2028b", true},    {"a\u2029b", true},
        {"a\xC3" "b", true},     {"\xED\xA0\x80", true},  // a lone surrogate
        {"\xC0\xAF", true},                                // an overlong form
    };
    for (const auto& c : cases) EXPECT_EQ(HasForbiddenNameCharacter(c.name), c.forbidden) << VisibleName(c.name);
    EXPECT_EQ(VisibleName("王\n五\u2028\xFF"), "王<U+000A>五<U+2028><0xFF>");
}

TEST(NameText, MapsKeyedByNameIgnoreAsciiCaseOnly) {
    std::map<std::string, int, TNameLess> map;
    map["Wang"] = 1;
    map["wang"] = 2;
    map["WANG "] = 3;
    map["Ä"] = 4;
    map["ä"] = 5;  // the database folds ASCII letters only
    EXPECT_EQ(map.size(), 4u);
    EXPECT_EQ(map.at("wAnG"), 2);
    EXPECT_EQ(map.count("Wan"), 0u);
    EXPECT_EQ(map.at("Ä"), 4);
    EXPECT_EQ(map.at("ä"), 5);
}
