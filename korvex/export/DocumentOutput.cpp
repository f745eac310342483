#include "export/DocumentOutput.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "export/FileOutput.h"
#include "model/Errors.h"
#include "model/ProgramFolder.h"
#include "model/TextUtil.h"

namespace korvex {
namespace {

constexpr int kMaxNameAttempts = 1000;
constexpr int kViewerStartMs = 3000;

// How the viewer fared, sent from the intermediate child through a pipe.
enum : unsigned char { vsStarted = 0, vsExecFailed = 1, vsFailed = 2 };

}  // namespace

std::string DefaultDocumentsFolder() { return ProgramPath("Documents"); }

std::string SaveNewDocument(const std::string& folder, const std::string& baseName, const std::string& bytes,
                            std::time_t now) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        RaiseFileError("无法创建文件夹", folder, ec.value());
    }
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d_%H%M%S", &local);
    for (int attempt = 1; attempt <= kMaxNameAttempts; ++attempt) {
        const std::string suffix = attempt > 1 ? Format("_%d", attempt) : std::string();
        const std::string name = baseName + "_" + stamp + suffix + ".docx";
        const std::string path = (std::filesystem::path(folder) / name).string();
        if (WriteNewFile(path, bytes)) {
            return path;
        }
    }
    RaiseFileError("无法创建文件", (std::filesystem::path(folder) / (baseName + "_" + stamp + ".docx")).string(),
                   EEXIST);
}

TSavedDocument SaveAndOpenDocument(const std::string& folder, const std::string& baseName, const std::string& bytes,
                                   const TDocumentOpener& opener) {
    TSavedDocument saved;
    saved.FileName = SaveNewDocument(folder, baseName, bytes, std::time(nullptr));
    std::string error;
    if (!opener(saved.FileName, error)) {
        saved.Notice = "文档已保存：" + saved.FileName + "\r\n无法用默认程序打开它（" + error + "），请手动打开该文件。";
    }
    return saved;
}

bool OpenWithDesktop(const std::string& file, std::string& error, const std::string& command) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        return false;
    }
    // The intermediate child starts the viewer, watches it for a moment, reports
    // and exits; a viewer still running then belongs to init, not to us.
    const pid_t middle = fork();
    if (middle < 0) {
        error = std::strerror(errno);
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    if (middle == 0) {
        close(fds[0]);
        unsigned char state = vsFailed;
        const pid_t viewer = fork();
        if (viewer == 0) {
            const char* argv[] = {command.c_str(), file.c_str(), nullptr};
            execvp(argv[0], const_cast<char* const*>(argv));
            _exit(127);
        }
        if (viewer > 0) {
            state = vsStarted;
            for (int waited = 0; waited < kViewerStartMs; waited += 50) {
                int status = 0;
                if (waitpid(viewer, &status, WNOHANG) == viewer) {
                    state = WIFEXITED(status) && WEXITSTATUS(status) == 0     ? vsStarted
                            : WIFEXITED(status) && WEXITSTATUS(status) == 127 ? vsExecFailed
                                                                              : vsFailed;
                    break;
                }
                poll(nullptr, 0, 50);
            }
        }
        (void)!write(fds[1], &state, 1);
        _exit(0);
    }
    close(fds[1]);
    unsigned char state = vsFailed;
    ssize_t n;
    do {
        n = read(fds[0], &state, 1);
    } while (n < 0 && errno == EINTR);
    close(fds[0]);
    while (waitpid(middle, nullptr, 0) < 0 && errno == EINTR) {
    }
    if (n == 1 && state == vsStarted) {
        return true;
    }
    error = n == 1 && state == vsExecFailed ? "找不到程序 " + command : command + " 未能打开该文件";
    return false;
}

}  // namespace korvex
