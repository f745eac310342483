#pragma once
// Writing finished files to disk without leaving partial ones behind: the bytes
// go to a temporary file in the target's folder (".korvex-XXXXXX.partial"),
// are flushed to disk, and the file is renamed to the target name only when
// complete, so a crash at any moment leaves either no file or a whole one
// under the target name.
#include <string>

namespace korvex {

// Renames the complete file over path. A failure removes the temporary file
// and raises EFileError; a file already at path is then left as it was.
void WriteFileReplacing(const std::string& path, const std::string& bytes);

// Gives the complete file the name path unless a file of that name exists:
// then returns false, touching nothing. Raises EFileError on any other failure
// (and removes the temporary file).
bool WriteNewFile(const std::string& path, const std::string& bytes);

}  // namespace korvex
