#include "scrivane/EngineFiles.h"

#include <filesystem>
#include <memory>
#include <unistd.h>

#include "scrivane/EngineErrors.h"

namespace scrivane {

namespace {
bool IsSeparator(char c) { return c == '/' || c == '\\'; }
}  // namespace

std::string FolderOf(const std::string& path) {
  std::size_t end = path.size();
  while (end > 0 && !IsSeparator(path[end - 1])) --end;  // drop the last component
  std::size_t keep = end;
  while (keep > 0 && IsSeparator(path[keep - 1])) --keep;  // and the separators before it
  if (keep == 0 && end > 0) return path.substr(0, 1);      // root keeps its separator
  return path.substr(0, keep);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return IsSeparator(folder.back()) ? folder + name : folder + "/" + name;
}

EngineFiles EngineFilesIn(const std::string& folder) {
  return {folder, JoinPath(folder, "model.onnx"), JoinPath(folder, "character_dict.txt")};
}

EngineFiles LocateEngineFiles() {
  constexpr std::size_t kBufferSize = 32768;
  auto buffer = std::make_unique<char[]>(kBufferSize);
  ssize_t n = ::readlink("/proc/self/exe", buffer.get(), kBufferSize);
  if (n <= 0 || std::size_t(n) >= kBufferSize) throw EEngineError("GetModuleFileNameW failed");
  return EngineFilesIn(FolderOf(std::string(buffer.get(), std::size_t(n))));
}

bool PathExists(const std::string& path) {
  std::error_code ec;
  const auto status = std::filesystem::symlink_status(path, ec);
  if (status.type() == std::filesystem::file_type::not_found) return false;
  if (ec) throw EEngineError(ec.message());
  return true;
}

}  // namespace scrivane
