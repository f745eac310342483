#include "templates/uBallotTemplate.h"

#include <cstdio>
#include <filesystem>

#include "model/Errors.h"
#include "model/NameText.h"
#include "model/TextUtil.h"
#include "templates/IniDocument.h"

namespace korvex {
namespace {

constexpr const char* kTemplate = "Template";
constexpr const char* kExternal = "External";
constexpr const char* kLayout = "Layout";
constexpr const char* kCandidates = "Candidates";
constexpr const char* kWriteIns = "WriteIns";
constexpr const char* kEmptyRect = "0,0,0,0";

// The twelve layout keys in file order, with their defaults.
struct LayoutKey {
    const char* key;
    int TBallotTemplate::*field;
    int defaultValue;
};
constexpr LayoutKey kLayoutKeys[] = {
    {"GridLeft", &TBallotTemplate::GridLeft, 210},
    {"GridRight", &TBallotTemplate::GridRight, 2270},
    {"LabelWidth", &TBallotTemplate::LabelWidth, 210},
    {"CandidateCols", &TBallotTemplate::CandidateCols, 7},
    {"CandidateStartY", &TBallotTemplate::CandidateStartY, 650},
    {"CandidateNameHeight", &TBallotTemplate::CandidateNameHeight, 112},
    {"CandidateMarkHeight", &TBallotTemplate::CandidateMarkHeight, 132},
    {"CandidateGroupCount", &TBallotTemplate::CandidateGroupCount, 1},
    {"WriteInStartY", &TBallotTemplate::WriteInStartY, 1200},
    {"WriteInLabelWidth", &TBallotTemplate::WriteInLabelWidth, 260},
    {"WriteInNameHeight", &TBallotTemplate::WriteInNameHeight, 112},
    {"WriteInMarkHeight", &TBallotTemplate::WriteInMarkHeight, 126},
};

std::string CandidateSection(int n) { return "Candidate." + std::to_string(n); }
std::string WriteInSection(int n) { return "WriteIn." + std::to_string(n); }

// Unsigned 64-bit hexadecimal digits only; anything else reads as 0.
std::uint32_t ParseTemplateCode(std::string_view text) {
    if (text.empty() || text.size() > 16) return 0;
    std::uint64_t value = 0;
    for (const char c : text) {
        int d;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
        else return 0;
        value = (value << 4) | static_cast<std::uint64_t>(d);
    }
    return static_cast<std::uint32_t>(value & 0xFFFFFFFFu);
}

int ReadItemCount(const TIniDocument& doc, const char* section) {
    const int count = doc.ReadInteger(section, "Count", 0);
    if (count > kMaxTemplateItems)
        throw EKorvexError(Format("模板文件中 [%s] 的 Count 值 %d 超出上限 %d。", section, count, kMaxTemplateItems));
    return count;
}

TRect ReadRect(const TIniDocument& doc, const std::string& section, const char* key) {
    return TextToRect(doc.ReadString(section, key, kEmptyRect));
}

}  // namespace

std::string RectToText(const TRect& rect) {
    return Format("%d,%d,%d,%d", rect.Left, rect.Top, rect.Right, rect.Bottom);
}

TRect TextToRect(std::string_view text) {
    // Split at every ","; more than four parts is already wrong, so stop there.
    std::string_view parts[5];
    std::size_t count = 0;
    std::size_t start = 0;
    while (count < 5) {
        const std::size_t comma = text.find(',', start);
        parts[count++] = text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    if (count != 4) throw EKorvexError("无效区域坐标：" + std::string(text));
    std::int32_t values[4];
    for (std::size_t i = 0; i < 4; ++i) {
        const auto value = ParseDecimalInt32(parts[i]);
        if (!value) throw EConvertError("'" + std::string(parts[i]) + "' is not a valid integer value");
        values[i] = *value;
    }
    return TRect{values[0], values[1], values[2], values[3]};
}

std::string TemplateCodeText(std::uint32_t code) { return Format("%08X", code); }

namespace {

// The reader trims every line and splits the file at line ends, so a text with
// blanks at either end would come back changed and one with a line break
// would add a line of its own. Such a template is refused before anything is
// written: every ballot read with it would fail to commit.
void CheckReadsBack(const std::string& value, const std::string& what) {
    if (value.size() != TrimBlanks(value).size() || value.find_first_of("\r\n") != std::string::npos)
        throw EKorvexError(Format("%s“%s”首尾有空白或含有换行符，写入模板后不能原样读回，模板未保存。", what.c_str(),
                                  VisibleName(value).c_str()));
}

void CheckTextValues(const TBallotTemplate& t) {
    CheckReadsBack(t.TemplateID, "模板编号");
    CheckReadsBack(t.Title, "标题");
    if (t.TemplateKind == tkExternal) {
        CheckReadsBack(t.ExternalReferenceImage, "参考图片");
        CheckReadsBack(t.ExternalOptionMode, "选项模式");
    }
    for (std::size_t i = 0; i < t.Candidates.size(); ++i)
        CheckReadsBack(t.Candidates[i].Name, Format("第%zu位候选人姓名", i + 1));
}

}  // namespace

void SaveTemplate(const TBallotTemplate& t, const std::string& fileName) {
    CheckTextValues(t);
    const std::filesystem::path folder = std::filesystem::path(fileName).parent_path();
    if (!folder.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        if (ec) throw EFileError("无法创建文件夹 \"" + folder.string() + "\": " + ec.message());
    }
    TIniDocument doc = TIniDocument::LoadFileIfExists(fileName);

    doc.WriteInteger(kTemplate, "Version", t.Version);
    doc.WriteString(kTemplate, "TemplateID", t.TemplateID);
    doc.WriteString(kTemplate, "TemplateCode", TemplateCodeText(t.TemplateCode));
    doc.WriteString(kTemplate, "Title", t.Title);
    doc.WriteInteger(kTemplate, "MaxSelect", t.MaxSelect);
    doc.WriteInteger(kTemplate, "WriteInSlots", t.WriteInSlots);
    doc.WriteString(kTemplate, "Type", t.TemplateKind == tkExternal ? "External" : "Standard");
    if (t.TemplateKind == tkExternal) {
        doc.WriteInteger(kExternal, "ReferenceWidth", t.ExternalReferenceWidth);
        doc.WriteInteger(kExternal, "ReferenceHeight", t.ExternalReferenceHeight);
        doc.WriteString(kExternal, "FrameRect", RectToText(t.ExternalFrameRect));
        doc.WriteString(kExternal, "ReferenceImage", t.ExternalReferenceImage);
        doc.WriteString(kExternal, "OptionMode", t.ExternalOptionMode);
    }
    for (const LayoutKey& k : kLayoutKeys) doc.WriteInteger(kLayout, k.key, t.*k.field);

    doc.WriteInteger(kCandidates, "Count", static_cast<int>(t.Candidates.size()));
    for (std::size_t i = 0; i < t.Candidates.size(); ++i) {
        const TCandidateTemplate& c = t.Candidates[i];
        const std::string section = CandidateSection(static_cast<int>(i) + 1);
        doc.WriteInteger(section, "ID", c.ID);
        doc.WriteString(section, "Name", c.Name);
        doc.WriteString(section, "NameRect", RectToText(c.NameRect));
        doc.WriteString(section, "MarkRect", RectToText(c.MarkRect));
    }
    doc.WriteInteger(kWriteIns, "Count", static_cast<int>(t.WriteIns.size()));
    for (std::size_t i = 0; i < t.WriteIns.size(); ++i) {
        const TWriteInTemplate& w = t.WriteIns[i];
        const std::string section = WriteInSection(static_cast<int>(i) + 1);
        doc.WriteInteger(section, "SlotNo", w.SlotNo);
        doc.WriteString(section, "NameRect", RectToText(w.NameRect));
        doc.WriteString(section, "MarkRect", RectToText(w.MarkRect));
    }
    doc.SaveFile(fileName);
}

std::unique_ptr<TBallotTemplate> TemplateFromDocument(const TIniDocument& doc) {
    auto t = std::make_unique<TBallotTemplate>();

    t->Version = doc.ReadInteger(kTemplate, "Version", 1);
    t->TemplateID = doc.ReadString(kTemplate, "TemplateID", "");
    t->TemplateCode = ParseTemplateCode(doc.ReadString(kTemplate, "TemplateCode", "0"));
    t->Title = doc.ReadString(kTemplate, "Title", "选票");
    t->MaxSelect = doc.ReadInteger(kTemplate, "MaxSelect", 5);
    t->WriteInSlots = doc.ReadInteger(kTemplate, "WriteInSlots", -1);
    const std::string kind = TrimmedCopy(doc.ReadString(kTemplate, "Type", "Standard"));
    t->TemplateKind = SameText(kind, "External") ? tkExternal : tkStandard;

    if (t->TemplateKind == tkExternal) {
        t->ExternalReferenceWidth = doc.ReadInteger(kExternal, "ReferenceWidth", 0);
        t->ExternalReferenceHeight = doc.ReadInteger(kExternal, "ReferenceHeight", 0);
        t->ExternalFrameRect = ReadRect(doc, kExternal, "FrameRect");
        t->ExternalReferenceImage = doc.ReadString(kExternal, "ReferenceImage", "");
        std::string mode = TrimmedCopy(doc.ReadString(kExternal, "OptionMode", "1"));
        t->ExternalOptionMode = mode.empty() ? std::string(1, '1') : std::move(mode);
    }
    for (const LayoutKey& k : kLayoutKeys) (*t).*k.field = doc.ReadInteger(kLayout, k.key, k.defaultValue);

    const int candidateCount = ReadItemCount(doc, kCandidates);
    for (int n = 1; n <= candidateCount; ++n) {
        const std::string section = CandidateSection(n);
        TCandidateTemplate c;
        c.ID = doc.ReadInteger(section, "ID", 0);
        c.Name = doc.ReadString(section, "Name", "");
        c.NameRect = ReadRect(doc, section, "NameRect");
        c.MarkRect = ReadRect(doc, section, "MarkRect");
        t->Candidates.push_back(std::move(c));
    }

    const int writeInCount = ReadItemCount(doc, kWriteIns);
    if (t->WriteInSlots < 0) t->WriteInSlots = writeInCount;
    for (int n = 1; n <= writeInCount; ++n) {
        const std::string section = WriteInSection(n);
        TWriteInTemplate w;
        w.SlotNo = doc.ReadInteger(section, "SlotNo", n);
        w.NameRect = ReadRect(doc, section, "NameRect");
        w.MarkRect = ReadRect(doc, section, "MarkRect");
        t->WriteIns.push_back(w);
    }
    return t;
}

std::unique_ptr<TBallotTemplate> LoadTemplate(const std::string& fileName) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(fileName, ec)) throw EKorvexError("模板文件不存在：" + fileName);
    return TemplateFromDocument(TIniDocument::LoadFile(fileName));
}

std::unique_ptr<TBallotTemplate> TemplateFromText(std::string_view text) {
    return TemplateFromDocument(TIniDocument::FromText(text));
}

}  // namespace korvex
