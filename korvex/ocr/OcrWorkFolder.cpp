#include "OcrWorkFolder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <set>
#include <system_error>
#include <vector>

#include "model/Errors.h"
#include "model/uBallotTypes.h"

namespace korvex {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kBaseLength = 12;  // "8 hex digits" "-" "3 hex digits"
constexpr const char* kLockSuffix = ".lock";

bool IsBaseName(const std::string& s) {
    if (s.size() != kBaseLength) return false;
    for (std::size_t i = 0; i < s.size(); ++i)
        if (i == 8 ? s[i] != '-' : std::isxdigit(static_cast<unsigned char>(s[i])) == 0) return false;
    return true;
}

// The base name of a call's file ("<base>" or "<base>.<anything>"), or "".
std::string BaseOf(const std::string& name) {
    if (name.size() < kBaseLength || (name.size() > kBaseLength && name[kBaseLength] != '.')) return "";
    const std::string base = name.substr(0, kBaseLength);
    return IsBaseName(base) ? base : "";
}

bool IsPrivateFolderOfUs(const char* path) {
    struct stat st {};
    return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 0077) == 0;
}

// Removes every entry named after base except folders; the lock stays.
void RemoveCallFiles(const fs::path& folder, const std::string& base) {
    std::error_code ec;
    std::vector<fs::path> doomed;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (BaseOf(name) != base || name == base + kLockSuffix) continue;
        std::error_code typeError;
        if (!it->is_directory(typeError)) doomed.push_back(it->path());
    }
    for (const fs::path& p : doomed) fs::remove(p, ec);
}

// True when fd still names the file at path (nobody swept it meanwhile).
bool StillLinked(int fd, const fs::path& path) {
    struct stat held {}, there {};
    return ::fstat(fd, &held) == 0 && held.st_nlink > 0 && ::lstat(path.c_str(), &there) == 0 &&
           held.st_dev == there.st_dev && held.st_ino == there.st_ino;
}

}  // namespace

fs::path OcrWorkFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/' && IsPrivateFolderOfUs(runtime)) return fs::path(runtime) / "KorvexOCR";
    const char* tmp = std::getenv("TMPDIR");
    const fs::path base = fs::absolute(fs::path(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp"));
    return base / ("KorvexOCR-" + std::to_string(::geteuid()));
}

fs::path PrepareWorkFolder() {
    const fs::path folder = OcrWorkFolder();
    const fs::path base = folder.parent_path();
    std::error_code ec;
    fs::create_directories(base, ec);
    if (ec) RaiseFileError("无法创建 OCR 临时目录", base.string(), ec.value());
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        RaiseFileError("无法创建 OCR 临时目录", folder.string(), errno);
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0) RaiseFileError("无法访问 OCR 临时目录", folder.string(), errno);
    // The bitmaps hold voters' handwriting and are handed to another program.
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
        throw EFileError("OCR 临时目录不属于当前用户：" + folder.string());
    if ((st.st_mode & 0077) != 0 && ::chmod(folder.c_str(), 0700) != 0)
        RaiseFileError("无法设置 OCR 临时目录权限", folder.string(), errno);
    SweepDeadCalls(folder);
    return folder;
}

int SweepDeadCalls(const fs::path& folder) {
    std::set<std::string> locked, others;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const std::string base = BaseOf(name);
        if (base.empty()) continue;
        (name == base + kLockSuffix ? locked : others).insert(base);
    }
    int swept = 0;
    for (const std::string& base : locked) {
        const fs::path lock = folder / (base + kLockSuffix);
        const int fd = ::open(lock.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0) continue;
        // The lock is free only when its call's process has ended.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && StillLinked(fd, lock)) {
            RemoveCallFiles(folder, base);
            ::unlink(lock.c_str());
            ++swept;
        }
        ::close(fd);
    }
    // Files without a lock: a call creates its lock first and removes it last,
    // so these belong to no running call.
    for (const std::string& base : others) {
        if (locked.count(base) != 0 || fs::exists(folder / (base + kLockSuffix), ec)) continue;
        RemoveCallFiles(folder, base);
        ++swept;
    }
    return swept;
}

TOcrCallFiles::TOcrCallFiles(fs::path folder) : folder_(std::move(folder)) {
    for (int attempt = 0; attempt < 8 && lockFd_ < 0; ++attempt) {
        base_ = NewGuidText().substr(0, kBaseLength);
        const fs::path lock = folder_ / (base_ + kLockSuffix);
        const int fd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            RaiseFileError("无法创建 OCR 临时文件", lock.string(), errno);
        }
        // A sweep between creating and locking may have taken the file away.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && StillLinked(fd, lock)) {
            lockFd_ = fd;
        } else {
            ::close(fd);
        }
    }
    if (lockFd_ < 0) throw EFileError("无法锁定 OCR 临时文件：" + folder_.string());
    registration_ = std::make_unique<TOcrFilesRegistration>(folder_.string(), base_);
}

TOcrCallFiles::~TOcrCallFiles() {
    RemoveCallFiles(folder_, base_);
    ::unlink((folder_ / (base_ + kLockSuffix)).c_str());
    ::close(lockFd_);
    registration_.reset();
}

}  // namespace korvex
