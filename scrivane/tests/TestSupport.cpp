#include "TestSupport.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <random>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

#include <ft2build.h>
#include FT_FREETYPE_H
#include <jpeglib.h>
#include <png.h>

extern char** environ;

namespace scrivane::test {

DecodedImage SolidImage(int width, int height, std::uint8_t b, std::uint8_t g, std::uint8_t r) {
  DecodedImage image{width, height, {}};
  image.pixels.reserve(std::size_t(width) * height * 3);
  for (int i = 0; i < width * height; ++i) image.pixels.insert(image.pixels.end(), {b, g, r});
  return image;
}

DecodedImage PatternImage(int width, int height) {
  DecodedImage image{width, height, std::vector<std::uint8_t>(std::size_t(width) * height * 3)};
  for (std::size_t i = 0; i < image.pixels.size(); ++i) image.pixels[i] = std::uint8_t((i * 37 + i / 3) % 251);
  return image;
}

namespace {
void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(std::uint8_t(v >> (8 * i)));
}
}  // namespace

std::vector<std::uint8_t> EncodeBmp24(const DecodedImage& image, bool topDown) {
  const std::uint32_t stride = (std::uint32_t(image.width) * 3 + 3) / 4 * 4;
  std::vector<std::uint8_t> out = {'B', 'M'};
  Put32(out, 54 + stride * std::uint32_t(image.height));
  Put32(out, 0);
  Put32(out, 54);
  Put32(out, 40);
  Put32(out, std::uint32_t(image.width));
  Put32(out, topDown ? std::uint32_t(-image.height) : std::uint32_t(image.height));
  out.insert(out.end(), {1, 0, 24, 0});
  for (int i = 0; i < 6; ++i) Put32(out, 0);
  for (int y = 0; y < image.height; ++y) {
    const int row = topDown ? y : image.height - 1 - y;
    const std::uint8_t* src = &image.pixels[std::size_t(row) * image.width * 3];
    out.insert(out.end(), src, src + std::size_t(image.width) * 3);
    out.resize(out.size() + (stride - std::uint32_t(image.width) * 3), 0);
  }
  return out;
}

std::vector<std::uint8_t> EncodePng(const DecodedImage& image) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  png.width = png_uint_32(image.width);
  png.height = png_uint_32(image.height);
  png.format = PNG_FORMAT_BGR;
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&png, nullptr, &size, 0, image.pixels.data(), 0, nullptr))
    throw std::runtime_error("png size");
  std::vector<std::uint8_t> out(size);
  if (!png_image_write_to_memory(&png, out.data(), &size, 0, image.pixels.data(), 0, nullptr))
    throw std::runtime_error("png write");
  out.resize(size);
  return out;
}

std::vector<std::uint8_t> EncodeJpeg(const DecodedImage& image, int quality) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr errors;
  cinfo.err = jpeg_std_error(&errors);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = JDIMENSION(image.width);
  cinfo.image_height = JDIMENSION(image.height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(&image.pixels[std::size_t(cinfo.next_scanline) * image.width * 3]);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::vector<std::uint8_t> out(buffer, buffer + size);
  std::free(buffer);
  return out;
}

void WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  if (!file) throw std::runtime_error("cannot write " + path.string());
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  WriteFile(path, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

namespace {

std::vector<char32_t> DecodeUtf8(const std::string& s) {
  std::vector<char32_t> out;
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    char32_t cp = n == 1 ? c : c & (0x3F >> (n - 1));
    for (int k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + std::size_t(k)]) & 0x3F);
    out.push_back(cp);
    i += std::size_t(n);
  }
  return out;
}

// Opens the Simplified Chinese face of the Noto Sans CJK collection.
FT_Face OpenCjkFace(FT_Library library) {
  const char* path = "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc";
  for (FT_Long index = 0; index < 10; ++index) {
    FT_Face face = nullptr;
    if (FT_New_Face(library, path, index, &face) != 0) break;
    if (face->family_name != nullptr && std::strstr(face->family_name, "CJK SC") != nullptr) return face;
    FT_Done_Face(face);
  }
  throw std::runtime_error(std::string("no Noto Sans CJK SC face in ") + path + " (package fonts-noto-cjk)");
}

}  // namespace

