#pragma once
// Template files: one TBallotTemplate per UTF-8 INI file in the "Templates" folder.
#include <memory>
#include <string>
#include <string_view>

#include "model/uBallotTypes.h"

namespace korvex {

// Largest "Count" of candidates or write-in slots a template file may claim.
// A real ballot has at most a few dozen; the bound keeps a damaged file from
// making the loader build millions of entries.
constexpr int kMaxTemplateItems = 10000;

// "420,650,684,762": Left, Top, Right, Bottom.
std::string RectToText(const TRect& rect);
// Raises EKorvexError "无效区域坐标：%s" unless there are exactly four parts,
// and EConvertError for a part that is not a decimal integer.
TRect TextToRect(std::string_view text);

// TemplateCode as exactly eight upper-case hexadecimal digits.
std::string TemplateCodeText(std::uint32_t code);

// Writes the template, keeping sections and keys of an existing file that it
// does not overwrite. Creates the folder first. A text value that would not
// read back as it stands (blanks at either end, a line break) is refused with
// EKorvexError before anything is written.
void SaveTemplate(const TBallotTemplate& ATemplate, const std::string& fileName);
// Reads a template file; raises "模板文件不存在：%s" when the file is missing.
std::unique_ptr<TBallotTemplate> LoadTemplate(const std::string& fileName);

class TIniDocument;
// The same reader over a parsed document or text already in memory.
std::unique_ptr<TBallotTemplate> TemplateFromDocument(const TIniDocument& doc);
std::unique_ptr<TBallotTemplate> TemplateFromText(std::string_view text);

}  // namespace korvex
