#include "TestTiff.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>

#include <tiffio.h>

namespace korvex::test {
namespace {

// The file being written, in memory.
struct TOutput {
    std::string Bytes;
    std::uint64_t Pos = 0;
    std::string Error;
};

TOutput& Out(thandle_t h) { return *static_cast<TOutput*>(h); }

tmsize_t OnRead(thandle_t h, void* buf, tmsize_t size) {
    TOutput& o = Out(h);
    if (o.Pos >= o.Bytes.size()) return 0;
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(size), o.Bytes.size() - o.Pos);
    std::memcpy(buf, o.Bytes.data() + o.Pos, n);
    o.Pos += n;
    return static_cast<tmsize_t>(n);
}
tmsize_t OnWrite(thandle_t h, void* buf, tmsize_t size) {
    TOutput& o = Out(h);
    const std::size_t n = static_cast<std::size_t>(size);
    if (o.Bytes.size() < o.Pos + n) o.Bytes.resize(o.Pos + n);
    std::memcpy(o.Bytes.data() + o.Pos, buf, n);
    o.Pos += n;
    return size;
}
toff_t OnSeek(thandle_t h, toff_t off, int whence) {
    TOutput& o = Out(h);
    o.Pos = (whence == SEEK_CUR ? o.Pos : whence == SEEK_END ? o.Bytes.size() : 0) + off;
    return o.Pos;
}
int OnClose(thandle_t) { return 0; }
toff_t OnSize(thandle_t h) { return Out(h).Bytes.size(); }
int OnMap(thandle_t, void**, toff_t*) { return 0; }
void OnUnmap(thandle_t, void*, toff_t) {}
int OnError(TIFF*, void* user, const char*, const char* fmt, va_list ap) {
    char text[512];
    std::vsnprintf(text, sizeof text, fmt, ap);
    auto* o = static_cast<TOutput*>(user);
    if (o->Error.empty()) o->Error = text;
    return 1;
}
int OnWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

int GreyOfPixel(const std::uint8_t* p) { return (30 * p[2] + 59 * p[1] + 11 * p[0]) / 100; }

// One row of stored samples for the page's pixel kind.
std::vector<std::uint8_t> StoredRow(const TTiffPage& page, int y, const std::map<std::uint32_t, int>& palette) {
    const TRaster& r = page.Picture;
    std::vector<std::uint8_t> row;
    const std::uint8_t* src = r.Row(y);
    switch (page.Pixels) {
    case tpBilevel:
        row.assign(static_cast<std::size_t>((r.Width + 7) / 8), 0);
        for (int x = 0; x < r.Width; ++x) {
            const bool black = GreyOfPixel(src + 3 * x) < 128;
            if (black == page.MinIsWhite) row[static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
        }
        break;
    case tpGrey8:
        for (int x = 0; x < r.Width; ++x) {
            const int g = GreyOfPixel(src + 3 * x);
            row.push_back(static_cast<std::uint8_t>(page.MinIsWhite ? 255 - g : g));
        }
        break;
    case tpGrey16:
        for (int x = 0; x < r.Width; ++x) {
            // Samples go to libtiff in host byte order.
            const std::uint16_t v = static_cast<std::uint16_t>(GreyOfPixel(src + 3 * x) * 257);
            std::uint8_t bytes[2];
            std::memcpy(bytes, &v, 2);
            row.insert(row.end(), bytes, bytes + 2);
        }
        break;
    case tpRgb8:
    case tpRgba8:
        for (int x = 0; x < r.Width; ++x) {
            row.insert(row.end(), {src[3 * x + 2], src[3 * x + 1], src[3 * x]});
            if (page.Pixels == tpRgba8)
                row.push_back(page.Alpha.at(static_cast<std::size_t>(y) * static_cast<std::size_t>(r.Width) + x));
        }
        break;
    case tpPalette8:
        for (int x = 0; x < r.Width; ++x) {
            const std::uint32_t key = src[3 * x] | (src[3 * x + 1] << 8) | (src[3 * x + 2] << 16);
            row.push_back(static_cast<std::uint8_t>(palette.at(key)));
        }
        break;
    case tpCmyk8:
        for (int x = 0; x < r.Width; ++x)
            row.insert(row.end(), {static_cast<std::uint8_t>(255 - src[3 * x + 2]),
                                   static_cast<std::uint8_t>(255 - src[3 * x + 1]),
                                   static_cast<std::uint8_t>(255 - src[3 * x]), 0});
        break;
    }
    return row;
}

void SetFields(TIFF* tif, const TTiffPage& page, int index, int pageCount, std::map<std::uint32_t, int>& palette) {
    const TRaster& r = page.Picture;
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, page.Reduced ? FILETYPE_REDUCEDIMAGE : (pageCount > 1 ? FILETYPE_PAGE : 0));
    if (pageCount > 1) TIFFSetField(tif, TIFFTAG_PAGENUMBER, index, pageCount);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(r.Width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(r.Height));
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    const struct {
        int bits, samples, photometric;
    } kinds[] = {{1, 1, PHOTOMETRIC_MINISBLACK}, {8, 1, PHOTOMETRIC_MINISBLACK}, {16, 1, PHOTOMETRIC_MINISBLACK},
                 {8, 3, PHOTOMETRIC_RGB},        {8, 4, PHOTOMETRIC_RGB},        {8, 1, PHOTOMETRIC_PALETTE},
                 {8, 4, PHOTOMETRIC_SEPARATED}};
    const auto& k = kinds[page.Pixels];
    int photometric = k.photometric;
    if (page.MinIsWhite && (page.Pixels == tpBilevel || page.Pixels == tpGrey8)) photometric = PHOTOMETRIC_MINISWHITE;
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, k.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, k.samples);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, page.Compression);
    if (page.Compression == COMPRESSION_JPEG) {
        TIFFSetField(tif, TIFFTAG_JPEGQUALITY, 92);
    }
    if (page.Compression == COMPRESSION_JPEG && page.Pixels == tpRgb8) photometric = PHOTOMETRIC_YCBCR;
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
    // YCbCr pages take RGB rows; libtiff converts and subsamples them.
    if (photometric == PHOTOMETRIC_YCBCR) TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    if (page.Predictor != 1) TIFFSetField(tif, TIFFTAG_PREDICTOR, page.Predictor);
    if (page.Pixels == tpRgba8) {
        const std::uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    if (page.Pixels == tpCmyk8) TIFFSetField(tif, TIFFTAG_INKSET, INKSET_CMYK);
    if (page.Pixels == tpPalette8) {
        std::vector<std::uint16_t> red(256, 0), green(256, 0), blue(256, 0);
        palette.clear();
        for (int y = 0; y < r.Height; ++y)
            for (int x = 0; x < r.Width; ++x) {
                const std::uint8_t* p = r.Row(y) + 3 * x;
                const std::uint32_t key = p[0] | (p[1] << 8) | (p[2] << 16);
                if (palette.count(key)) continue;
                const int i = static_cast<int>(palette.size());
                if (i >= 256) throw std::runtime_error("more than 256 colours for a palette page");
                palette[key] = i;
                red[i] = static_cast<std::uint16_t>(p[2] * 257);
                green[i] = static_cast<std::uint16_t>(p[1] * 257);
                blue[i] = static_cast<std::uint16_t>(p[0] * 257);
            }
        TIFFSetField(tif, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
    }
    if (page.Dpi > 0) {
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, static_cast<float>(page.Dpi));
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, static_cast<float>(page.Dpi));
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    }
    TIFFSetField(tif, TIFFTAG_SOFTWARE, "Korvex tests");
}

