#pragma once
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace scrivane {

constexpr int kNotARegularFile = -1;  // a FIFO, socket or device: never read, it might block
constexpr int kFileTooLarge = -2;     // more than maxBytes

// Reads a whole regular file as raw bytes. Returns 0 on success, else the
// errno of the failing open or read (a folder gives EISDIR) or one of the
// two codes above.
int ReadFileBytes(const std::string& path, std::vector<std::uint8_t>& bytes,
                  std::uint64_t maxBytes = std::numeric_limits<std::uint64_t>::max());

}  // namespace scrivane
