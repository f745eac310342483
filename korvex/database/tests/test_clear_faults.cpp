// Clearing under faults: a statement of a clear that fails half-way, and a
// clearing process killed at random moments. Either way the database holds
// the old ballots with their guard rows, or the cleared state, never ballots
// whose guard is gone (their scans could be committed and counted again).
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <ostream>
#include <random>
#include <thread>

#include "ChildProcess.h"
#include "DbFixture.h"
#include "database/SqliteEngine.h"
#include "model/TextUtil.h"

using namespace korvex;
using namespace korvex::testing;

namespace {

const std::vector<std::string> kFormal = {"甲", "乙", "丙", "O'Neil"};
const std::vector<std::string> kWriteInPool = {"王五", "赵六", "D'Arcy"};

enum class TOperation { ClearResults, ClearAll, Renumber };

const char* NameOf(TOperation op) {
    return op == TOperation::ClearResults ? "ClearVotingResults"
           : op == TOperation::ClearAll   ? "ClearCandidatesAndResults"
                                          : "RenumberCandidates";
}

void RunOperation(TQMDatabase& db, TOperation op) {
    if (op == TOperation::ClearResults) db.ClearVotingResults(true);
    else if (op == TOperation::ClearAll) db.ClearCandidatesAndResults();
    else db.RenumberCandidates();
}

// Every row of the three tables as text, to compare whole states.
struct TSnapshot {
    std::vector<std::string> Abc;
    std::vector<std::string> DetailColumns;
    std::vector<std::string> Detail;
    std::vector<std::string> Guard;
    friend bool operator==(const TSnapshot&, const TSnapshot&) = default;
};

void PrintTo(const TSnapshot& s, std::ostream* os) {
    const auto list = [&](const char* name, const std::vector<std::string>& rows) {
        *os << "\n  " << name << ":";
        for (const auto& row : rows) *os << " [" << row << "]";
    };
    list("abc", s.Abc);
    list("detail columns", s.DetailColumns);
    list("detail", s.Detail);
    list("OCR_Commit", s.Guard);
}

std::vector<std::string> RowsOf(TDbConnection& c, const std::string& sql) {
    std::vector<std::string> out;
    const auto q = c.OpenQuery(sql);
    for (const auto& row : q->Result().Rows) {
        std::string line;
        for (const TDbValue& v : row) line += (DbIsNull(v) ? "NULL" : DbValueToText(v)) + "|";
        out.push_back(line);
    }
    return out;
}

TSnapshot Snap(TDbConnection& c) {
    return {RowsOf(c, "select [id],[xm],[zc],[bzc],[qq],[nxr] from [abc] order by [id]"), c.ColumnNames("detail"),
            RowsOf(c, "select * from [detail] order by [id]"),
            RowsOf(c, "select [ScanUID],[DetailID] from [OCR_Commit] order by [ScanUID]")};
}

// The state a clear leaves when it completes.
TSnapshot Cleared(TOperation op, TDbConnection& c) {
    TSnapshot after;
    after.DetailColumns = {"id", "票类型"};
    if (op == TOperation::ClearAll) return after;
    for (const auto& row : RowsOf(c, "select [id],[xm],0,0,0,[nxr] from [abc] where [nxr] is null or [nxr]=0 order by [id]"))
        after.Abc.push_back(row);
    for (const auto& name : RowsOf(c, "select [xm] from [abc] where [nxr] is null or [nxr]=0 order by [id]"))
        after.DetailColumns.push_back(name.substr(0, name.size() - 1));
    return after;
}

// The guard rows and [detail] agree one to one, and every tally is what a
// fresh count of [detail] gives.
void ExpectGuardAndTalliesAgree(TQMDatabase& db) {
    TDbConnection& c = db.Conn();
    auto one = [&](const std::string& sql) { return RowsOf(c, sql).at(0); };
    EXPECT_EQ(one("select count(*) from [OCR_Commit] where [DetailID] not in (select [id] from [detail])"), "0|");
    EXPECT_EQ(one("select count(*) from [detail] where [id] not in (select [DetailID] from [OCR_Commit])"), "0|");
    const auto detail = c.OpenQuery("select * from [detail]");
    const auto& columns = detail->Result().Columns;
    for (const auto& tally : Tallies(db)) {
        const auto col = std::find_if(columns.begin(), columns.end(),
                                      [&](const std::string& n) { return SameText(n, tally.Name); });
        ASSERT_NE(col, columns.end()) << "no detail column for " << tally.Name;
        const std::size_t i = static_cast<std::size_t>(col - columns.begin());
        long long zc = 0, bzc = 0, qq = 0;
        for (const auto& row : detail->Result().Rows) {
            const std::string type = DbValueToText(row[1]);
            const std::string mark = DbIsNull(row[i]) ? "NULL" : DbValueToText(row[i]);
            if (type == kValidBallot && mark == "O") ++zc;
            if (type == kValidBallot && mark == "X") ++bzc;
            if ((type == kValidBallot || type == kAbstentionBallot) && mark == " ") ++qq;
        }
        EXPECT_EQ(tally, (TTally{tally.Name, zc, bzc, qq, tally.nxr}));
    }
}

// Formal candidates (when the list is empty) and a few committed ballots.
void Fill(TQMDatabase& db, std::mt19937& random, int round) {
    if (db.LoadCandidates(true).empty()) {
        for (std::size_t i = 0; i < kFormal.size(); ++i)
            db.Conn().Execute("insert into [abc] ([id],[xm],[zc],[bzc],[qq],[nxr]) values (?,?,0,0,0,False)",
                              {static_cast<std::int64_t>(i + 1), kFormal[i]});
    }
    const TBallotTemplate t = TemplateOf(db.LoadCandidates(false));
    for (int k = 0; k < 5; ++k) {
        std::string marks;
        for (std::size_t i = 0; i < t.Candidates.size(); ++i) marks += "OX "[random() % 3];
        auto r = Ballot(t, marks, Format("R%04dK%02d", round, k));
        if (k == 0 || random() % 2 == 0) AddWriteIn(r, 0, kWriteInPool[random() % kWriteInPool.size()]);
        int id = 0;
        bool changed = false;
        db.CommitBallot(&t, &r, random() % 5 == 0 ? kInvalidBallot : kValidBallot, id, changed);
    }
}

// The engine with one kind of statement failing, as a locked file or a full
// disk would make it fail.
class TFailingConnection : public TSqliteConnection {
public:
    explicit TFailingConnection(std::string prefix) : FPrefix(std::move(prefix)) {}

protected:
    std::int64_t ExecuteSql(std::string_view sql, const TDbParams& params) override {
        if (sql.substr(0, FPrefix.size()) == FPrefix) throw EDbError("database table is locked", 6);
        return TSqliteConnection::ExecuteSql(sql, params);
    }

private:
    std::string FPrefix;
};

using ClearFaultTest = DbTest;

TEST_F(ClearFaultTest, AFailingStatementLeavesTheOldBallotsAndTheirGuard) {
    OpenNew(kFormal);
    std::mt19937 random(7);
    Fill(Db, random, 0);
    Db.Conn().Execute("update [abc] set [nxr]=-1 where [nxr]<>0");  // write-in flags as Access writes them
    const TSnapshot before = Snap(Db.Conn());
    ASSERT_FALSE(before.Guard.empty());
    const struct {
        TOperation op;
        const char* failing;
    } cases[] = {
        {TOperation::ClearResults, "delete from [abc]"},      {TOperation::ClearResults, "delete from [OCR_Commit]"},
        {TOperation::ClearResults, "drop table"},             {TOperation::ClearResults, "create table [detail]"},
        {TOperation::ClearAll, "drop table"},                 {TOperation::ClearAll, "delete from [abc]"},
        {TOperation::ClearAll, "create table [detail]"},      {TOperation::Renumber, "update [abc] set [id]=? where"},
    };
    for (const auto& c : cases) {
        TQMDatabase failing(std::make_unique<TFailingConnection>(c.failing));
        failing.Open(Path);
        EXPECT_EQ(ErrorOf([&] { RunOperation(failing, c.op); }), "database table is locked")
            << NameOf(c.op) << " " << c.failing;
        failing.Close();
        EXPECT_EQ(Snap(Db.Conn()), before) << NameOf(c.op) << " failing at " << c.failing;
    }
    // The same scans are still refused, so nothing can be counted twice.
    const TBallotTemplate t = TemplateOf(Db.LoadCandidates(false));
    int id = 0;
    bool changed = false;
    const auto again = Ballot(t, "OOOO", "R0000K00");
    EXPECT_EQ(ErrorOf([&] { Db.CommitBallot(&t, &again, kValidBallot, id, changed); }),
              "这张扫描图片已经入库，系统已阻止重复计票。");
    EXPECT_EQ(Snap(Db.Conn()), before);
}

// A child process runs the clear and is killed at a random moment: before,
// inside or after the transaction. After each kill the file holds the state
// before or the cleared one, and the guard agrees with the detail rows.
void KillDuring(TQMDatabase& db, const std::string& path, TOperation op, unsigned seed) {
    std::mt19937 random(seed);
    const int kills = 100;
    long long operationMicros = 0;
    int old = 0, completed = 0, inTransaction = 0;
    for (int round = 1; round <= kills; ++round) {
        db.Open(path);
        Fill(db, random, round);
        const TSnapshot before = Snap(db.Conn());
        const TSnapshot done = Cleared(op, db.Conn());
        db.Close();

        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(fds[0]);
            try {
                TQMDatabase child;
                child.Open(path);
                WriteAll(fds[1], "READY\n");
                RunOperation(child, op);
                WriteAll(fds[1], "DONE\n");
            } catch (const std::exception& e) {
                WriteAll(fds[1], std::string("ERROR ") + e.what() + "\n");
            }
            for (;;) pause();  // waits for its kill
        }
        close(fds[1]);
        std::string line;
        ASSERT_TRUE(ReadLine(fds[0], line) && line == "READY") << "round " << round << ": " << line;
        if (operationMicros == 0) {
            // The first round times one whole operation, so that later kills
            // land before, inside and after it on a fast build and a slow one.
            const auto start = std::chrono::steady_clock::now();
            ASSERT_TRUE(ReadLine(fds[0], line)) << "round " << round;
            operationMicros = std::max<long long>(
                500, std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count());
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(random() % (2 * operationMicros)));
        }
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        const std::string output = line + "\n" + ReadAll(fds[0]);
        close(fds[0]);
        ASSERT_TRUE(WIFSIGNALED(status)) << "round " << round << ": " << output;
        ASSERT_EQ(output.find("ERROR"), std::string::npos) << "round " << round << ": " << output;
        if (std::filesystem::exists(path + "-journal")) ++inTransaction;

