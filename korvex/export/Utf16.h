#pragma once
// UTF-8 to UTF-16 for the file formats that store 16-bit text, and the
// width a text takes on screen.
#include <string>
#include <string_view>

namespace korvex {

// Malformed or overlong sequences and lone surrogates become U+FFFD, so a
// damaged name still yields a well-formed string.
std::u16string Utf8ToUtf16(std::string_view utf8);

// Columns the text takes in a fixed-pitch view: two for each East Asian wide
// or full-width character (Han, kana, Hangul, full-width forms), one for any
// other character.
std::size_t DisplayWidth(std::string_view utf8);

}  // namespace korvex
