#pragma once
// The program folder: where Korvex keeps qm.mdb, Korvex.ini, Templates, Scans
// and OCR. It is the folder of the running executable, or the folder named by
// the environment variable KORVEX_HOME when that is set and not empty.
#include <string>

namespace korvex {

std::string ProgramFolder();
// The folder of the running executable itself, whatever KORVEX_HOME says.
std::string ExecutableFolder();
// ProgramFolder() + "/" + name.
std::string ProgramPath(const std::string& name);

}  // namespace korvex
