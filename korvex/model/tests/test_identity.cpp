#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <set>

#include "model/Errors.h"
#include "model/tests/TempFolder.h"
#include "model/uBallotTypes.h"

using namespace korvex;
namespace fs = std::filesystem;

namespace {

std::string RandomBytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(gen() & 0xFF);
    return s;
}

}  // namespace

TEST(ScanUID, CheckValues) {
    TempFolder dir;
    EXPECT_EQ(ComputeScanUID(dir.Write("empty.bin", "")), "050C5D1FCA549E3B");
    EXPECT_EQ(ComputeScanUID(dir.Write("abc.bin", "abc")), "6733D79895444432");
    EXPECT_EQ(ComputeScanUIDOfBytes("abc"), "6733D79895444432");
}

TEST(ScanUID, DependsOnBytesNotName) {
    TempFolder dir;
    const std::string bytes = RandomBytes(1000, 1);
    const std::string a = ComputeScanUID(dir.Write("a.bmp", bytes));
    EXPECT_EQ(a, ComputeScanUID(dir.Write("other name.jpg", bytes)));
    std::string changed = bytes;
    changed[500] = static_cast<char>(changed[500] ^ 1);
    EXPECT_NE(a, ComputeScanUID(dir.Write("changed.bmp", changed)));
}

TEST(ScanUID, ByteValue255IsNotTheSameAsZeroInSecondAccumulator) {
    // b + 1 runs to 256 and does not wrap, so 0xFF and 0x00 differ in h2 too.
    EXPECT_NE(ComputeScanUIDOfBytes(std::string(1, '\xFF')).substr(8),
              ComputeScanUIDOfBytes(std::string(1, '\0')).substr(8));
}

TEST(ScanUID, LargeFileMatchesInMemoryIdentity) {
    TempFolder dir;
    // Several 64 KiB blocks plus a tail: the streamed result equals the whole-buffer one.
    const std::string bytes = RandomBytes(3 * 65536 + 17, 7);
    EXPECT_EQ(ComputeScanUID(dir.Write("big.bin", bytes)), ComputeScanUIDOfBytes(bytes));
}

TEST(ScanUID, MissingFileRaisesFileError) {
    TempFolder dir;
    EXPECT_THROW(ComputeScanUID(dir.Write("x", "") + ".missing"), EFileError);
}

TEST(TemplateCode, CheckValues) {
    EXPECT_EQ(TemplateCodeOf("abc"), 0x1A47E90Bu);
    EXPECT_EQ(TemplateCodeOf(""), 0x811C9DC5u);
    EXPECT_NE(TemplateCodeOf("20261210-101500-1A2B3C4D"), 0u);
    EXPECT_EQ(TemplateCodeOf("选票"), TemplateCodeOf("选票"));
}

TEST(TemplateCode, CheckNibble) {
    const struct {
        std::uint32_t code;
        int nibble;
    } cases[] = {{0x12345678u, 8}, {0u, 0}, {0xFFFFFFFFu, 0}, {0xF0000000u, 15}, {0x1A47E90Bu, 0x1 ^ 0xA ^ 0x4 ^ 0x7 ^ 0xE ^ 0x9 ^ 0x0 ^ 0xB}};
    for (const auto& c : cases) EXPECT_EQ(CodeCheckNibble(c.code), c.nibble) << std::hex << c.code;
}

namespace {

// 8-4-4-4-12 upper-case hexadecimal digits, version 4, RFC 4122 variant.
bool IsGuidText(const std::string& g) {
    if (g.size() != 36) return false;
    for (std::size_t i = 0; i < g.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        const char c = g[i];
        if (dash != (c == '-')) return false;
        if (!dash && !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    }
    return g[14] == '4' && (g[19] == '8' || g[19] == '9' || g[19] == 'A' || g[19] == 'B');
}

}  // namespace

TEST(Guid, FormAndUniqueness) {
    EXPECT_FALSE(IsGuidText("{00000000-0000-4000-8000-000000000000}"));
    EXPECT_FALSE(IsGuidText("0000000a-0000-4000-8000-000000000000"));
    std::set<std::string> seen;
    for (int i = 0; i < 1000; ++i) {
        const std::string g = NewGuidText();
        ASSERT_TRUE(IsGuidText(g)) << g;
        seen.insert(g);
    }
    EXPECT_EQ(seen.size(), 1000u);
}
