#pragma once
// Where the engine finds its model and dictionary: beside its own executable.
#include <string>

namespace scrivane {

struct EngineFiles {
  std::string folder;
  std::string modelPath;
  std::string dictionaryPath;
};

// The folder of a path: without its last component and the separators before
// it; a root folder keeps its separator. "/" and "\" both separate.
std::string FolderOf(const std::string& path);
std::string JoinPath(const std::string& folder, const std::string& name);
// From /proc/self/exe; raises "GetModuleFileNameW failed" when it cannot be read.
EngineFiles LocateEngineFiles();
EngineFiles EngineFilesIn(const std::string& folder);
// True when any file-system entry (file, folder, link) is at the path; a query
// that fails for another reason than a missing path raises its message.
bool PathExists(const std::string& path);

}  // namespace scrivane
