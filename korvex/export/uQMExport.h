#pragma once
// Exports of the counting results as Excel 97-2003 workbooks, and the Word
// ballot and election report, all read from the open counting database.
#include <string>

#include "database/uBallotDB.h"
#include "export/DocumentOutput.h"

namespace korvex {

// The tallies of every candidate ([abc]), by candidate number or, when
// byVotes, by approvals (ties in number order). An existing file at path is
// deleted first; "无法覆盖目标文件：" + path when that is not possible.
void ExportSummary(TQMDatabase& ADatabase, const std::string& path, bool byVotes);
// Every stored ballot ([detail] as it stands).
void ExportDetail(TQMDatabase& ADatabase, const std::string& path);
// How many ballots show each combination of marks over all candidate columns.
void ExportDetailStatistics(TQMDatabase& ADatabase, const std::string& path);

// Where the documents go and how they are opened; the defaults are the
// "Documents" folder of the program folder and the desktop's default application.
struct TDocumentTarget {
    std::string Folder;
    TDocumentOpener Opener;
};

// The Word ballot of the formal candidates, saved as "选票_<time>.docx".
TSavedDocument WordBallot(TQMDatabase& ADatabase, const std::string& title, int maxSelect, int writeInCount,
                          const TDocumentTarget& target = {});
// The election report, saved as "选举报告单_<time>.docx".
TSavedDocument ElectionReport(TQMDatabase& ADatabase, const std::string& title, bool byVotes,
                              const TDocumentTarget& target = {});

// The number of stored ballots of one type ("有效票", "废票", "弃权票").
int CountBallotsOfType(TQMDatabase& ADatabase, const std::string& ballotType);

// Gives the database's engine the workbook writer of select ... into
// statements, unless it already has one.
void EnsureWorkbookWriter(TQMDatabase& ADatabase);

}  // namespace korvex
