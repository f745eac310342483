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
    // On the SQLite engine.
    TQMDatabase();
    // On the given engine connection, not yet connected.
    explicit TQMDatabase(std::unique_ptr<TDbConnection> AConn);
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

    // Each of these three is one transaction: it is done whole or not at all.
    void ClearVotingResults(bool RemoveWriteIns);
    void ClearCandidatesAndResults();
    void RenumberCandidates();
    int GetDetailCount();

    // [SYSTEM] BDY of the configuration file ("Korvex.ini" in the program folder).
    int ReadMaxSelect(int DefaultValue) const;
    void WriteMaxSelect(int Value) const;
    void SetConfigFile(const std::string& AConfigFile) { FConfigFile = AConfigFile; }

    // A table or column name as a bracketed identifier, "]" doubled. Values
    // never go into the SQL text: they are bound to "?" parameters.
    static std::string QuoteIdentifier(const std::string& s);

    // Conditions on [nxr] as every reader takes the flag: any value other than
    // 0 is a write-in (Access stores True as -1), NULL and 0 a formal candidate.
    static constexpr const char* kIsWriteIn = "([nxr]<>0)";
    static constexpr const char* kIsFormal = "([nxr] is null or [nxr]=0)";

private:
    void RequireOpen() const;
    bool TableExists(const std::string& name);
    bool ColumnExists(const std::string& table, const std::string& column);
    void EnsureCandidateColumn(const std::string& name);
    std::vector<std::string> MissingDetailColumns(const std::vector<TCandidateInfo>& candidates);
    void AddDetailColumns(const std::vector<TCandidateInfo>& candidates);
    void EnsureCommitTable();
    void CreateCommitTable(const std::string& table);
    // An [OCR_Commit] whose [ImageFile] still has the old 255-character limit.
    bool CommitTableNeedsLongPaths();
    void RebuildCommitTableForLongPaths();
    // [detail] with a column per candidate and [OCR_Commit] both exist.
    bool SchemaComplete();
    void CheckTemplateAgainstDatabase(const TBallotTemplate* ATemplate);
    int EnsureWriteInCandidate(const std::string& name, bool& created);
    void RecountTallies();
    void WriteBallot(const TBallotTemplate& ATemplate, const TBallotRecognition& ARecognition,
                     const std::string& BallotType, int& DetailID, bool& StructureChanged);
    std::int64_t QueryInteger(const std::string& sql, const std::string& field, const TDbParams& params = {});

    std::unique_ptr<TDbConnection> FConn;
    std::string FDatabaseFile;
    std::string FConfigFile;
};

// The ballot types stored in [detail].[票类型] are the model's kValidBallot,
// kInvalidBallot and kAbstentionBallot.

}  // namespace korvex
