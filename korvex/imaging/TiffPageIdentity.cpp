// The scan identity of a page of a multi-page TIFF: a hash of the page's
// stored strips or tiles and of the fields that say how to decode them, read
// straight from the file. Offsets, page numbers, dates, software and
// resolution are left out, so that a page keeps its identity when the file
// is rewritten around it (pages appended, tags changed).
#include "imaging/TiffFile.h"
#include "model/uBallotTypes.h"

namespace korvex::detail {

namespace {

// Little-endian pieces for the page identity, the same on every machine.
struct TIdentityFeed {
    TScanUIDHash& Hash;
    void Tag(std::uint32_t tag) { Number(tag); }
    void Number(std::uint64_t v) {
        std::uint8_t bytes[8];
        for (int i = 0; i < 8; ++i) bytes[i] = static_cast<std::uint8_t>(v >> (8 * i));
        Hash.Feed(bytes, sizeof bytes);
    }
    void Words(const std::uint16_t* values, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) Number(values[i]);
    }
};

void FeedDecodingFields(TIFF* tif, TIdentityFeed& feed) {
    const std::uint32_t wideTags[] = {TIFFTAG_IMAGEWIDTH, TIFFTAG_IMAGELENGTH, TIFFTAG_ROWSPERSTRIP,
                                      TIFFTAG_TILEWIDTH, TIFFTAG_TILELENGTH};
    for (const std::uint32_t tag : wideTags) {
        std::uint32_t v = 0;
        if (TIFFGetField(tif, tag, &v)) {
            feed.Tag(tag);
            feed.Number(v);
        }
    }
    const std::uint32_t shortTags[] = {TIFFTAG_BITSPERSAMPLE, TIFFTAG_SAMPLESPERPIXEL, TIFFTAG_COMPRESSION,
                                       TIFFTAG_PHOTOMETRIC,   TIFFTAG_FILLORDER,       TIFFTAG_PLANARCONFIG,
                                       TIFFTAG_ORIENTATION,   TIFFTAG_SAMPLEFORMAT,    TIFFTAG_INKSET};
    for (const std::uint32_t tag : shortTags) {
        std::uint16_t v = 0;
        if (TIFFGetField(tif, tag, &v)) {
            feed.Tag(tag);
            feed.Number(v);
        }
    }
    std::uint16_t compression = COMPRESSION_NONE, bits = 1;
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    std::uint16_t extraCount = 0;
    std::uint16_t* extra = nullptr;
    if (TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extra) && extra) {
        feed.Tag(TIFFTAG_EXTRASAMPLES);
        feed.Words(extra, extraCount);
    }
    std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
    if (bits <= 16 && TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue) && red && green && blue) {
        const std::size_t entries = std::size_t{1} << bits;
        feed.Tag(TIFFTAG_COLORMAP);
        feed.Words(red, entries);
        feed.Words(green, entries);
        feed.Words(blue, entries);
    }
    std::uint16_t subX = 0, subY = 0;
    if (TIFFGetField(tif, TIFFTAG_YCBCRSUBSAMPLING, &subX, &subY)) {
        feed.Tag(TIFFTAG_YCBCRSUBSAMPLING);
        feed.Number(subX);
        feed.Number(subY);
    }
    // Codec fields, asked only of the codec that knows them.
    if (compression == COMPRESSION_LZW || compression == COMPRESSION_ADOBE_DEFLATE ||
        compression == COMPRESSION_DEFLATE) {
        std::uint16_t predictor = 0;
        if (TIFFGetField(tif, TIFFTAG_PREDICTOR, &predictor)) {
            feed.Tag(TIFFTAG_PREDICTOR);
            feed.Number(predictor);
        }
    }
    if (compression == COMPRESSION_CCITTFAX3 || compression == COMPRESSION_CCITTFAX4) {
        const std::uint32_t tag = compression == COMPRESSION_CCITTFAX3 ? TIFFTAG_GROUP3OPTIONS : TIFFTAG_GROUP4OPTIONS;
        std::uint32_t v = 0;
        if (TIFFGetField(tif, tag, &v)) {
            feed.Tag(tag);
            feed.Number(v);
        }
    }
    if (compression == COMPRESSION_JPEG) {
        std::uint32_t count = 0;
        void* tables = nullptr;
        if (TIFFGetField(tif, TIFFTAG_JPEGTABLES, &count, &tables) && tables) {
            feed.Tag(TIFFTAG_JPEGTABLES);
            feed.Number(count);
            feed.Hash.Feed(tables, count);
        }
    }
}

}  // namespace

std::string TiffPageScanUID(const std::uint8_t* data, std::size_t size, int pageIndex, const TImageLimits& limits) {
    TTiffContext ctx = ContextOver(data, size);
    TTiffHandle tif = OpenTiff(ctx, limits, "rc");
    GoToPage(tif.get(), ctx, pageIndex);
    RequireWholeImageData(tif.get(), ctx);
    TScanUIDHash hash;
    static const char kMarker[] = "TIFF page";
    hash.Feed(kMarker, sizeof kMarker);
    TIdentityFeed feed{hash};
    FeedDecodingFields(tif.get(), feed);
    // The stored strips or tiles as they lie in the file.
    const std::uint32_t count = TIFFIsTiled(tif.get()) ? TIFFNumberOfTiles(tif.get()) : TIFFNumberOfStrips(tif.get());
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t offset = TIFFGetStrileOffset(tif.get(), i);
        const std::uint64_t bytes = TIFFGetStrileByteCount(tif.get(), i);
        feed.Number(bytes);
        hash.Feed(data + offset, static_cast<std::size_t>(bytes));
    }
    return hash.Finish();
}

}  // namespace korvex::detail
