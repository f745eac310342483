#include "model/ProgramFolder.h"

#include <cstdlib>
#include <filesystem>

namespace korvex {

std::string ExecutableFolder() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return std::filesystem::current_path(ec).string();
    return exe.parent_path().string();
}

std::string ProgramFolder() {
    const char* home = std::getenv("KORVEX_HOME");
    if (home && *home) {
        std::filesystem::path folder = std::filesystem::absolute(home).lexically_normal();
        if (folder.filename().empty() && folder.has_parent_path() && folder != folder.root_path())
            folder = folder.parent_path();  // no trailing separator
        return folder.string();
    }
    return ExecutableFolder();
}

std::string ProgramPath(const std::string& name) { return (std::filesystem::path(ProgramFolder()) / name).string(); }

}  // namespace korvex
