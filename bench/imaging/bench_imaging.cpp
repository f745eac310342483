// Times the image core on full ballot pages at 300 and 600 dpi, stored as
// BMP, PNG and JPEG. Each figure is the median of several runs.
//
// Goals: FindCornerBlocks + ReadTemplateCode under 30 ms at 300 dpi on one
// core; loading a 600-dpi JPEG under 400 ms; a 600-dpi BMP load close to the
// time of reading its bytes.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <string>
#include <vector>

#include "TestImages.h"
#include "imaging/uImageCore.h"

using namespace korvex;

namespace {

double MedianMs(int runs, const std::function<void()>& work) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// A standard page at `scale` × the 300-dpi grid, with a frame inside it and
// some grey text blocks, so the loaders see realistic content.
TRaster DrawPage(double scale) {
    auto s = [&](double v) { return static_cast<int>(v * scale + 0.5); };
    TRaster page(s(2480), s(3508), 255);
    for (int cx : {140, 2340})
        for (int cy : {140, 3368}) test::FillRect(page, s(cx - 37), s(cy - 37), s(cx + 37), s(cy + 37), 0);
    test::DrawCodeGrid(page, 0x5EED1234u, scale);
    test::DrawFrame(page, s(240), s(560), s(2240), s(3200), s(4));
    for (int row = 0; row < 12; ++row)
        for (int col = 0; col < 6; ++col)
            test::FillRect(page, s(300 + 320 * col), s(640 + 200 * row), s(520 + 320 * col), s(680 + 200 * row), 90);
    return page;
}

// The plain cost of getting the file's bytes into fresh memory.
std::size_t ReadBytes(const std::string& fileName) {
    const int fd = ::open(fileName.c_str(), O_RDONLY);
    struct stat info {};
    ::fstat(fd, &info);
    std::vector<char> bytes(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    for (ssize_t got; done < bytes.size() && (got = ::read(fd, bytes.data() + done, bytes.size() - done)) > 0;)
        done += static_cast<std::size_t>(got);
    ::close(fd);
    return done;
}

void Print(const char* name, double value, const char* unit) { std::printf("%s = %.2f %s\n", name, value, unit); }

}  // namespace

int main() {
    test::TTempDir dir;
    const TImageLimits limits;
    std::printf("# goals: corner+code at 300 dpi < 30 ms; 600-dpi JPEG load < 400 ms; 600-dpi BMP load ~ read time\n");
    for (int dpi : {300, 600}) {
        const TRaster page = DrawPage(dpi / 300.0);
        const std::string tag = std::to_string(dpi) + "dpi";
        const std::string bmp = dir.File(tag + ".bmp"), png = dir.File(tag + ".png"), jpg = dir.File(tag + ".jpg");
        SaveBitmap24(page, bmp);
        test::WriteFile(png, test::EncodePng(page, test::pkRgb8));
        test::WriteFile(jpg, test::EncodeJpeg(page, 90));
        const int runs = dpi == 300 ? 7 : 5;

        // The floor every loader pays: a fresh raster of the page's size, touched once.
        Print(("new_raster_" + tag).c_str(), MedianMs(runs, [&] { (void)TRaster(page.Width, page.Height, 255); }), "ms");
        Print(("read_bytes_bmp_" + tag).c_str(), MedianMs(runs, [&] { (void)ReadBytes(bmp); }), "ms");
        for (const auto& [format, file] : {std::pair<std::string, std::string>{"bmp", bmp}, {"png", png}, {"jpeg", jpg}}) {
            Print(("load_" + format + "_" + tag).c_str(),
                  MedianMs(runs, [&, f = file] { (void)LoadWorkingBitmap(f, limits); }), "ms");
        }

        bool ok = true;
        const double cornerMs = MedianMs(runs * 2, [&] {
            TCornerSet corners;
            std::uint32_t code = 0;
            ok = FindCornerBlocks(page, corners) && ReadTemplateCode(page, OrderCorners(corners, 0), code) &&
                 code == 0x5EED1234u;
        });
        if (!ok) std::printf("# corner search or code reading FAILED at %d dpi\n", dpi);
        Print(("corner_blocks_and_code_" + tag).c_str(), cornerMs, "ms");

        const TRect frame{240, 560, 2240, 3200};  // reference = the 300-dpi page
        const double frameMs = MedianMs(runs, [&] {
            int rotation = 0;
            TFrameQuad quad;
            ok = FindExternalFrame(page, 2480, 3508, frame, rotation, quad);
        });
        if (!ok) std::printf("# frame search FAILED at %d dpi\n", dpi);
        Print(("find_external_frame_" + tag).c_str(), frameMs, "ms");
    }
    return 0;
}
