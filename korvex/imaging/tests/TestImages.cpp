#include "TestImages.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <tuple>

#include <jpeglib.h>
#include <png.h>

namespace korvex::test {

void FillRect(TRaster& r, int left, int top, int right, int bottom, std::uint8_t grey) {
    for (int y = std::max(top, 0); y < std::min(bottom, r.Height); ++y)
        for (int x = std::max(left, 0); x < std::min(right, r.Width); ++x) SetPixel(r, x, y, grey, grey, grey);
}

void SetPixel(TRaster& r, int x, int y, std::uint8_t b, std::uint8_t g, std::uint8_t red) {
    if (x < 0 || y < 0 || x >= r.Width || y >= r.Height) return;
    std::uint8_t* p = r.Row(y) + 3 * static_cast<std::size_t>(x);
    p[0] = b;
    p[1] = g;
    p[2] = red;
}

namespace {

void StampDisc(TRaster& r, double cx, double cy, double radius, std::uint8_t grey) {
    const int x0 = static_cast<int>(std::floor(cx - radius)), x1 = static_cast<int>(std::ceil(cx + radius));
    const int y0 = static_cast<int>(std::floor(cy - radius)), y1 = static_cast<int>(std::ceil(cy + radius));
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius) SetPixel(r, x, y, grey, grey, grey);
}

}  // namespace

void DrawLine(TRaster& r, double x0, double y0, double x1, double y1, double radius, std::uint8_t grey) {
    const double len = std::hypot(x1 - x0, y1 - y0);
    const int steps = std::max(1, static_cast<int>(len * 2));
    for (int i = 0; i <= steps; ++i) {
        const double t = static_cast<double>(i) / steps;
        StampDisc(r, x0 + (x1 - x0) * t, y0 + (y1 - y0) * t, radius, grey);
    }
}

void DrawEllipse(TRaster& r, double cx, double cy, double rx, double ry, double radius, std::uint8_t grey) {
    const int steps = std::max(16, static_cast<int>(2 * 3.14159265 * std::max(rx, ry) * 2));
    for (int i = 0; i < steps; ++i) {
        const double t = 2 * 3.14159265358979 * i / steps;
        StampDisc(r, cx + rx * std::cos(t), cy + ry * std::sin(t), radius, grey);
    }
}

void DrawFrame(TRaster& r, int left, int top, int right, int bottom, int thickness, std::uint8_t grey) {
    FillRect(r, left, top, right, top + thickness, grey);
    FillRect(r, left, bottom - thickness, right, bottom, grey);
    FillRect(r, left, top, left + thickness, bottom, grey);
    FillRect(r, right - thickness, top, right, bottom, grey);
}

TRaster RotateClockwise(const TRaster& r) {
    TRaster out(r.Height, r.Width);
    for (int y = 0; y < r.Height; ++y)
        for (int x = 0; x < r.Width; ++x)
            std::memcpy(out.Row(x) + 3 * static_cast<std::size_t>(r.Height - 1 - y), r.Row(y) + 3 * static_cast<std::size_t>(x), 3);
    return out;
}

TRaster Rotate180(const TRaster& r) {
    TRaster out(r.Width, r.Height);
    for (int y = 0; y < r.Height; ++y)
        for (int x = 0; x < r.Width; ++x)
            std::memcpy(out.Row(r.Height - 1 - y) + 3 * static_cast<std::size_t>(r.Width - 1 - x),
                        r.Row(y) + 3 * static_cast<std::size_t>(x), 3);
    return out;
}

TRaster HalfSize(const TRaster& r) {
    TRaster out(r.Width / 2, r.Height / 2);
    for (int y = 0; y < out.Height; ++y)
        for (int x = 0; x < out.Width; ++x)
            for (int c = 0; c < 3; ++c) {
                int sum = r.Row(2 * y)[6 * x + c] + r.Row(2 * y)[6 * x + 3 + c] + r.Row(2 * y + 1)[6 * x + c] +
                          r.Row(2 * y + 1)[6 * x + 3 + c];
                out.Row(y)[3 * x + c] = static_cast<std::uint8_t>((sum + 2) / 4);
            }
    return out;
}

bool CodeCellBlack(std::uint32_t code, int col, int row) {
    if (row == 0 || row == 7 || col == 0 || col == 7) return true;
    const int k = (row - 1) * 6 + (col - 1);
    if (k < 32) return ((code >> k) & 1u) != 0;
    return ((CodeCheckNibble(code) >> (k - 32)) & 1u) != 0;
}

