#include "export/FileOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "model/Errors.h"

namespace korvex {
namespace {

// Writes everything and syncs; returns 0 or the errno of the failure.
int WriteAllAndSync(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        done += static_cast<std::size_t>(n);
    }
    return ::fsync(fd) == 0 ? 0 : errno;
}

}  // namespace

void WriteFileReplacing(const std::string& path, const std::string& bytes) {
    std::string pattern = path + ".partial-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0) {
        RaiseFileError("无法写入文件", path, errno);
    }
    int error = WriteAllAndSync(fd, bytes);
    if (::fchmod(fd, 0644) != 0 && error == 0) {
        error = errno;
    }
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error == 0 && std::rename(name.data(), path.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(name.data());
        RaiseFileError("无法写入文件", path, error);
    }
}

bool WriteNewFile(const std::string& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (errno == EEXIST) {
            return false;
        }
        RaiseFileError("无法创建文件", path, errno);
    }
    int error = WriteAllAndSync(fd, bytes);
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(path.c_str());
        RaiseFileError("无法写入文件", path, error);
    }
    return true;
}

}  // namespace korvex
