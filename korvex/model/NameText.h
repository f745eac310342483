#pragma once
// Candidate and write-in names as the counting database keeps them: every name
// is also a column name of [detail] and a value of a template file, so it is
// trimmed of every kind of blank on entry, may not hold line breaks or control
// characters, and is compared the way the database compares names (ASCII
// letters without regard to case, everything else exactly).
#include <string>
#include <string_view>

namespace korvex {

// The name without leading and trailing blanks: Unicode white space (U+0009 to
// U+000D, U+0020, U+0085, U+00A0, U+1680, U+2000 to U+200A, U+2028, U+2029,
// U+202F, U+205F, U+3000), the invisible U+200B and U+FEFF, and the other
// control characters (C0, DEL, C1). Bytes that are not UTF-8 are kept.
std::string TrimName(std::string_view name);

// True when the name holds a line break or control character anywhere (C0 with
// tab, CR and LF, DEL, C1 with U+0085, U+2028, U+2029) or bytes that are not
// UTF-8. Such a name cannot be stored: it would break a template line or a
// name list and could not be told apart from its look-alikes.
bool HasForbiddenNameCharacter(std::string_view name);

// The name for a message: each forbidden character written as <U+XXXX>, each
// byte that is not UTF-8 as <0xXX>.
std::string VisibleName(std::string_view name);

// Order of names for maps keyed by name: equal exactly when SameText says so.
struct TNameLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
};

}  // namespace korvex
