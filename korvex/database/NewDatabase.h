#pragma once
// A new, empty counting database: the candidate table [abc] as the counting
// tool ships it, optionally filled with formal candidates numbered 1..n.
#include <string>
#include <vector>

namespace korvex {

// Names are trimmed (TrimName) and empty ones skipped; a name with a line
// break or control character, with "]", a repeated name (letter case ignored)
// or one longer than [xm] holds is refused, and then no file is left behind. An existing file is never overwritten.
void CreateCountingDatabase(const std::string& fileName, const std::vector<std::string>& candidateNames = {});

// One name per line of a UTF-8 text file (byte-order mark and CR allowed), trimmed.
std::vector<std::string> ReadCandidateNamesFile(const std::string& fileName);

}  // namespace korvex
