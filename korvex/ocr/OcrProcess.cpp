#include "OcrProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <thread>

#include "OcrCleanup.h"

extern char** environ;

namespace korvex {

namespace {

bool IsSeparator(char c) { return c == ' ' || c == '\t'; }

// One argument from position i by the argument rules; i ends on the blank after it.
std::string TakeArgument(std::string_view s, std::size_t& i) {
    const std::size_t n = s.size();
    std::string arg;
    bool quoted = false;
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
    return arg;
}

void TakeArguments(std::string_view s, std::size_t i, std::vector<TArgumentSpan>& args) {
    for (;;) {
        while (i < s.size() && IsSeparator(s[i])) ++i;
        if (i >= s.size()) break;
        TArgumentSpan span;
        span.Begin = i;
        span.Value = TakeArgument(s, i);
        span.End = i;
        args.push_back(std::move(span));
    }
}

std::vector<std::string> ValuesOf(std::vector<TArgumentSpan> spans) {
    std::vector<std::string> values;
    for (TArgumentSpan& span : spans) values.push_back(std::move(span.Value));
    return values;
}

class TFd {
public:
    explicit TFd(int fd = -1) : fd_(fd) {}
    ~TFd() { Reset(); }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return fd_; }
    void Reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

// Everything the child needs, prepared before fork: after it only
// async-signal-safe calls are made (the parent may have other threads).
struct TChildSetup {
    const char* Program;
    char* const* Argv;
    const char* WorkDir;
    pid_t Parent;
    int ErrorWrite;   // becomes standard error
    int StatusWrite;  // close-on-exec; receives errno when the start fails
    int MaxFd;
};

// Reports errno to the parent through the status pipe.
[[noreturn]] void FailStart(int statusFd) {
    const int err = errno;
    (void)!::write(statusFd, &err, sizeof err);
    ::_exit(127);
}

[[noreturn]] void StartChild(const TChildSetup& c) {
    const auto fail = [&c] { FailStart(c.StatusWrite); };
    ::setpgid(0, 0);
    // Killed with the thread that started it, also when Korvex is killed.
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) fail();
    if (::getppid() != c.Parent) ::_exit(127);  // the parent is gone already
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig)
        if (sig != SIGKILL && sig != SIGSTOP) ::sigaction(sig, &dfl, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open("/dev/null", O_WRONLY);
    if (in < 0 || out < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(c.ErrorWrite, 2) < 0) fail();
    if (::chdir(c.WorkDir) != 0) fail();
    // Nothing beyond the standard three, except the status pipe until exec.
    const unsigned status = static_cast<unsigned>(c.StatusWrite);
    if (status > 3 && ::syscall(SYS_close_range, 3u, status - 1, 0u) != 0)
        for (int fd = 3; fd < c.StatusWrite; ++fd) ::close(fd);
    if (::syscall(SYS_close_range, status + 1, ~0u, 0u) != 0)
        for (int fd = c.StatusWrite + 1; fd < c.MaxFd; ++fd) ::close(fd);
    ::execve(c.Program, c.Argv, environ);
    FailStart(c.StatusWrite);
}

// Keeps the end of what the child writes to its standard error; false once
// every writer has closed the pipe.
bool ReadErrorOutput(int fd, std::string& tail) {
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) return false;
        if (n < 0) return true;  // nothing more for now
        tail.append(chunk, static_cast<std::size_t>(n));
        if (tail.size() > kKeptErrorOutputBytes) tail.erase(0, tail.size() - kKeptErrorOutputBytes);
    }
}

enum TWaitEnd { weEnded, weTimedOut, weFailed };

