#pragma once
// The encrypted result file: "text|score" under AES-256-CBC with PKCS#7
// padding, fixed key and vector shared with Korvex's reader.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "scrivane/CtcDecode.h"

namespace scrivane {

extern const std::array<std::uint8_t, 32> kResultKey;
extern const std::array<std::uint8_t, 16> kResultIv;

// Fixed-point text with `digits` digits after ".", independent of the locale.
std::string FormatFixed(double value, int digits);
std::string BuildResultPlaintext(const RecognitionResult& result);
std::optional<std::vector<std::uint8_t>> EncryptResult(const std::string& plaintext);
// Raises "AES encryption failed", "cannot create encrypted output" or
// "cannot write encrypted output".
void WriteEncryptedResult(const std::string& path, const RecognitionResult& result);

}  // namespace scrivane