void DrawCodeGrid(TRaster& page, std::uint32_t code, double scale) {
    auto s = [&](double v) { return static_cast<int>(std::lround(v * scale)); };
    FillRect(page, s(2040), s(280), s(2240), s(480), 255);
    for (int row = 0; row < 8; ++row)
        for (int col = 0; col < 8; ++col)
            if (CodeCellBlack(code, col, row))
                FillRect(page, s(2040 + 25 * col), s(280 + 25 * row), s(2040 + 25 * (col + 1)), s(280 + 25 * (row + 1)), 0);
}

TRaster DrawStandardPage(std::uint32_t code) {
    TRaster page(2480, 3508, 255);
    for (int cx : {140, 2340})
        for (int cy : {140, 3368}) FillRect(page, cx - 37, cy - 37, cx + 37, cy + 37, 0);
    DrawCodeGrid(page, code);
    return page;
}

TRaster MakeTestPicture(int width, int height, int colours) {
    TRaster r(width, height);
    // A fixed table of distinct colours for palette pictures.
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = r.Row(y) + 3 * static_cast<std::size_t>(x);
            if (colours == 0) {
                // Smooth gradients (kind to JPEG) with one dark and one light block.
                p[0] = static_cast<std::uint8_t>(x * 255 / std::max(width - 1, 1));
                p[1] = static_cast<std::uint8_t>(y * 255 / std::max(height - 1, 1));
                p[2] = static_cast<std::uint8_t>((x + y) * 255 / std::max(width + height - 2, 1));
                if (x >= width / 4 && x < width / 2 && y >= height / 4 && y < height / 2) p[0] = p[1] = p[2] = 20;
                if (x >= width / 2 && x < 3 * width / 4 && y >= height / 2 && y < 3 * height / 4) p[0] = p[1] = p[2] = 235;
            } else {
                unsigned idx = static_cast<unsigned>(x / 3 + y / 2 * 5) % static_cast<unsigned>(colours);
                p[0] = static_cast<std::uint8_t>(idx * 37 + 11);
                p[1] = static_cast<std::uint8_t>(idx * 91 + 3);
                p[2] = static_cast<std::uint8_t>(255 - idx * 13);
            }
        }
    return r;
}

