#pragma once
// Fixtures for the engine tests: image files written from pixels, name images
// rendered from a CJK font, a scratch folder and a child-process runner.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "scrivane/ImageDecode.h"

namespace scrivane::test {

// An image of one colour (B, G, R).
DecodedImage SolidImage(int width, int height, std::uint8_t b, std::uint8_t g, std::uint8_t r);
// Distinct bytes per pixel and channel, for checking the pixel order.
DecodedImage PatternImage(int width, int height);

std::vector<std::uint8_t> EncodeBmp24(const DecodedImage& image, bool topDown = false);
std::vector<std::uint8_t> EncodePng(const DecodedImage& image);
std::vector<std::uint8_t> EncodeJpeg(const DecodedImage& image, int quality);
void WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);
void WriteFile(const std::filesystem::path& path, const std::string& bytes);
std::string ReadFile(const std::filesystem::path& path);

// Black UTF-8 text on white, Noto Sans CJK SC at `pixelSize`, with a margin.
DecodedImage RenderText(const std::string& utf8, int pixelSize = 40);

// A fresh folder under the temporary folder, removed with the object.
class ScratchFolder {
public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::filesystem::path& Path() const { return FPath; }
  std::filesystem::path operator/(const std::string& name) const { return FPath / name; }

private:
  std::filesystem::path FPath;
};

// A hand-made ONNX model y = op(x), x float 1 x 3 x 48 x 320: Cast to int64,
// or Identity (an output of the wrong shape for the engine).
std::string OneNodeModel(bool castToInt64);

struct ProcessResult {
  int exitStatus = -1;  // WEXITSTATUS, or -1 when the process did not exit normally
  std::string out, err;
};
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args);

}  // namespace scrivane::test
