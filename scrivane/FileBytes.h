#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace scrivane {

// Reads a whole file as raw bytes. Returns 0 on success, else the errno of the
// failing open or read (a folder gives EISDIR).
int ReadFileBytes(const std::string& path, std::vector<std::uint8_t>& bytes);

}  // namespace scrivane
