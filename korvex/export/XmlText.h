#pragma once
// Putting arbitrary UTF-8 text into XML documents safely.
#include <string>
#include <string_view>

namespace korvex {

// Well-formed XML character data: malformed UTF-8 becomes U+FFFD, characters
// XML cannot hold are dropped, and & < > " are escaped.
std::string XmlAttribute(std::string_view text);

// The text of one WordprocessingML run: <w:t> pieces with blanks preserved,
// a tab as <w:tab/> and a line break (LF, CR or CR LF) as <w:br/>.
std::string XmlRunText(std::string_view text);

}  // namespace korvex