// Waits for the child to end and reaps it, collecting its standard error
// meanwhile; sleeps on its pidfd when the kernel offers one, else polls.
TWaitEnd WaitChild(pid_t pid, int pidfd, int errorFd, int limitMS, int& status, int& err, std::string& tail) {
    // errorFd is set to -1 at the end of the output, so that poll sleeps again.
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(limitMS, 0));
    for (;;) {
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            if (errorFd >= 0) ReadErrorOutput(errorFd, tail);  // what is left in the pipe
            return weEnded;
        }
        if (r < 0) {
            if (errno == EINTR) continue;
            err = errno;
            return weFailed;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return weTimedOut;
        const int slice = static_cast<int>(std::min<long long>(left, pidfd >= 0 ? INT_MAX : 2));
        pollfd p[2] = {{pidfd, POLLIN, 0}, {errorFd, POLLIN, 0}};
        if (::poll(p, 2, slice) < 0 && errno != EINTR) {
            err = errno;
            return weFailed;
        }
        if ((p[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0 && !ReadErrorOutput(errorFd, tail)) errorFd = -1;
    }
}

// The parent side of the start: the child's errno if exec failed, else 0.
int StartFailure(int statusRead) {
    int childErrno = 0;
    for (;;) {
        const ssize_t n = ::read(statusRead, &childErrno, sizeof childErrno);
        if (n < 0 && errno == EINTR) continue;
        return n == static_cast<ssize_t>(sizeof childErrno) ? childErrno : 0;
    }
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view s) {
    std::vector<std::string> args;
    std::size_t i = 0;
    std::string program;
    bool quoted = false;
    while (i < s.size() && (quoted || !IsSeparator(s[i]))) {
        if (s[i] == '"') quoted = !quoted;
        else program += s[i];
        ++i;
    }
    args.push_back(std::move(program));
    std::vector<TArgumentSpan> rest;
    TakeArguments(s, i, rest);
    for (std::string& arg : ValuesOf(std::move(rest))) args.push_back(std::move(arg));
    return args;
}

std::vector<std::string> SplitArguments(std::string_view arguments) { return ValuesOf(SplitArgumentSpans(arguments)); }

std::vector<TArgumentSpan> SplitArgumentSpans(std::string_view arguments) {
    std::vector<TArgumentSpan> spans;
    TakeArguments(arguments, 0, spans);
    return spans;
}

TProcessOutcome RunProcessWithTimeout(const std::string& program, const std::vector<std::string>& args,
                                      const std::string& workDir, int timeoutMS, int graceMS) {
    TProcessOutcome out;
    InstallOcrSignalCleanup();
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    int errorPipe[2], statusPipe[2];
    if (::pipe2(errorPipe, O_CLOEXEC) != 0) {
        out.Errno = errno;
        return out;
    }
    TFd errorRead(errorPipe[0]), errorWrite(errorPipe[1]);
    if (::pipe2(statusPipe, O_CLOEXEC) != 0) {
        out.Errno = errno;
        return out;
    }
    TFd statusRead(statusPipe[0]), statusWrite(statusPipe[1]);
    rlimit files {};
    const int maxFd = ::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < 65536 ? int(files.rlim_cur) : 65536;
    const TChildSetup setup{program.c_str(), argv.data(), workDir.c_str(), ::getpid(),
                            errorWrite.Get(),  statusWrite.Get(), maxFd};

    const pid_t pid = ::fork();
    if (pid < 0) {
        out.Errno = errno;
        return out;
    }
    if (pid == 0) StartChild(setup);
    ::setpgid(pid, pid);  // as the child does, whichever runs first
    const TOcrChildRegistration registration(pid);
    errorWrite.Reset();
    statusWrite.Reset();
    if (const int childErrno = StartFailure(statusRead.Get()); childErrno != 0) {
        int ignored = 0;
        while (::waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
        }
        out.Errno = childErrno;
        return out;
    }
    out.Pid = pid;
    ::fcntl(errorRead.Get(), F_SETFL, O_NONBLOCK);

    const TFd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    int status = 0;
    int err = 0;
    switch (WaitChild(pid, pidfd.Get(), errorRead.Get(), timeoutMS, status, err, out.ErrorOutput)) {
        case weFailed:
            out.End = peWaitFailed;
            out.Errno = err;
            return out;
        case weTimedOut:
            // The child is not reaped yet, so its pid still names its group.
            if (::kill(-pid, SIGKILL) != 0) ::kill(pid, SIGKILL);
            if (WaitChild(pid, pidfd.Get(), errorRead.Get(), graceMS, status, err, out.ErrorOutput) != weEnded)
                std::thread([pid] {  // outlived the grace period: reaped whenever it ends
                    int ignored = 0;
                    while (::waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
                    }
                }).detach();
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