        db.Open(path);
        ASSERT_EQ(RowsOf(db.Conn(), "pragma integrity_check"), std::vector<std::string>{"ok|"});
        const TSnapshot after = Snap(db.Conn());
        const bool reportedDone = output.find("DONE") != std::string::npos;
        if (after == before && !reportedDone) {
            ++old;
        } else {
            EXPECT_EQ(after, done) << NameOf(op) << ", kill " << round << (reportedDone ? " after it completed" : "");
            ++completed;
        }
        ExpectGuardAndTalliesAgree(db);
        db.Close();
        if (::testing::Test::HasFailure()) FAIL() << NameOf(op) << ", after kill " << round;
    }
    EXPECT_GT(old, 0) << "no kill landed before the operation completed";
    EXPECT_GT(completed, 0) << "no kill landed after the operation completed";
    EXPECT_GT(inTransaction, 0) << "no kill landed inside the transaction";
    std::printf("%s: %d kills, %d left the old state, %d the completed one, %d inside the transaction\n", NameOf(op),
                kills, old, completed, inTransaction);
}

TEST_F(ClearFaultTest, KilledClearVotingResultsIsAllOrNothing) {
    OpenNew(kFormal);
    Db.Close();
    KillDuring(Db, Path, TOperation::ClearResults, 20261211);
}

TEST_F(ClearFaultTest, KilledClearCandidatesAndResultsIsAllOrNothing) {
    OpenNew(kFormal);
    Db.Close();
    KillDuring(Db, Path, TOperation::ClearAll, 20261212);
}

}  // namespace
