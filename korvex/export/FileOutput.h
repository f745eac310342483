#pragma once
// Writing finished files to disk without leaving partial ones behind.
#include <string>

namespace korvex {

// Writes bytes to a temporary file beside path, flushes it to disk and renames
// it over path. A failure removes the temporary file and raises EFileError;
// a file already at path is then left as it was.
void WriteFileReplacing(const std::string& path, const std::string& bytes);

// Creates path exclusively and writes bytes to it. Returns false, touching
// nothing, when a file of that name already exists; raises EFileError on any
// other failure (and removes what it created).
bool WriteNewFile(const std::string& path, const std::string& bytes);

}  // namespace korvex
