#pragma once
// Pipes between a test and the child processes it forks and kills.
#include <unistd.h>

#include <string>
#include <vector>

namespace korvex::testing {

inline void WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

// Everything until the other end is closed (or its process is gone).
inline std::string ReadAll(int fd) {
    std::string out;
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) out.append(buffer, static_cast<std::size_t>(n));
    return out;
}

// One line without its "\n"; false at the end of the pipe.
inline bool ReadLine(int fd, std::string& line) {
    line.clear();
    for (char c = 0; read(fd, &c, 1) == 1;) {
        if (c == '\n') return true;
        line += c;
    }
    return false;
}

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        out.push_back(text.substr(start, end - start));
    return out;
}

}  // namespace korvex::testing
