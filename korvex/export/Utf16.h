#pragma once
// UTF-8 to UTF-16 for the file formats that store 16-bit text.
#include <string>
#include <string_view>

namespace korvex {

// Malformed or overlong sequences and lone surrogates become U+FFFD, so a
// damaged name still yields a well-formed string.
std::u16string Utf8ToUtf16(std::string_view utf8);

}  // namespace korvex
