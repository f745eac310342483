#include "OcrText.h"

#include "model/TextUtil.h"

namespace korvex {

namespace {

bool MatchesAt(std::string_view text, std::size_t pos, std::string_view pattern) {
    return pos + pattern.size() <= text.size() && SameText(text.substr(pos, pattern.size()), pattern);
}

// Length of the well-formed UTF-8 sequence at pos, or 0.
std::size_t Utf8SequenceLength(std::string_view s, std::size_t pos) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[pos + k]); };
    const unsigned char lead = b(0);
    if (lead < 0x80) return 1;
    std::size_t len = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) len = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) {
        len = 3;
        if (lead == 0xE0) lo = 0xA0;
        if (lead == 0xED) hi = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        len = 4;
        if (lead == 0xF0) lo = 0x90;
        if (lead == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (pos + len > s.size()) return 0;
    if (b(1) < lo || b(1) > hi) return 0;
    for (std::size_t k = 2; k < len; ++k)
        if ((b(k) & 0xC0) != 0x80) return 0;
    return len;
}

}  // namespace

std::string ReplaceAllIgnoreCase(std::string_view text, std::string_view pattern, std::string_view replacement) {
    if (pattern.empty()) return std::string(text);
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        if (MatchesAt(text, i, pattern)) {
            out += replacement;
            i += pattern.size();
        } else {
            out += text[i++];
        }
    }
    return out;
}

std::string FillArgumentTemplate(std::string_view argumentTemplate, std::string_view imagePath,
                                 std::string_view outputBase, std::string_view outputPath) {
    // "{outputbase}" is tried before "{output}" so the longer placeholder stays whole.
    const std::string_view placeholders[] = {"{image}", "{outputbase}", "{output}"};
    const std::string_view values[] = {imagePath, outputBase, outputPath};
    std::string out;
    std::size_t i = 0;
    while (i < argumentTemplate.size()) {
        bool replaced = false;
        for (std::size_t k = 0; k < 3 && !replaced; ++k) {
            if (MatchesAt(argumentTemplate, i, placeholders[k])) {
                out += values[k];
                i += placeholders[k].size();
                replaced = true;
            }
        }
        if (!replaced) out += argumentTemplate[i++];
    }
    return out;
}

std::string DecodeUtf8Lenient(std::string_view bytes, bool skipByteOrderMark) {
    if (skipByteOrderMark && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    std::string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const std::size_t len = Utf8SequenceLength(bytes, i);
        if (len == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(bytes.substr(i, len));
            i += len;
        }
    }
    return out;
}

}  // namespace korvex
