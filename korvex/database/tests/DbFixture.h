#pragma once
// Counting databases in a temporary folder and ballots to commit into them.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../../model/tests/TempFolder.h"
#include "database/NewDatabase.h"
#include "database/uBallotDB.h"

namespace korvex::testing {

// The template a standard ballot of the database's formal candidates would carry.
inline TBallotTemplate TemplateOf(const std::vector<TCandidateInfo>& formal) {
    TBallotTemplate t;
    t.TemplateID = "20261210-101500-ABCDEF01";
    for (const auto& c : formal) t.Candidates.push_back({c.ID, c.Name, {}, {}});
    return t;
}

// A recognition with one mark per template candidate ("O", "X", " ", "?").
inline TBallotRecognition Ballot(const TBallotTemplate& t, const std::string& marks, const std::string& scanUID) {
    TBallotRecognition r;
    r.ScanUID = scanUID;
    r.ImageFile = "/scans/" + scanUID + ".bmp";
    r.TemplateID = t.TemplateID;
    for (std::size_t i = 0; i < t.Candidates.size(); ++i) {
        const char m = i < marks.size() ? marks[i] : ' ';
        const TMarkState state = m == 'O' ? msApprove : m == 'X' ? msReject : m == '?' ? msUnknown : msBlank;
        r.Candidates.push_back({t.Candidates[i].ID, t.Candidates[i].Name, state, 0.95});
    }
    r.WriteIns.resize(4);
    return r;
}

inline void AddWriteIn(TBallotRecognition& r, std::size_t slot, const std::string& name, TMarkState mark = msApprove) {
    r.WriteIns.at(slot).Name = name;
    r.WriteIns.at(slot).Mark = mark;
}

struct TTally {
    std::string Name;
    long long zc, bzc, qq;
    bool nxr;
    friend bool operator==(const TTally&, const TTally&) = default;
};

inline void PrintTo(const TTally& t, std::ostream* os) {
    *os << t.Name << ":" << t.zc << "/" << t.bzc << "/" << t.qq << (t.nxr ? " write-in" : "");
}

inline std::vector<TTally> Tallies(TQMDatabase& db) {
    std::vector<TTally> out;
    for (auto q = db.Conn().OpenQuery("select [xm],[zc],[bzc],[qq],[nxr] from [abc] order by [id]"); !q->Eof(); q->Next())
        out.push_back({q->AsText("xm"), q->AsInteger("zc"), q->AsInteger("bzc"), q->AsInteger("qq"), q->AsBoolean("nxr")});
    return out;
}

class DbTest : public ::testing::Test {
protected:
    void OpenNew(const std::vector<std::string>& names) {
        Path = Folder.File("qm.mdb");
        CreateCountingDatabase(Path, names);
        Db.Open(Path);
        Db.SetConfigFile(Folder.File("Korvex.ini"));
    }
    std::vector<std::string> Strings(const std::string& sql) {
        std::vector<std::string> out;
        for (auto q = Db.Conn().OpenQuery(sql); !q->Eof(); q->Next())
            out.push_back(q->IsNull(q->FieldName(0)) ? "NULL" : q->AsText(q->FieldName(0)));
        return out;
    }
    // Every column of one [detail] row after [id], NULL shown as "NULL".
    std::vector<std::string> DetailRow(int id) {
        auto q = Db.Conn().OpenQuery("select * from [detail] where [id]=" + std::to_string(id));
        std::vector<std::string> out;
        if (q->Eof()) return out;
        for (std::size_t i = 1; i < q->FieldCount(); ++i) {
            const TDbValue& v = q->Result().Rows[0][i];
            out.push_back(DbIsNull(v) ? "NULL" : DbValueToText(v));
        }
        return out;
    }
    std::string ErrorOf(const std::function<void()>& action) {
        try {
            action();
        } catch (const std::exception& e) {
            return e.what();
        }
        return "(no error)";
    }

    TempFolder Folder;
    std::string Path;
    TQMDatabase Db;
};

}  // namespace korvex::testing
