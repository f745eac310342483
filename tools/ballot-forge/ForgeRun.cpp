#include "ForgeRun.h"

#include <filesystem>
#include <fstream>

#include <QImageWriter>

#include "model/Errors.h"
#include "model/TextUtil.h"

namespace korvex::forge {

void SaveScanImage(const QImage& image, const std::string& fileName, const std::string& format, int quality, int dpi) {
    QImage out = image.convertToFormat(format == "bmp" ? QImage::Format_RGB888 : QImage::Format_RGB32);
    const int dotsPerMetre = static_cast<int>(std::lround(dpi / 0.0254));
    out.setDotsPerMeterX(dotsPerMetre);
    out.setDotsPerMeterY(dotsPerMetre);
    QImageWriter writer(QString::fromStdString(fileName), format == "jpg" ? "jpeg" : QByteArray(format.c_str()));
    if (format == "jpg") writer.setQuality(quality);
    // Scanner noise makes deflate slow at Qt's default level; a light level
    // writes the same pixels about three times faster.
    if (format == "png") writer.setCompression(12);
    if (!writer.write(out)) throw EFileError("无法写入文件 \"" + fileName + "\": " + writer.errorString().toStdString());
}

std::vector<TBallotFill> ReadFillFile(const std::string& fileName, const TBallotTemplate& t) {
    std::ifstream in(fileName);
    if (!in) RaiseFileError("无法打开文件", fileName, errno);
    std::vector<TBallotFill> fills;
    std::string line;
    while (std::getline(in, line)) {
        const std::string_view trimmed = TrimBlanks(line);
        if (trimmed.empty() || trimmed.front() == '#') continue;
        fills.push_back(ParseFillLine(std::string(trimmed), t));
    }
    return fills;
}

std::vector<TForgedScan> ForgeScans(const TBallotTemplate& t, const QImage& blankPage,
                                    const std::vector<TBallotFill>& fills, const TForgeOptions& o) {
    if (o.Format != "bmp" && o.Format != "png" && o.Format != "jpg")
        throw EKorvexError("输出格式只允许 bmp、png 或 jpg：" + o.Format);
    if (o.Dpi < 50 || o.Dpi > 1200) throw EKorvexError(Format("分辨率无效：%d", o.Dpi));
    std::error_code error;
    std::filesystem::create_directories(o.OutputFolder, error);
    if (error) RaiseFileError("无法创建文件夹", o.OutputFolder, error.value());

    std::vector<TForgedScan> scans;
    for (std::size_t i = 0; i < fills.size(); ++i) {
        TForgeRandom rng(StreamSeed(o.Seed, i));
        TForgedScan scan;
        scan.Fill = fills[i];
        scan.FileName = Format("%s%06zu.%s", o.Prefix.c_str(), i + 1, o.Format.c_str());
        scan.Scan.Dpi = o.Dpi;
        scan.Scan.QuarterTurns = o.QuarterTurns >= 0 ? o.QuarterTurns % 4 : rng.Int(0, 3);
        RandomizeScan(scan.Scan, rng, o.MaxSkewDegrees, o.MaxShiftMm);
        scan.Scan.Perspective = o.Perspective > 0 ? rng.Uniform(0.3, 1.0) * o.Perspective : 0.0;
        scan.Scan.NoiseSigma = o.NoiseSigma;
        scan.Scan.Blur = o.Blur;

        QImage page = blankPage.copy();
        DrawFill(page, t, scan.Fill, rng);
        TScanResult result = ScanPage(page, scan.Scan, rng);
        scan.PageToScan = result.PageToScan;
        scan.Width = result.Image.width();
        scan.Height = result.Image.height();
        SaveScanImage(result.Image, (std::filesystem::path(o.OutputFolder) / scan.FileName).string(), o.Format,
                      o.Quality, o.Dpi);
        scans.push_back(std::move(scan));
    }
    const std::string truthFile = (std::filesystem::path(o.OutputFolder) / "truth.json").string();
    std::ofstream truth(truthFile, std::ios::binary);
    truth << GroundTruthJson(t, o.Seed, scans);
    if (!truth.flush()) RaiseFileError("无法写入文件", truthFile, errno);
    return scans;
}

}  // namespace korvex::forge
