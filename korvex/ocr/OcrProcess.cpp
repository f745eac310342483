#include "OcrProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <thread>

extern char** environ;

namespace korvex {

namespace {

bool IsSeparator(char c) { return c == ' ' || c == '\t'; }

// Owns the spawn attributes and file actions for one start.
class TSpawnSetup {
public:
    TSpawnSetup() {
        posix_spawn_file_actions_init(&actions_);
        posix_spawnattr_init(&attr_);
    }
    ~TSpawnSetup() {
        posix_spawnattr_destroy(&attr_);
        posix_spawn_file_actions_destroy(&actions_);
    }
    TSpawnSetup(const TSpawnSetup&) = delete;
    TSpawnSetup& operator=(const TSpawnSetup&) = delete;

    // Returns 0 or an errno value.
    int Prepare(const std::string& workDir) {
        int rc = posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0);
        if (rc == 0) rc = posix_spawn_file_actions_addopen(&actions_, 1, "/dev/null", O_WRONLY, 0);
        if (rc == 0) rc = posix_spawn_file_actions_adddup2(&actions_, 1, 2);
        if (rc == 0) rc = posix_spawn_file_actions_addchdir_np(&actions_, workDir.c_str());
        if (rc == 0) rc = posix_spawn_file_actions_addclosefrom_np(&actions_, 3);
        if (rc != 0) return rc;

        sigset_t none;
        sigemptyset(&none);
        sigset_t all;
        sigfillset(&all);
        sigdelset(&all, SIGKILL);
        sigdelset(&all, SIGSTOP);
        rc = posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        if (rc == 0) rc = posix_spawnattr_setpgroup(&attr_, 0);
        if (rc == 0) rc = posix_spawnattr_setsigmask(&attr_, &none);
        if (rc == 0) rc = posix_spawnattr_setsigdefault(&attr_, &all);
        return rc;
    }

    const posix_spawn_file_actions_t* Actions() const { return &actions_; }
    const posix_spawnattr_t* Attr() const { return &attr_; }

private:
    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attr_;
};

class TFd {
public:
    explicit TFd(int fd) : fd_(fd) {}
    ~TFd() {
        if (fd_ >= 0) ::close(fd_);
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

enum TWaitEnd { weEnded, weTimedOut, weFailed };

// Waits for the child to end and reaps it; sleeps on its pidfd when the
// kernel offers one, else polls.
TWaitEnd WaitChild(pid_t pid, int pidfd, int limitMS, int& status, int& err) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(limitMS, 0));
    for (;;) {
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) return weEnded;
        if (r < 0) {
            if (errno == EINTR) continue;
            err = errno;
            return weFailed;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return weTimedOut;
        const int slice = static_cast<int>(std::min<long long>(left, INT_MAX));
        if (pidfd >= 0) {
            pollfd p{pidfd, POLLIN, 0};
            if (::poll(&p, 1, slice) < 0 && errno != EINTR) {
                err = errno;
                return weFailed;
            }
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min(slice, 2)));
        }
    }
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view s) {
    std::vector<std::string> args;
    std::size_t i = 0;
    const std::size_t n = s.size();

    std::string program;
    bool quoted = false;
    while (i < n && (quoted || !IsSeparator(s[i]))) {
        if (s[i] == '"') quoted = !quoted;
        else program += s[i];
        ++i;
    }
    args.push_back(std::move(program));

    for (;;) {
        while (i < n && IsSeparator(s[i])) ++i;
        if (i >= n) break;
        std::string arg;
        quoted = false;
        while (i < n && (quoted || !IsSeparator(s[i]))) {
            if (s[i] == '\\') {
                std::size_t k = i;
                while (k < n && s[k] == '\\') ++k;
                const std::size_t count = k - i;
                if (k < n && s[k] == '"') {
                    arg.append(count / 2, '\\');
                    if (count % 2 == 1) {
                        arg += '"';
                        i = k + 1;
                    } else {
                        i = k;  // the quote groups; handled next round
                    }
                } else {
                    arg.append(count, '\\');
                    i = k;
                }
            } else if (s[i] == '"') {
                if (quoted && i + 1 < n && s[i + 1] == '"') {
                    arg += '"';
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
            } else {
                arg += s[i++];
            }
        }
        args.push_back(std::move(arg));
    }
    return args;
}

TProcessOutcome RunProcessWithTimeout(const std::string& program, const std::vector<std::string>& args,
                                      const std::string& workDir, int timeoutMS, int graceMS) {
    TProcessOutcome out;
    TSpawnSetup setup;
    if (const int rc = setup.Prepare(workDir); rc != 0) {
        out.Errno = rc;
        return out;
    }
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    pid_t pid = 0;
    if (const int rc = ::posix_spawn(&pid, program.c_str(), setup.Actions(), setup.Attr(), argv.data(), environ);
        rc != 0) {
        out.Errno = rc;
        return out;
    }

    const TFd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    int status = 0;
    int err = 0;
    switch (WaitChild(pid, pidfd.Get(), timeoutMS, status, err)) {
        case weFailed:
            out.End = peWaitFailed;
            out.Errno = err;
            return out;
        case weTimedOut:
            // The child is not reaped yet, so its pid still names its group.
            if (::kill(-pid, SIGKILL) != 0) ::kill(pid, SIGKILL);
            WaitChild(pid, pidfd.Get(), graceMS, status, err);
            out.End = peTimedOut;
            return out;
        case weEnded:
            break;
    }
    if (WIFEXITED(status)) {
        out.End = peExited;
        out.Code = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        out.End = peSignalled;
        out.Code = WTERMSIG(status);
    } else {
        out.End = peStatusUnreadable;
        out.Errno = EINVAL;
    }
    return out;
}

}  // namespace korvex