void WritePixels(TIFF* tif, const TTiffPage& page, const std::map<std::uint32_t, int>& palette) {
    const TRaster& r = page.Picture;
    std::vector<std::vector<std::uint8_t>> rows;
    for (int y = 0; y < r.Height; ++y) rows.push_back(StoredRow(page, y, palette));
    const std::size_t rowBytes = rows.front().size();
    if (page.TileSize > 0) {
        const int t = page.TileSize;
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, t);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, t);
        const std::size_t pixelBytes = page.Pixels == tpBilevel ? 0 : rowBytes / static_cast<std::size_t>(r.Width);
        const std::size_t tileRow = page.Pixels == tpBilevel ? static_cast<std::size_t>(t / 8) : pixelBytes * t;
        std::vector<std::uint8_t> tile(tileRow * static_cast<std::size_t>(t));
        for (int ty = 0; ty < r.Height; ty += t)
            for (int tx = 0; tx < r.Width; tx += t) {
                std::fill(tile.begin(), tile.end(), 0);
                for (int y = 0; y < t && ty + y < r.Height; ++y) {
                    const std::vector<std::uint8_t>& row = rows[static_cast<std::size_t>(ty + y)];
                    const std::size_t from = page.Pixels == tpBilevel ? static_cast<std::size_t>(tx / 8) : pixelBytes * tx;
                    const std::size_t n = std::min(tileRow, row.size() - from);
                    std::memcpy(tile.data() + static_cast<std::size_t>(y) * tileRow, row.data() + from, n);
                }
                if (TIFFWriteTile(tif, tile.data(), static_cast<std::uint32_t>(tx), static_cast<std::uint32_t>(ty), 0, 0) < 0)
                    throw std::runtime_error("cannot write a tile");
            }
        return;
    }
    const int perStrip = page.RowsPerStrip > 0 ? page.RowsPerStrip : r.Height;
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, perStrip);
    for (int y = 0, strip = 0; y < r.Height; y += perStrip, ++strip) {
        std::vector<std::uint8_t> data;
        for (int i = y; i < std::min(r.Height, y + perStrip); ++i)
            data.insert(data.end(), rows[static_cast<std::size_t>(i)].begin(), rows[static_cast<std::size_t>(i)].end());
        if (TIFFWriteEncodedStrip(tif, static_cast<std::uint32_t>(strip), data.data(), static_cast<tmsize_t>(data.size())) < 0)
            throw std::runtime_error("cannot write a strip");
    }
}

}  // namespace

