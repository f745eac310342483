#pragma once
// The Word ballot and the election report, built from plain data.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "export/uWordDocument.h"

namespace korvex {

// One tally row of the report as shown: 序号, 姓名, 赞成票数, 不赞成票数,
// 弃权票数 (a NULL value is an empty text).
using TTallyRow = std::array<std::string, 5>;

struct TLocalDate {
    int Year = 0;
    int Month = 0;
    int Day = 0;
};

struct TElectionReportData {
    std::string Title;
    std::int64_t Total = 0;
    std::int64_t Valid = 0;
    std::int64_t Invalid = 0;
    std::int64_t Abstention = 0;
    std::vector<TTallyRow> Candidates;  // formal candidates, in the order to show
    std::vector<TTallyRow> WriteIns;
    TLocalDate Date;
};

// The simple table ballot: the formal candidates' names over an empty symbol
// row, an optional write-in table and the three voting rules. A maxSelect
// below 1 counts as 1, a negative writeInCount as 0.
TWordDocument BuildWordBallot(const std::string& title, const std::vector<std::string>& candidateNames,
                              int maxSelect, int writeInCount);

// "选 举 报 告 单" with the ballot counts and the tally tables.
TWordDocument BuildElectionReport(const TElectionReportData& data);

// "yyyy年m月d日   "
std::string ReportDateLine(const TLocalDate& date);

TLocalDate Today();

}  // namespace korvex
