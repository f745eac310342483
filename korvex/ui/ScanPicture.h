#pragma once
// The picture of a queue item for the image view: the file as Qt reads it,
// or the item's page through the image decoders where Qt cannot (TIFF pages).
#include <QPixmap>

#include "recognition/ScanQueue.h"

namespace korvex {

// Empty when the file cannot be read.
QPixmap LoadScanPicture(const TScanItem& item);

}  // namespace korvex
