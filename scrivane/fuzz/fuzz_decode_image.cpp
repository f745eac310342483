// Arbitrary bytes as an input image file and as a dictionary: decoding ends
// with a result or an engine error, never a crash.
#include <cstddef>
#include <cstdint>

#include "scrivane/CtcDecode.h"
#include "scrivane/EngineErrors.h"
#include "scrivane/ImageDecode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> bytes(data, data + size);
  try {
    const scrivane::DecodedImage image = scrivane::DecodeImageBytes(bytes);
    if (image.pixels.size() != std::size_t(image.width) * std::size_t(image.height) * 3) __builtin_trap();
    const std::vector<float> tensor = scrivane::BuildInputTensor(image);
    if (tensor.size() != scrivane::kTensorFloats) __builtin_trap();
  } catch (const scrivane::EEngineError&) {
  }
  try {
    const scrivane::DecoderTable table = scrivane::ParseDecoderTable(std::string(bytes.begin(), bytes.end()));
    if (table.size() < 3 || table.back() != " ") __builtin_trap();
  } catch (const scrivane::EEngineError&) {
  }
  return 0;
}
