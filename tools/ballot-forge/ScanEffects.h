#pragma once
// What a scanner does to a page: resolution, quarter turn, skew, shift, a mild
// perspective, grey noise and blur.
#include <QImage>
#include <QTransform>

#include "ForgeRandom.h"

namespace korvex::forge {

struct TScanSettings {
    int Dpi = 300;              // 150, 300 or 600
    int QuarterTurns = 0;       // clockwise, 0..3; the page's top-left lies at the scan's top right for 1
    double SkewDegrees = 0.0;   // positive turns the page clockwise
    double ShiftXMm = 0.0;
    double ShiftYMm = 0.0;
    double Perspective = 0.0;   // keystone strength, 0 for none (external ballots use about 0.01)
    double NoiseSigma = 0.0;    // grey levels
    double Blur = 0.0;          // 0..1: weight of the neighbours in a 3-tap blur
};

// Draws ranges typical of a flatbed scan; dpi and quarter turns stay as given.
void RandomizeScan(TScanSettings& settings, TForgeRandom& rng, double maxSkewDegrees, double maxShiftMm);

struct TScanResult {
    QImage Image;          // Format_RGB32
    QTransform PageToScan; // page units (300 per inch) to scan pixels
};

// The page (300 dots per inch) as the scanner would deliver it.
TScanResult ScanPage(const QImage& page, const TScanSettings& settings, TForgeRandom& rng);

}  // namespace korvex::forge
