#pragma once
// Little-endian record buffer for BIFF8 streams.
#include <cstdint>
#include <string>

namespace korvex {

class TBiffBuffer {
public:
    void U8(std::uint8_t v) { FBytes.push_back(static_cast<char>(v)); }
    void U16(std::uint16_t v) {
        U8(v & 0xFF);
        U8(v >> 8);
    }
    void U32(std::uint32_t v) {
        U16(v & 0xFFFF);
        U16(v >> 16);
    }
    void F64(double v);
    void Utf16(const std::u16string& text, std::size_t from, std::size_t count);
    void Append(const std::string& bytes) { FBytes += bytes; }
    std::size_t Size() const { return FBytes.size(); }
    const std::string& Bytes() const { return FBytes; }

private:
    std::string FBytes;
};

// Largest payload of one record; longer data continue in CONTINUE records.
constexpr std::size_t kMaxRecordPayload = 8224;

// Appends one record (type, payload length, payload) to out.
void AppendRecord(TBiffBuffer& out, std::uint16_t type, const TBiffBuffer& payload);

}  // namespace korvex
