#include "scrivane/FileBytes.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace scrivane {

int ReadFileBytes(const std::string& path, std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  int error = 0;
  std::uint8_t chunk[65536];
  for (;;) {
    ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      error = errno;
      break;
    }
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  ::close(fd);
  if (error != 0) bytes.clear();
  return error;
}

}  // namespace scrivane
