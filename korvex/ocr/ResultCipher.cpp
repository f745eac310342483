#include "ResultCipher.h"

#include <openssl/evp.h>

#include <memory>

namespace korvex {

const std::array<std::uint8_t, 48> kOcrResultKeyAndIV = {
    // key
    0x7c, 0x19, 0xe0, 0x4b, 0x5a, 0x2f, 0x83, 0xd6, 0xc0, 0x41, 0x7e, 0x9b, 0x25, 0xfa, 0x6d, 0x38,
    0x11, 0xc8, 0x4e, 0x07, 0xb9, 0x6a, 0x2d, 0x5f, 0xe3, 0x08, 0x9c, 0x74, 0xb1, 0xd2, 0x6a, 0x5e,
    // initialisation vector
    0x5e, 0x0b, 0x7a, 0x19, 0xc3, 0xd4, 0x8f, 0x26, 0xa1, 0xe7, 0x09, 0x3b, 0xd4, 0xc6, 0x5f, 0x82};

std::optional<std::string> DecryptOcrResult(std::string_view cipherText) {
    if (cipherText.empty() || cipherText.size() > static_cast<std::size_t>(INT32_MAX) - 32) return std::nullopt;
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    if (!ctx) return std::nullopt;
    const std::uint8_t* key = kOcrResultKeyAndIV.data();
    const std::uint8_t* iv = kOcrResultKeyAndIV.data() + 32;
    if (EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr, key, iv) != 1) return std::nullopt;

    std::string plain(cipherText.size() + 16, '\0');
    int written = 0;
    if (EVP_DecryptUpdate(ctx.get(), reinterpret_cast<unsigned char*>(plain.data()), &written,
                          reinterpret_cast<const unsigned char*>(cipherText.data()),
                          static_cast<int>(cipherText.size())) != 1)
        return std::nullopt;
    int tail = 0;
    if (EVP_DecryptFinal_ex(ctx.get(), reinterpret_cast<unsigned char*>(plain.data()) + written, &tail) != 1)
        return std::nullopt;  // bad padding: wrong key, vector or a damaged file
    plain.resize(static_cast<std::size_t>(written) + static_cast<std::size_t>(tail));
    return plain;
}

}  // namespace korvex
