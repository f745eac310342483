#pragma once
// TQMDatabase: the only way into the counting database "qm.mdb" with its
// tables [abc] (candidates and tallies), [detail] (one row per ballot) and
// [OCR_Commit] (one row per committed scan, the duplicate guard).
#include <memory>
#include <string>
#include <vector>

#include "database/DbEngine.h"
#include "model/uBallotTypes.h"

namespace korvex {

class TQMDatabase {
public:
    TQMDatabase();
    ~TQMDatabase();
    TQMDatabase(const TQMDatabase&) = delete;
    TQMDatabase& operator=(const TQMDatabase&) = delete;

    void Open(const std::string& FileName);
    void Close();
    bool IsOpen() const;
    const std::string& DatabaseFile() const { return FDatabaseFile; }
    // The connection, for the statements and queries of the editor and exports.
    TDbConnection& Conn() { return *FConn; }

    std::vector<TCandidateInfo> LoadCandidates(bool IncludeWriteIns);
    void EnsureDetailTable();

    void CommitBallot(const TBallotTemplate* ATemplate, const TBallotRecognition* ARecognition,
                      const std::string& BallotType, int& DetailID, bool& StructureChanged);
    bool IsScanCommitted(const std::string& ScanUID);

    void ClearVotingResults(bool RemoveWriteIns);
    void ClearCandidatesAndResults();
    void RenumberCandidates();
    int GetDetailCount();

    // [SYSTEM] BDY of the configuration file ("Korvex.ini" in the program folder).
    int ReadMaxSelect(int DefaultValue) const;
    void WriteMaxSelect(int Value) const;
    void SetConfigFile(const std::string& AConfigFile) { FConfigFile = AConfigFile; }

    static std::string QuoteSqlText(const std::string& s);
    static std::string QuoteIdentifier(const std::string& s);

private:
    void RequireOpen() const;
    bool TableExists(const std::string& name);
    bool ColumnExists(const std::string& table, const std::string& column);
    void EnsureCandidateColumn(const std::string& name);
    std::vector<std::string> MissingDetailColumns(const std::vector<TCandidateInfo>& candidates);
    void AddDetailColumns(const std::vector<TCandidateInfo>& candidates);
    void EnsureCommitTable();
    // [detail] with a column per candidate and [OCR_Commit] both exist.
    bool SchemaComplete();
    void CheckTemplateAgainstDatabase(const TBallotTemplate* ATemplate);
    int EnsureWriteInCandidate(const std::string& name, bool& created);
    void RecountTallies();
    void WriteBallot(const TBallotTemplate& ATemplate, const TBallotRecognition& ARecognition,
                     const std::string& BallotType, int& DetailID, bool& StructureChanged);
    std::int64_t QueryInteger(const std::string& sql, const std::string& field);

    std::unique_ptr<TDbConnection> FConn;
    std::string FDatabaseFile;
    std::string FConfigFile;
};

// The ballot types stored in [detail].[票类型] are the model's kValidBallot,
// kInvalidBallot and kAbstentionBallot.

}  // namespace korvex
