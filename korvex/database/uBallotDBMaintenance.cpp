// TQMDatabase: clearing, renumbering and counting the stored ballots, and the
// maximum-selection setting.
#include "database/DbTransaction.h"
#include "database/uBallotDB.h"
#include "model/Errors.h"
#include "templates/IniDocument.h"

namespace korvex {

// Clearing removes the duplicate guard together with the ballots it guards.
// Done in one transaction, a failure or a crash at any moment leaves either
// the old ballots with their guard rows or neither: never ballots without a
// guard, whose scans could then be committed and counted a second time.
void TQMDatabase::ClearVotingResults(bool RemoveWriteIns) {
    RequireOpen();
    TTransaction clear(*FConn);
    FConn->Execute("update [abc] set [zc]=0,[bzc]=0,[qq]=0");
    if (RemoveWriteIns) FConn->Execute(std::string("delete from [abc] where ") + kIsWriteIn);
    if (TableExists("OCR_Commit")) FConn->Execute("delete from [OCR_Commit]");
    if (TableExists("detail")) FConn->Execute("drop table [detail]");
    EnsureDetailTable();
    clear.Commit();
}

void TQMDatabase::ClearCandidatesAndResults() {
    RequireOpen();
    TTransaction clear(*FConn);
    if (TableExists("OCR_Commit")) FConn->Execute("delete from [OCR_Commit]");
    if (TableExists("detail")) FConn->Execute("drop table [detail]");
    FConn->Execute("delete from [abc]");
    EnsureDetailTable();
    clear.Commit();
}

// One transaction too: stopped half-way, the candidates would keep numbers
// above 1000100 that no template matches.
void TQMDatabase::RenumberCandidates() {
    RequireOpen();
    TTransaction renumber(*FConn);
    const std::int64_t n = QueryInteger("select count(*) as cnt from [abc]", "cnt");
    FConn->Execute("update [abc] set [id]=[id]+?", {n + 1000100});
    std::vector<std::int64_t> ids;
    for (auto q = FConn->OpenQuery("select [id] from [abc] order by [id]"); !q->Eof(); q->Next())
        ids.push_back(q->AsInteger("id"));
    for (std::size_t k = 0; k < ids.size(); ++k)
        FConn->Execute("update [abc] set [id]=? where [id]=?", {static_cast<std::int64_t>(k + 1), ids[k]});
    renumber.Commit();
}

int TQMDatabase::GetDetailCount() {
    EnsureDetailTable();
    return static_cast<int>(QueryInteger("select count([id]) as [cnt] from [detail]", "cnt"));
}

int TQMDatabase::ReadMaxSelect(int DefaultValue) const {
    try {
        const int value = TIniDocument::LoadFileIfExists(FConfigFile).ReadInteger("SYSTEM", "BDY", DefaultValue);
        return value > 0 ? value : DefaultValue;
    } catch (const EKorvexError&) {
        return DefaultValue;  // an unreadable file counts as a missing value
    }
}

void TQMDatabase::WriteMaxSelect(int Value) const {
    if (Value <= 0) throw EKorvexError("最多可选人数必须大于0。");
    TIniDocument ini = TIniDocument::LoadFileIfExists(FConfigFile);
    ini.WriteInteger("SYSTEM", "BDY", Value);
    ini.SaveFile(FConfigFile);
}

}  // namespace korvex
