#pragma once
// Text helpers of the OCR client.
#include <string>
#include <string_view>

namespace korvex {

// Replaces every occurrence of pattern, compared without regard to ASCII case.
std::string ReplaceAllIgnoreCase(std::string_view text, std::string_view pattern, std::string_view replacement);

// Fills "{image}", "{outputbase}" and "{output}" (any letter case) in one pass,
// so a path that happens to contain a placeholder is never filled again.
std::string FillArgumentTemplate(std::string_view argumentTemplate, std::string_view imagePath,
                                 std::string_view outputBase, std::string_view outputPath);

// The bytes as UTF-8 text: a leading byte-order mark is dropped and every
// malformed sequence becomes U+FFFD.
std::string DecodeUtf8Lenient(std::string_view bytes, bool skipByteOrderMark);

}  // namespace korvex