DecodedImage RenderText(const std::string& utf8, int pixelSize) {
  FT_Library library = nullptr;
  if (FT_Init_FreeType(&library) != 0) throw std::runtime_error("FreeType");
  FT_Face face = OpenCjkFace(library);
  FT_Set_Pixel_Sizes(face, 0, FT_UInt(pixelSize));
  const int ascent = int(face->size->metrics.ascender >> 6);
  const int descent = int(-face->size->metrics.descender >> 6);
  const std::vector<char32_t> text = DecodeUtf8(utf8);
  int advance = 0;
  for (char32_t cp : text) {
    FT_Load_Char(face, cp, FT_LOAD_DEFAULT);
    advance += int(face->glyph->advance.x >> 6);
  }
  const int margin = pixelSize / 5;
  DecodedImage image = SolidImage(advance + 2 * margin, ascent + descent + 2 * margin / 2, 255, 255, 255);
  int penX = margin;
  const int baseline = margin / 2 + ascent;
  for (char32_t cp : text) {
    FT_Load_Char(face, cp, FT_LOAD_RENDER);
    const FT_Bitmap& bitmap = face->glyph->bitmap;
    for (unsigned row = 0; row < bitmap.rows; ++row)
      for (unsigned col = 0; col < bitmap.width; ++col) {
        const int x = penX + face->glyph->bitmap_left + int(col);
        const int y = baseline - face->glyph->bitmap_top + int(row);
        if (x < 0 || y < 0 || x >= image.width || y >= image.height) continue;
        const std::uint8_t coverage = bitmap.buffer[row * unsigned(bitmap.pitch) + col];
        std::uint8_t* px = &image.pixels[(std::size_t(y) * image.width + x) * 3];
        for (int c = 0; c < 3; ++c) px[c] = std::uint8_t(std::min<int>(px[c], 255 - coverage));
      }
    penX += int(face->glyph->advance.x >> 6);
  }
  FT_Done_Face(face);
  FT_Done_FreeType(library);
  return image;
}

ScratchFolder::ScratchFolder() {
  std::random_device random;
  FPath = std::filesystem::temp_directory_path() / ("scrivane-test-" + std::to_string(::getpid()) + "-" +
                                                    std::to_string(random()));
  std::filesystem::create_directories(FPath);
}

ScratchFolder::~ScratchFolder() {
  std::error_code ec;
  std::filesystem::remove_all(FPath, ec);
}

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args) {
  ScratchFolder capture;
  const std::string outPath = (capture / "stdout").string(), errPath = (capture / "stderr").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start " + program + ": " + std::strerror(spawned));
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  ProcessResult result;
  result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = ReadFile(outPath);
  result.err = ReadFile(errPath);
  return result;
}

namespace {

// Minimal protobuf writer for hand-made one-node ONNX models.
struct Proto {
  std::string bytes;
  void PutVarint(std::uint64_t v) {
    for (; v >= 0x80; v >>= 7) bytes += char(0x80 | (v & 0x7F));
    bytes += char(v);
  }
  Proto& Varint(int field, std::uint64_t v) {
    PutVarint(std::uint64_t(field) << 3);
    PutVarint(v);
    return *this;
  }
  Proto& Bytes(int field, const std::string& s) {
    PutVarint(std::uint64_t(field) << 3 | 2);
    PutVarint(s.size());
    bytes += s;
    return *this;
  }
  Proto& Message(int field, const Proto& m) { return Bytes(field, m.bytes); }
};

Proto ValueInfo(const std::string& name, int elementType) {
  Proto shape;
  for (std::uint64_t d : {1, 3, 48, 320}) shape.Message(1, Proto().Varint(1, d));
  const Proto tensor = Proto().Varint(1, std::uint64_t(elementType)).Message(2, shape);
  return Proto().Bytes(1, name).Message(2, Proto().Message(1, tensor));
}

}  // namespace

std::string OneNodeModel(bool castToInt64) {
  Proto node = Proto().Bytes(1, "x").Bytes(2, "y").Bytes(4, castToInt64 ? "Cast" : "Identity");
  if (castToInt64) node.Message(5, Proto().Bytes(1, "to").Varint(3, 7).Varint(20, 2));
  const Proto graph =
      Proto().Message(1, node).Bytes(2, "g").Message(11, ValueInfo("x", 1)).Message(12, ValueInfo("y", castToInt64 ? 7 : 1));
  return Proto().Varint(1, 8).Message(8, Proto().Bytes(1, "").Varint(2, 13)).Message(7, graph).bytes;
}

}  // namespace scrivane::test
