#include "export/XmlText.h"

#include "export/Utf16.h"

namespace korvex {
namespace {

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Calls emit for every character of the text after decoding and repair.
template <typename Emit>
void ForEachCharacter(std::string_view text, Emit emit) {
    const std::u16string units = Utf8ToUtf16(text);
    for (std::size_t i = 0; i < units.size(); ++i) {
        char32_t c = units[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size()) {
            c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
        }
        emit(c);
    }
}

bool XmlAllows(char32_t c) { return c == 0x09 || c == 0x0A || c == 0x0D || (c >= 0x20 && c != 0xFFFE && c != 0xFFFF); }

void AppendEscaped(std::string& out, char32_t c) {
    switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            AppendUtf8(out, c);
    }
}

}  // namespace

std::string XmlAttribute(std::string_view text) {
    std::string out;
    ForEachCharacter(text, [&](char32_t c) {
        if (XmlAllows(c) && c >= 0x20) {
            AppendEscaped(out, c);
        }
    });
    return out;
}

std::string XmlRunText(std::string_view text) {
    std::string out;
    std::string piece;
    bool afterCr = false;
    auto flush = [&] {
        if (!piece.empty()) {
            out += "<w:t xml:space=\"preserve\">" + piece + "</w:t>";
            piece.clear();
        }
    };
    ForEachCharacter(text, [&](char32_t c) {
        const bool lf = c == 0x0A;
        if (lf && afterCr) {
            afterCr = false;
            return;  // the LF of CR LF
        }
        afterCr = c == 0x0D;
        if (c == 0x09) {
            flush();
            out += "<w:tab/>";
        } else if (lf || c == 0x0D) {
            flush();
            out += "<w:br/>";
        } else if (XmlAllows(c)) {
            AppendEscaped(piece, c);
        }
    });
    flush();
    return out;
}

}  // namespace korvex
