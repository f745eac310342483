// A program that reads one name through the OCR client, for the tests that
// end a caller in the middle of a call: ocr_call_helper <Korvex.ini>.
// Prints the outcome; the environment (KORVEX_HOME, TMPDIR) is the test's.
#include <cstdio>
#include <string>

#include "ocr/uExternalOCR.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    korvex::TRaster raster(6, 4, 255);
    korvex::TExternalOCR ocr(argv[1]);
    std::string text;
    double confidence = 0;
    const bool ok = ocr.Recognize(raster, text, confidence);
    std::printf("%s %s\n", ok ? "ok" : "failed", ok ? text.c_str() : ocr.LastError().c_str());
    return ok ? 0 : 1;
}
