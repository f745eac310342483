#include "OcrCleanup.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>

namespace korvex {

namespace {

// Fixed tables, so that the signal handler touches no heap and takes no lock.
constexpr int kSlots = 32;

std::atomic<pid_t> gChildren[kSlots];

enum TSlotState { ssFree = 0, ssFilling = 1, ssReady = 2 };
struct TFilesSlot {
    std::atomic<int> State{ssFree};
    char Folder[PATH_MAX];
    char Base[64];
};
TFilesSlot gFiles[kSlots];

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

bool StartsWith(const char* name, const char* base, std::size_t baseLength) {
    return std::strncmp(name, base, baseLength) == 0 && (name[baseLength] == '\0' || name[baseLength] == '.');
}

// Async-signal-safe: open, getdents64, unlinkat and close only.
void RemoveCallFiles(const TFilesSlot& slot) {
    const int dir = ::open(slot.Folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return;
    const std::size_t baseLength = std::strlen(slot.Base);
    alignas(8) char buffer[4096];
    for (;;) {
        const long got = ::syscall(SYS_getdents64, dir, buffer, sizeof buffer);
        if (got <= 0) break;
        for (long at = 0; at < got;) {
            // struct linux_dirent64: inode (8), offset (8), record length (2), type (1), name.
            unsigned short length;
            std::memcpy(&length, buffer + at + 16, sizeof length);
            const char* name = buffer + at + 19;
            if (StartsWith(name, slot.Base, baseLength)) ::unlinkat(dir, name, 0);
            at += length;
        }
    }
    ::close(dir);
}

void OnTerminatingSignal(int signal) {
    const int savedErrno = errno;
    for (std::atomic<pid_t>& child : gChildren) {
        const pid_t pid = child.load();
        if (pid <= 0) continue;
        ::kill(-pid, SIGKILL);
        ::kill(pid, SIGKILL);
    }
    for (const TFilesSlot& slot : gFiles)
        if (slot.State.load() == ssReady) RemoveCallFiles(slot);
    // End as the signal says: default action, re-raised; it is delivered when
    // this handler returns and unblocks it.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    ::sigaction(signal, &dfl, nullptr);
    ::raise(signal);
    errno = savedErrno;
}

}  // namespace

void InstallOcrSignalCleanup() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (int signal : kSignals) {
            struct sigaction old {};
            if (::sigaction(signal, nullptr, &old) != 0) continue;
            if ((old.sa_flags & SA_SIGINFO) != 0 || old.sa_handler != SIG_DFL) continue;
            struct sigaction mine {};
            mine.sa_handler = &OnTerminatingSignal;
            sigemptyset(&mine.sa_mask);
            for (int other : kSignals) sigaddset(&mine.sa_mask, other);  // one cleanup at a time
            mine.sa_flags = SA_RESTART;
            ::sigaction(signal, &mine, nullptr);
        }
    });
}

TOcrChildRegistration::TOcrChildRegistration(pid_t pid) : slot_(-1) {
    for (int i = 0; i < kSlots && slot_ < 0; ++i) {
        pid_t expected = 0;
        if (gChildren[i].compare_exchange_strong(expected, pid)) slot_ = i;
    }
}

TOcrChildRegistration::~TOcrChildRegistration() {
    if (slot_ >= 0) gChildren[slot_].store(0);
}

TOcrFilesRegistration::TOcrFilesRegistration(const std::string& folder, const std::string& base) : slot_(-1) {
    if (folder.size() >= PATH_MAX || base.empty() || base.size() >= sizeof gFiles[0].Base) return;
    for (int i = 0; i < kSlots && slot_ < 0; ++i) {
        int expected = ssFree;
        if (!gFiles[i].State.compare_exchange_strong(expected, ssFilling)) continue;
        std::memcpy(gFiles[i].Folder, folder.c_str(), folder.size() + 1);
        std::memcpy(gFiles[i].Base, base.c_str(), base.size() + 1);
        gFiles[i].State.store(ssReady);
        slot_ = i;
    }
}

TOcrFilesRegistration::~TOcrFilesRegistration() {
    if (slot_ >= 0) gFiles[slot_].State.store(ssFree);
}

}  // namespace korvex
