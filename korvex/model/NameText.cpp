#include "model/NameText.h"

#include <algorithm>
#include <cstdint>

#include "model/TextUtil.h"

namespace korvex {
namespace {

constexpr std::uint32_t kInvalid = 0xFFFFFFFF;

struct TCodePoint {
    std::uint32_t Value;  // kInvalid for a byte that does not start a valid sequence
    std::size_t Length;
};

// The code point starting at byte i (shortest form only, no surrogates).
TCodePoint DecodeAt(std::string_view s, std::size_t i) {
    const auto lead = static_cast<unsigned char>(s[i]);
    if (lead < 0x80) return {lead, 1};
    std::size_t length = 0;
    std::uint32_t value = 0;
    if (lead >= 0xC2 && lead <= 0xDF) length = 2, value = lead & 0x1F;
    else if (lead >= 0xE0 && lead <= 0xEF) length = 3, value = lead & 0x0F;
    else if (lead >= 0xF0 && lead <= 0xF4) length = 4, value = lead & 0x07;
    else return {kInvalid, 1};
    if (i + length > s.size()) return {kInvalid, 1};
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(s[i + k]);
        if ((next & 0xC0) != 0x80) return {kInvalid, 1};
        value = (value << 6) | (next & 0x3F);
    }
    if ((length == 3 && (value < 0x800 || (value >= 0xD800 && value <= 0xDFFF))) ||
        (length == 4 && (value < 0x10000 || value > 0x10FFFF)))
        return {kInvalid, 1};
    return {value, length};
}

bool IsControl(std::uint32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

bool IsLineSeparator(std::uint32_t c) { return c == 0x2028 || c == 0x2029; }

bool IsBlank(std::uint32_t c) {
    return IsControl(c) || c == 0x20 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200B) ||
           IsLineSeparator(c) || c == 0x202F || c == 0x205F || c == 0x3000 || c == 0xFEFF;
}

bool IsForbidden(const TCodePoint& c) { return c.Value == kInvalid || IsControl(c.Value) || IsLineSeparator(c.Value); }

}  // namespace

std::string TrimName(std::string_view name) {
    std::size_t begin = 0;
    while (begin < name.size()) {
        const TCodePoint c = DecodeAt(name, begin);
        if (c.Value == kInvalid || !IsBlank(c.Value)) break;
        begin += c.Length;
    }
    // The end of the last character that is not a blank.
    std::size_t end = begin;
    for (std::size_t i = begin; i < name.size();) {
        const TCodePoint c = DecodeAt(name, i);
        i += c.Length;
        if (c.Value == kInvalid || !IsBlank(c.Value)) end = i;
    }
    return std::string(name.substr(begin, end - begin));
}

bool HasForbiddenNameCharacter(std::string_view name) {
    for (std::size_t i = 0; i < name.size();) {
        const TCodePoint c = DecodeAt(name, i);
        if (IsForbidden(c)) return true;
        i += c.Length;
    }
    return false;
}

std::string VisibleName(std::string_view name) {
    std::string out;
    for (std::size_t i = 0; i < name.size();) {
        const TCodePoint c = DecodeAt(name, i);
        if (c.Value == kInvalid) out += Format("<0x%02X>", static_cast<unsigned char>(name[i]));
        else if (IsForbidden(c)) out += Format("<U+%04X>", static_cast<unsigned>(c.Value));
        else out.append(name.substr(i, c.Length));
        i += c.Length;
    }
    return out;
}

bool TNameLess::operator()(std::string_view a, std::string_view b) const {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        auto x = static_cast<unsigned char>(a[i]);
        auto y = static_cast<unsigned char>(b[i]);
        if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 'a' + 'A');
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

}  // namespace korvex
