// Feeds arbitrary bytes to the OCR client's text steps: command-line
// splitting, placeholder filling, lenient UTF-8 decoding and decryption of a
// result file. Checks the invariants each one promises.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "ocr/OcrProcess.h"
#include "ocr/OcrText.h"
#include "ocr/ResultCipher.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    const auto args = korvex::SplitCommandLine(input);
    std::size_t total = 0;
    for (const auto& a : args) total += a.size();
    if (args.empty() || total > input.size()) std::abort();  // splitting never adds characters

    const std::string filled = korvex::FillArgumentTemplate(input, "I", "B", "O");
    if (filled.size() > input.size()) std::abort();  // every placeholder is longer than its value here

    const std::string text = korvex::DecodeUtf8Lenient(input, true);
    if (korvex::DecodeUtf8Lenient(text, false) != text) std::abort();  // the output is valid UTF-8

    if (const auto plain = korvex::DecryptOcrResult(input); plain && plain->size() >= input.size()) std::abort();
    return 0;
}
