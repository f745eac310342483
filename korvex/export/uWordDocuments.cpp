#include "export/uWordDocuments.h"

#include <ctime>

#include "model/TextUtil.h"

namespace korvex {
namespace {

constexpr const char* kHeiti = "黑体";
constexpr const char* kSongti = "宋体";
constexpr const char* kSymbolRow = "符   号";
constexpr const char* kRule1 =
    "1、赞成候选人时，在其姓名下边“符号”栏内划“〇”；反对时划“X”；弃权时不划任何符号，也不能另选他人。"
    "符号不清楚视为作废。";
constexpr const char* kRule2 =
    "2、另选他人时，应在反对的候选人下边符号栏内划“X”，并在对应空格内填写自己愿意选举的人的姓名，"
    "并在其姓名下边符号栏内划“〇”，只写姓名不划“〇”者，视为放弃。";
const TTallyRow kTallyHeader = {"序号", "姓名", "赞成票数", "不赞成票数", "弃权票数"};

void Heading(TWordDocument& doc, const std::string& title, const char* suffix) {
    doc.SetFont(kHeiti, 20);
    doc.SetAlignment(TParagraphAlignment::paCenter);
    doc.TypeText(title);
    doc.TypeText(suffix);
    doc.TypeParagraph();
    doc.TypeParagraph();
}

// A two-row table with the first column's captions; row 1 from the names.
void NameTable(TWordDocument& doc, const char* caption, const std::vector<std::string>& names,
               std::size_t columns) {
    const std::size_t table = doc.AddTable(2, columns + 1);
    doc.SetCellText(table, 1, 1, caption);
    doc.SetCellText(table, 2, 1, kSymbolRow);
    for (std::size_t k = 0; k < names.size(); ++k) {
        doc.SetCellText(table, 1, k + 2, names[k]);
    }
    doc.EnableBorders(table);
    doc.CentreTable(table);
    doc.TypeParagraph();
}

void TallySection(TWordDocument& doc, bool writeIns, const std::vector<TTallyRow>& rows) {
    if (writeIns && rows.empty()) {
        doc.TypeText("本次选举无另选人。");
        doc.TypeParagraph();
        return;
    }
    doc.TypeText(writeIns ? "另选人票数如下：" : "候选人票数如下：");
    doc.TypeParagraph();
    const std::size_t table = doc.AddTable(rows.size() + 1, kTallyHeader.size());
    for (std::size_t c = 0; c < kTallyHeader.size(); ++c) {
        doc.SetCellText(table, 1, c + 1, kTallyHeader[c]);
    }
    for (std::size_t r = 0; r < rows.size(); ++r) {
        for (std::size_t c = 0; c < kTallyHeader.size(); ++c) {
            doc.SetCellText(table, r + 2, c + 1, rows[r][c]);
        }
    }
    doc.EnableBorders(table);
    doc.CentreTable(table);
    doc.TypeParagraph();
}

}  // namespace

TWordDocument BuildWordBallot(const std::string& title, const std::vector<std::string>& candidateNames,
                              int maxSelect, int writeInCount) {
    maxSelect = std::max(maxSelect, 1);
    writeInCount = std::max(writeInCount, 0);
    TWordDocument doc;
    doc.SetTitle(title + "选票");
    Heading(doc, title, "选票");
    doc.SetFont(kSongti, 10);
    doc.SetAlignment(TParagraphAlignment::paCenter);
    NameTable(doc, "候选人姓名", candidateNames, candidateNames.size());
    if (writeInCount > 0) {
        NameTable(doc, "另选人姓名", {}, static_cast<std::size_t>(writeInCount));
    }
    doc.TypeParagraph();
    doc.SetAlignment(TParagraphAlignment::paLeft);
    doc.TypeText(kRule1);
    doc.TypeParagraph();
    doc.TypeText(kRule2);
    doc.TypeParagraph();
    doc.TypeText(Format("3、本张选票所选人数不得多于%d人，否则该选票作废。", maxSelect));
    return doc;
}

TWordDocument BuildElectionReport(const TElectionReportData& data) {
    TWordDocument doc;
    Heading(doc, data.Title, "选 举 报 告 单");
    doc.SetFont(kSongti, 14);
    doc.SetAlignment(TParagraphAlignment::paLeft);
    doc.TypeText("   本次选举应到代表    名，实到代表   名，发出选票   张，收回选票" + std::to_string(data.Total) +
                 " 张，其中有效票 " + std::to_string(data.Valid) + " 张，废票 " + std::to_string(data.Invalid) +
                 " 张，弃权票 " + std::to_string(data.Abstention) + " 张。");
    doc.TypeParagraph();
    TallySection(doc, false, data.Candidates);
    TallySection(doc, true, data.WriteIns);
    doc.SetAlignment(TParagraphAlignment::paLeft);
    doc.TypeText("   计票人：                监票人：");
    doc.TypeParagraph();
    doc.SetAlignment(TParagraphAlignment::paRight);
    doc.TypeText(ReportDateLine(data.Date));
    return doc;
}

std::string ReportDateLine(const TLocalDate& date) {
    return Format("%d年%d月%d日   ", date.Year, date.Month, date.Day);
}

TLocalDate Today() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

}  // namespace korvex