namespace {

void Put16(std::string& s, std::uint32_t v) {
    s.push_back(static_cast<char>(v & 0xFF));
    s.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void Put32(std::string& s, std::uint32_t v) {
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}

}  // namespace

std::string EncodeBmp(const TRaster& r, const TBmpOptions& o) {
    using Colour = std::tuple<std::uint8_t, std::uint8_t, std::uint8_t>;
    std::map<Colour, int> index;
    std::vector<Colour> palette;
    if (o.Bits <= 8) {
        for (int y = 0; y < r.Height; ++y)
            for (int x = 0; x < r.Width; ++x) {
                const std::uint8_t* p = r.Row(y) + 3 * x;
                Colour c{p[0], p[1], p[2]};
                if (index.emplace(c, static_cast<int>(palette.size())).second) palette.push_back(c);
            }
        if (palette.size() > (1u << o.Bits)) throw std::runtime_error("too many colours for the BMP depth");
    }
    const std::size_t stride = (static_cast<std::size_t>(r.Width) * o.Bits + 31) / 32 * 4;
    std::string pixels(stride * r.Height, '\0');
    for (int y = 0; y < r.Height; ++y) {
        const int fileRow = o.TopDown ? y : r.Height - 1 - y;
        auto* dst = reinterpret_cast<std::uint8_t*>(pixels.data() + fileRow * stride);
        for (int x = 0; x < r.Width; ++x) {
            const std::uint8_t* p = r.Row(y) + 3 * x;
            const std::uint32_t b = p[0], g = p[1], red = p[2];
            switch (o.Bits) {
            case 1:
            case 4:
            case 8: {
                const unsigned i = static_cast<unsigned>(index[Colour{p[0], p[1], p[2]}]);
                const std::size_t bit = static_cast<std::size_t>(x) * o.Bits;
                dst[bit / 8] = static_cast<std::uint8_t>(dst[bit / 8] | (i << (8 - o.Bits - bit % 8)));
                break;
            }
            case 16: {
                const std::uint32_t v = o.Bitfields ? ((red >> 3) << 11) | ((g >> 2) << 5) | (b >> 3)
                                                    : ((red >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
                dst[2 * x] = static_cast<std::uint8_t>(v);
                dst[2 * x + 1] = static_cast<std::uint8_t>(v >> 8);
                break;
            }
            case 24: std::memcpy(dst + 3 * x, p, 3); break;
            case 32: {
                const std::uint32_t a = o.Alpha.empty() ? 0 : o.Alpha[static_cast<std::size_t>(y) * r.Width + x];
                const std::uint32_t v = o.Bitfields ? (b << 16) | (g << 8) | red | (a << 24)
                                                    : (red << 16) | (g << 8) | b | (a << 24);
                std::memcpy(dst + 4 * x, &v, 4);
                break;
            }
            }
        }
    }
    const bool core = o.HeaderSize == 12;
    const bool masks = (o.Bits == 16 || o.Bits == 32) && (o.Bitfields || !o.Alpha.empty());
    std::string info;
    Put32(info, static_cast<std::uint32_t>(o.HeaderSize));
    if (core) {
        Put16(info, static_cast<std::uint32_t>(r.Width));
        Put16(info, static_cast<std::uint32_t>(o.TopDown ? -r.Height : r.Height));
        Put16(info, 1);
        Put16(info, static_cast<std::uint32_t>(o.Bits));
    } else {
        Put32(info, static_cast<std::uint32_t>(r.Width));
        Put32(info, static_cast<std::uint32_t>(o.TopDown ? -r.Height : r.Height));
        Put16(info, 1);
        Put16(info, static_cast<std::uint32_t>(o.Bits));
        Put32(info, masks ? 3 : 0);
        Put32(info, static_cast<std::uint32_t>(pixels.size()));
        Put32(info, 2835);
        Put32(info, 2835);
        Put32(info, static_cast<std::uint32_t>(palette.size()));
        Put32(info, 0);
        std::string maskBytes;
        if (masks) {
            if (o.Bits == 16) {
                Put32(maskBytes, 0xF800);
                Put32(maskBytes, 0x07E0);
                Put32(maskBytes, 0x001F);
            } else {
                Put32(maskBytes, o.Bitfields ? 0x000000FFu : 0x00FF0000u);
                Put32(maskBytes, 0x0000FF00u);
                Put32(maskBytes, o.Bitfields ? 0x00FF0000u : 0x000000FFu);
            }
            if (o.HeaderSize >= 56) Put32(maskBytes, o.Alpha.empty() ? 0 : 0xFF000000u);
        }
        info += maskBytes;  // inside a V4/V5 header, after a 40-byte one
        if (static_cast<int>(info.size()) < o.HeaderSize && o.HeaderSize > 40) info.resize(static_cast<std::size_t>(o.HeaderSize), '\0');
    }
    for (const Colour& c : palette) {
        info.push_back(static_cast<char>(std::get<0>(c)));
        info.push_back(static_cast<char>(std::get<1>(c)));
        info.push_back(static_cast<char>(std::get<2>(c)));
        if (!core) info.push_back('\0');
    }
    std::string file = "BM";
    Put32(file, static_cast<std::uint32_t>(14 + info.size() + pixels.size()));
    Put32(file, 0);
    Put32(file, static_cast<std::uint32_t>(14 + info.size()));
    return file + info + pixels;
}

namespace {

void PngFail(png_structp, png_const_charp message) {
    std::fprintf(stderr, "test PNG encoder: %s\n", message);
    std::abort();
}

void PngWrite(png_structp png, png_bytep data, png_size_t length) {
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), length);
}

}  // namespace

std::string EncodePng(const TRaster& r, TPngKind kind, bool interlaced, const std::vector<std::uint8_t>& alpha) {
    std::string out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, &PngFail, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, &PngWrite, nullptr);
    int colorType = PNG_COLOR_TYPE_RGB, depth = 8, channels = 3;
    switch (kind) {
    case pkRgb8: break;
    case pkRgba8: colorType = PNG_COLOR_TYPE_RGB_ALPHA, channels = 4; break;
    case pkPalette:
    case pkPaletteTrns: colorType = PNG_COLOR_TYPE_PALETTE, channels = 1; break;
    case pkGrey8: colorType = PNG_COLOR_TYPE_GRAY, channels = 1; break;
    case pkGrey16: colorType = PNG_COLOR_TYPE_GRAY, channels = 1, depth = 16; break;
    case pkRgb16: depth = 16; break;
    case pkGreyAlpha8: colorType = PNG_COLOR_TYPE_GRAY_ALPHA, channels = 2; break;
    }
    png_set_IHDR(png, info, static_cast<png_uint_32>(r.Width), static_cast<png_uint_32>(r.Height), depth, colorType,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    auto alphaAt = [&](int x, int y) { return alpha.empty() ? 255 : alpha[static_cast<std::size_t>(y) * r.Width + x]; };
    std::vector<std::vector<std::uint8_t>> rows(static_cast<std::size_t>(r.Height));
    std::map<std::uint32_t, int> index;  // (alpha << 24 | rgb) → palette entry
    std::vector<png_color> colours;
    std::vector<png_byte> trns;
    for (int y = 0; y < r.Height; ++y) {
        auto& row = rows[static_cast<std::size_t>(y)];
        row.resize(static_cast<std::size_t>(r.Width) * channels * (depth / 8));
        for (int x = 0; x < r.Width; ++x) {
            const std::uint8_t* p = r.Row(y) + 3 * x;
            const std::uint8_t a = static_cast<std::uint8_t>(alphaAt(x, y));
            std::uint8_t* d = row.data() + static_cast<std::size_t>(x) * channels * (depth / 8);
            switch (kind) {
            case pkRgb8: d[0] = p[2], d[1] = p[1], d[2] = p[0]; break;
            case pkRgba8: d[0] = p[2], d[1] = p[1], d[2] = p[0], d[3] = a; break;
            case pkGrey8: d[0] = p[1]; break;
            case pkGreyAlpha8: d[0] = p[1], d[1] = a; break;
            case pkGrey16: d[0] = d[1] = p[1]; break;  // v · 257
            case pkRgb16:
                d[0] = d[1] = p[2];
                d[2] = d[3] = p[1];
                d[4] = d[5] = p[0];
                break;
            case pkPalette:
            case pkPaletteTrns: {
                const std::uint32_t key = (std::uint32_t{kind == pkPaletteTrns ? a : std::uint8_t{255}} << 24) |
                                          (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | p[0];
                auto [it, added] = index.emplace(key, static_cast<int>(colours.size()));
                if (added) {
                    colours.push_back(png_color{p[2], p[1], p[0]});
                    trns.push_back(static_cast<png_byte>(key >> 24));
                }
                d[0] = static_cast<std::uint8_t>(it->second);
                break;
            }
            }
        }
    }
    if (colorType == PNG_COLOR_TYPE_PALETTE) {
        if (colours.size() > 256) PngFail(png, "too many colours");
        png_set_PLTE(png, info, colours.data(), static_cast<int>(colours.size()));
        if (kind == pkPaletteTrns) png_set_tRNS(png, info, trns.data(), static_cast<int>(trns.size()), nullptr);
    }
    std::vector<png_bytep> pointers;
    for (auto& row : rows) pointers.push_back(row.data());
    png_set_rows(png, info, pointers.data());
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

std::string EncodeJpeg(const TRaster& r, int quality, bool grey, bool progressive, bool cmyk) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(r.Width);
    cinfo.image_height = static_cast<JDIMENSION>(r.Height);
    cinfo.input_components = grey ? 1 : (cmyk ? 4 : 3);
    cinfo.in_color_space = grey ? JCS_GRAYSCALE : (cmyk ? JCS_CMYK : JCS_EXT_BGR);
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    if (progressive) jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(r.Width) * 4);
    while (cinfo.next_scanline < cinfo.image_height) {
        const std::uint8_t* src = r.Row(static_cast<int>(cinfo.next_scanline));
        for (int x = 0; x < r.Width; ++x) {
            if (grey) row[x] = src[3 * x + 1];
            else if (cmyk) {
                // Adobe-style inverted CMYK without black ink: C' = R, M' = G, Y' = B, K' = 255.
                row[4 * x] = src[3 * x + 2];
                row[4 * x + 1] = src[3 * x + 1];
                row[4 * x + 2] = src[3 * x];
                row[4 * x + 3] = 255;
            } else std::memcpy(&row[3 * x], src + 3 * x, 3);
        }
        JSAMPROW p = row.data();
        jpeg_write_scanlines(&cinfo, &p, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::string out(reinterpret_cast<const char*>(buffer), size);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return out;
}

TTempDir::TTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "korvex-imaging-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    FPath = pattern;
}

TTempDir::~TTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
}

void WriteFile(const std::string& fileName, const std::string& bytes) {
    std::ofstream f(fileName, std::ios::binary);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!f) throw std::runtime_error("cannot write " + fileName);
}

std::string ReadFile(const std::string& fileName) {
    std::ifstream f(fileName, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

}  // namespace korvex::test
