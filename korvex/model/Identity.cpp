#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>

#include "Errors.h"
#include "uBallotTypes.h"

namespace korvex {
namespace {

constexpr std::uint32_t kFnvPrime = 16777619u;
constexpr std::uint32_t kFnvOffset = 0x811C9DC5u;

}  // namespace

void TScanUIDHash::Feed(const void* data, std::size_t count) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::uint32_t a = h1_, b = h2_;
    for (std::size_t i = 0; i < count; ++i) {
        a = (a ^ bytes[i]) * kFnvPrime;
        b = (b ^ (static_cast<std::uint32_t>(bytes[i]) + 1u)) * kFnvPrime;
    }
    h1_ = a;
    h2_ = b;
    size_ += count;
}

std::string TScanUIDHash::Finish() const {
    const std::uint32_t a = (h1_ ^ static_cast<std::uint32_t>(size_ & 0xFFFFFFFFu)) * kFnvPrime;
    const std::uint32_t b = (h2_ ^ static_cast<std::uint32_t>(size_ >> 32)) * kFnvPrime;
    char text[17];
    std::snprintf(text, sizeof text, "%08X%08X", a, b);
    return text;
}

std::string ComputeScanUIDOfBytes(std::string_view bytes) {
    TScanUIDHash state;
    state.Feed(bytes.data(), bytes.size());
    return state.Finish();
}

std::string ComputeScanUID(const std::string& fileName) {
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) RaiseFileError("无法打开文件", fileName, errno);
    TScanUIDHash state;
    std::array<unsigned char, 65536> block;
    for (;;) {
        const ssize_t got = ::read(fd, block.data(), block.size());
        if (got < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            ::close(fd);
            RaiseFileError("无法读取文件", fileName, err);
        }
        if (got == 0) break;
        state.Feed(block.data(), static_cast<std::size_t>(got));
    }
    ::close(fd);
    return state.Finish();
}

std::uint32_t TemplateCodeOf(std::string_view templateID) {
    std::uint32_t h = kFnvOffset;
    for (const char c : templateID) h = (h ^ static_cast<unsigned char>(c)) * kFnvPrime;
    return h == 0 ? 0x6A09E667u : h;
}

std::uint8_t CodeCheckNibble(std::uint32_t code) {
    std::uint32_t x = 0;
    for (int i = 0; i < 8; ++i) x ^= (code >> (4 * i)) & 15u;
    return static_cast<std::uint8_t>(x);
}

std::string NewGuidText() {
    std::array<unsigned char, 16> b{};
    std::size_t filled = 0;
    while (filled < b.size()) {
        const ssize_t got = ::getrandom(b.data() + filled, b.size() - filled, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            throw EKorvexError("无法取得随机数。");
        }
        filled += static_cast<std::size_t>(got);
    }
    b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);  // version 4
    b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
    char text[37];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13],
                  b[14], b[15]);
    return text;
}

}  // namespace korvex
