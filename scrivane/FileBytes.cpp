#include "scrivane/FileBytes.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace scrivane {

namespace {
int ReadOpen(int fd, std::vector<std::uint8_t>& bytes, std::uint64_t maxBytes) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return errno;
  if (S_ISDIR(st.st_mode)) return EISDIR;
  if (!S_ISREG(st.st_mode)) return kNotARegularFile;
  if (std::uint64_t(st.st_size) > maxBytes) return kFileTooLarge;
  bytes.reserve(std::size_t(st.st_size));
  std::uint8_t chunk[65536];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n == 0) return 0;
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (bytes.size() + std::uint64_t(n) > maxBytes) return kFileTooLarge;  // grew while read
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
}
}  // namespace

int ReadFileBytes(const std::string& path, std::vector<std::uint8_t>& bytes, std::uint64_t maxBytes) {
  bytes.clear();
  // Non-blocking, so that opening a FIFO returns at once; its type is then refused.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno;
  const int error = ReadOpen(fd, bytes, maxBytes);
  ::close(fd);
  if (error != 0) bytes.clear();
  return error;
}

}  // namespace scrivane
