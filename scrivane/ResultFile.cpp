#include "scrivane/ResultFile.h"

#include <charconv>
#include <cstdio>
#include <memory>

#include <openssl/evp.h>

#include "scrivane/EngineErrors.h"

namespace scrivane {

const std::array<std::uint8_t, 32> kResultKey = {
    0x7c, 0x19, 0xe0, 0x4b, 0x5a, 0x2f, 0x83, 0xd6, 0xc0, 0x41, 0x7e, 0x9b, 0x25, 0xfa, 0x6d, 0x38,
    0x11, 0xc8, 0x4e, 0x07, 0xb9, 0x6a, 0x2d, 0x5f, 0xe3, 0x08, 0x9c, 0x74, 0xb1, 0xd2, 0x6a, 0x5e};
const std::array<std::uint8_t, 16> kResultIv = {0x5e, 0x0b, 0x7a, 0x19, 0xc3, 0xd4, 0x8f, 0x26,
                                               0xa1, 0xe7, 0x09, 0x3b, 0xd4, 0xc6, 0x5f, 0x82};

std::string FormatFixed(double value, int digits) {
  char buffer[400];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, digits);
  if (ec != std::errc()) return "nan";
  return std::string(buffer, end);
}

std::string BuildResultPlaintext(const RecognitionResult& result) {
  return result.text + "|" + FormatFixed(result.score, 6);
}

std::optional<std::vector<std::uint8_t>> EncryptResult(const std::string& plaintext) {
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
  if (!ctx || EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr, kResultKey.data(), kResultIv.data()) != 1)
    return std::nullopt;
  std::vector<std::uint8_t> out(plaintext.size() + 16);
  int written = 0, final = 0;
  if (EVP_EncryptUpdate(ctx.get(), out.data(), &written, reinterpret_cast<const unsigned char*>(plaintext.data()),
                        int(plaintext.size())) != 1 ||
      EVP_EncryptFinal_ex(ctx.get(), out.data() + written, &final) != 1)
    return std::nullopt;
  out.resize(std::size_t(written + final));
  return out;
}

void WriteEncryptedResult(const std::string& path, const RecognitionResult& result) {
  const auto cipher = EncryptResult(BuildResultPlaintext(result));
  if (!cipher) throw EEngineError("AES encryption failed");
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) throw EEngineError("cannot create encrypted output");
  bool ok = std::fwrite(cipher->data(), 1, cipher->size(), file) == cipher->size();
  ok = std::fclose(file) == 0 && ok;
  // A short write must not pass for a result: Korvex would read a broken file.
  if (!ok) throw EEngineError("cannot write encrypted output");
}

}  // namespace scrivane
