#pragma once
// Text helpers of the OCR client.
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace korvex {

// Replaces every occurrence of pattern, compared without regard to ASCII case.
std::string ReplaceAllIgnoreCase(std::string_view text, std::string_view pattern, std::string_view replacement);

struct TPlaceholderValue {
    std::string_view Placeholder;  // e.g. "{image}", matched in any letter case
    std::string_view Value;
};

// Fills the placeholders of an argument template in one pass (an earlier
// entry wins where two match at one place), so a value that happens to hold
// a placeholder is never filled again. The result is argument text whose
// split (SplitArguments) gives every value back exactly, whatever quotes,
// backslashes or blanks it holds and whether or not the template put the
// placeholder in quotes.
std::string FillArguments(std::string_view argumentTemplate, std::initializer_list<TPlaceholderValue> values);
// "{image}", then "{outputbase}", then "{output}".
std::string FillArgumentTemplate(std::string_view argumentTemplate, std::string_view imagePath,
                                 std::string_view outputBase, std::string_view outputPath);
// Argument text that SplitArguments splits into exactly these arguments.
std::string JoinArguments(const std::vector<std::string>& args);

// The end of a program's standard error for a message: its last three
// non-empty lines joined by " / ", control characters as blanks, broken
// UTF-8 marked, at most about 500 bytes.
std::string ErrorOutputSummary(std::string_view output);

// True for the engine's own answer: valid UTF-8 without control characters,
// a name (possibly empty, possibly holding "|"), "|" and a decimal score.
bool IsEngineAnswer(std::string_view plaintext);

// The bytes as UTF-8 text: a leading byte-order mark is dropped and every
// malformed sequence becomes U+FFFD.
std::string DecodeUtf8Lenient(std::string_view bytes, bool skipByteOrderMark);

}  // namespace korvex
