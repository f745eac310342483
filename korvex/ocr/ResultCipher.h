#pragma once
// The engine's encrypted result file: AES-256-CBC with PKCS#7 padding under a
// key and vector that the engine holds too (they change together).
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korvex {

// The 32 key bytes followed by the 16 bytes of the initialisation vector.
extern const std::array<std::uint8_t, 48> kOcrResultKeyAndIV;

// The plaintext, or nothing when decryption or the padding check fails.
std::optional<std::string> DecryptOcrResult(std::string_view cipherText);

}  // namespace korvex
