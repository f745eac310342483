#pragma once
// One scanned image in, the template it was printed from and the marks read
// from it out, or an error text naming the step that failed.
#include <cstdint>
#include <string>

#include "recognition/ScanQueue.h"

namespace korvex {

// manualTemplateFile: empty (or blanks) to identify a standard ballot by its
// printed code; else the external template chosen by the operator.
// pageIndex: the page of a multi-page image file, from 0.
TRecognitionOutcome RecognizeBallot(const std::string& imageFile, const std::string& templatesFolder,
                                    const std::string& configFile, const std::string& manualTemplateFile,
                                    int pageIndex = 0);

// The first "*.ini" directly in the folder, in name order, whose
// [Template] TemplateCode equals the code as eight hexadecimal digits
// (letter case ignored); empty when none.
std::string FindTemplateFileByCode(const std::string& templatesFolder, std::uint32_t code);

}  // namespace korvex
