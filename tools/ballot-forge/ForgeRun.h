#pragma once
// One forge run: a template and a list of fills become scan files plus
// "truth.json" in the output folder.
#include <cstdint>
#include <string>
#include <vector>

#include "ForgeBallot.h"

namespace korvex::forge {

struct TForgeOptions {
    std::string OutputFolder;
    std::uint64_t Seed = 1;
    int Dpi = 300;
    int QuarterTurns = -1;       // -1: a random quarter turn per ballot
    double MaxSkewDegrees = 1.5;
    double MaxShiftMm = 3.0;
    double Perspective = 0.0;    // external ballots: keystone up to this strength
    double NoiseSigma = 6.0;
    double Blur = 0.12;
    std::string Format = "png";  // bmp, png or jpg
    int Quality = 90;            // JPEG quality
    std::string Prefix = "scan_";
};

// Writes one scan per fill and the ground truth; returns the scans written.
// A page renderer is given so that standard and external ballots share it.
std::vector<TForgedScan> ForgeScans(const TBallotTemplate& ATemplate, const QImage& blankPage,
                                    const std::vector<TBallotFill>& fills, const TForgeOptions& options);

// Fills from a marks file (blank lines and lines starting with "#" skipped).
std::vector<TBallotFill> ReadFillFile(const std::string& fileName, const TBallotTemplate& ATemplate);

// Saves through Qt's writers (BMP as 24-bit); raises EFileError on failure.
void SaveScanImage(const QImage& image, const std::string& fileName, const std::string& format, int quality, int dpi);

}  // namespace korvex::forge
