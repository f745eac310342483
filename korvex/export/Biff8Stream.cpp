#include "export/Biff8Stream.h"

#include <bit>
#include <cassert>

namespace korvex {

void TBiffBuffer::F64(double v) {
    const auto bits = std::bit_cast<std::uint64_t>(v);
    U32(static_cast<std::uint32_t>(bits & 0xFFFFFFFFu));
    U32(static_cast<std::uint32_t>(bits >> 32));
}

void TBiffBuffer::Utf16(const std::u16string& text, std::size_t from, std::size_t count) {
    for (std::size_t i = from; i < from + count; ++i) {
        U16(static_cast<std::uint16_t>(text[i]));
    }
}

void AppendRecord(TBiffBuffer& out, std::uint16_t type, const TBiffBuffer& payload) {
    assert(payload.Size() <= kMaxRecordPayload);
    out.U16(type);
    out.U16(static_cast<std::uint16_t>(payload.Size()));
    out.Append(payload.Bytes());
}

}  // namespace korvex
