#pragma once
// Small text helpers shared by the whole program. Texts are UTF-8.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korvex {

// Removes leading and trailing blanks and control characters (bytes <= 0x20).
std::string_view TrimBlanks(std::string_view text);
std::string TrimmedCopy(std::string_view text);

// Upper-cases the ASCII letters a-z only; other bytes are left as they are.
std::string AsciiUpper(std::string_view text);

// Equality without regard to ASCII letter case.
bool SameText(std::string_view a, std::string_view b);

// Number of UTF-16 code units the UTF-8 text would take (a character beyond
// U+FFFF counts two). Malformed bytes count one unit each.
std::size_t Utf16Length(std::string_view utf8);

// Strict 32-bit integer: optional sign and decimal digits, or "0x"/"0X" and up
// to eight hexadecimal digits (read as the two's-complement bit pattern).
std::optional<std::int32_t> ParseInt32(std::string_view text);

// Decimal only (optional sign), within the 32-bit range.
std::optional<std::int32_t> ParseDecimalInt32(std::string_view text);

// Formats like printf into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace korvex
