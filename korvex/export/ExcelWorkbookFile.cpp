#include "export/FileOutput.h"
#include "export/OleCompoundFile.h"
#include "export/uExcelWorkbook.h"

namespace korvex {

void WriteExcel97Workbook(const std::string& path, const TSheetData& sheet) {
    // Class identifier of an Excel workbook, as stored in the root entry.
    static const unsigned char kWorkbookClass[16] = {0x20, 0x08, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                     0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
    WriteFileReplacing(path, BuildCompoundFile("Workbook", BuildBiff8Workbook(sheet), kWorkbookClass));
}

}  // namespace korvex