TTiffPage TiffPage(const TRaster& picture, TTiffPixels pixels, int compression, bool minIsWhite) {
    TTiffPage page;
    page.Picture = picture;
    page.Pixels = pixels;
    page.Compression = compression;
    page.MinIsWhite = minIsWhite;
    return page;
}

std::string EncodeTiff(const std::vector<TTiffPage>& pages, const char* mode) {
    TOutput out;
    std::unique_ptr<TIFFOpenOptions, void (*)(TIFFOpenOptions*)> options(TIFFOpenOptionsAlloc(), &TIFFOpenOptionsFree);
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), &OnError, &out);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), &OnWarning, &out);
    TIFF* tif = TIFFClientOpenExt("test.tif", mode, &out, &OnRead, &OnWrite, &OnSeek, &OnClose, &OnSize, &OnMap,
                                  &OnUnmap, options.get());
    if (!tif) throw std::runtime_error("libtiff cannot write: " + out.Error);
    int pageCount = 0;
    for (const TTiffPage& p : pages) pageCount += p.Reduced ? 0 : 1;
    int index = 0;
    try {
        for (const TTiffPage& page : pages) {
            std::map<std::uint32_t, int> palette;
            SetFields(tif, page, index, pageCount, palette);
            WritePixels(tif, page, palette);
            if (!TIFFWriteDirectory(tif)) throw std::runtime_error("cannot write a directory");
            if (!page.Reduced) ++index;
        }
    } catch (...) {
        TIFFClose(tif);
        throw;
    }
    TIFFClose(tif);
    if (!out.Error.empty()) throw std::runtime_error("libtiff: " + out.Error);
    return out.Bytes;
}

TRaster BilevelOf(const TRaster& r) {
    TRaster out(r.Width, r.Height);
    for (int y = 0; y < r.Height; ++y)
        for (int x = 0; x < r.Width; ++x) {
            const std::uint8_t v = GreyOfPixel(r.Row(y) + 3 * x) < 128 ? 0 : 255;
            std::uint8_t* p = out.Row(y) + 3 * x;
            p[0] = p[1] = p[2] = v;
        }
    return out;
}

TRaster GreyPicture(const TRaster& r) {
    TRaster out(r.Width, r.Height);
    for (int y = 0; y < r.Height; ++y)
        for (int x = 0; x < r.Width; ++x) {
            const std::uint8_t v = static_cast<std::uint8_t>(GreyOfPixel(r.Row(y) + 3 * x));
            std::uint8_t* p = out.Row(y) + 3 * x;
            p[0] = p[1] = p[2] = v;
        }
    return out;
}

}  // namespace korvex::test
