#pragma once
// The image core: everything the recognizer and the template editor need of
// pictures, as stateless procedures over the working raster.
#include "imaging/CornerBlocks.h"
#include "imaging/ExternalFrame.h"
#include "imaging/ImageFiles.h"
#include "imaging/InkMeasures.h"
#include "imaging/MarkClassifier.h"
#include "imaging/Raster.h"
