#include "export/FileOutput.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
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

std::string FolderOf(const std::string& path) {
    const std::string folder = std::filesystem::path(path).parent_path().string();
    return folder.empty() ? "." : folder;
}

// Makes the rename itself durable.
void SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// A complete copy of bytes under a new temporary name in the folder of path.
// The name is short whatever the length of the target's, so that a target
// name near the system's limit still gets its temporary file.
class TTemporaryFile {
public:
    TTemporaryFile(const std::string& path, const std::string& bytes) : FPath(path) {
        const std::string pattern = FolderOf(path) + "/.korvex-XXXXXX.partial";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        const int fd = ::mkstemps(name.data(), 8);
        if (fd < 0) {
            RaiseFileError("无法创建文件", path, errno);
        }
        FName = name.data();
        int error = WriteAllAndSync(fd, bytes);
        if (::fchmod(fd, 0644) != 0 && error == 0) {
            error = errno;
        }
        if (::close(fd) != 0 && error == 0) {
            error = errno;
        }
        if (error != 0) {
            ::unlink(FName.c_str());  // the destructor does not run for a failed constructor
            RaiseFileError("无法写入文件", path, error);
        }
    }
    ~TTemporaryFile() {
        if (!FName.empty()) {
            ::unlink(FName.c_str());
        }
    }
    TTemporaryFile(const TTemporaryFile&) = delete;
    TTemporaryFile& operator=(const TTemporaryFile&) = delete;

    const std::string& Name() const { return FName; }
    // The file now lives under the target name.
    void Renamed() {
        FName.clear();
        SyncFolder(FolderOf(FPath));
    }
    [[noreturn]] void Fail(int error) { RaiseFileError("无法写入文件", FPath, error); }

private:
    std::string FPath;
    std::string FName;
};

}  // namespace

void WriteFileReplacing(const std::string& path, const std::string& bytes) {
    TTemporaryFile temp(path, bytes);
    if (std::rename(temp.Name().c_str(), path.c_str()) != 0) {
        temp.Fail(errno);
    }
    temp.Renamed();
}

bool WriteNewFile(const std::string& path, const std::string& bytes) {
    TTemporaryFile temp(path, bytes);
    if (::renameat2(AT_FDCWD, temp.Name().c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) {
        temp.Renamed();
        return true;
    }
    int error = errno;
    if (error == EINVAL || error == ENOSYS || error == EOPNOTSUPP) {
        // A file system without an exclusive rename: a hard link refuses an
        // existing name just the same; the temporary name is then removed.
        error = ::link(temp.Name().c_str(), path.c_str()) == 0 ? 0 : errno;
        if (error == 0) {
            ::unlink(temp.Name().c_str());
            temp.Renamed();
            return true;
        }
    }
    if (error == EEXIST) {
        return false;
    }
    temp.Fail(error);
}

}  // namespace korvex
