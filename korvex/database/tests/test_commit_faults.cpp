// Commits under faults: a committing process killed at random moments, and two
// processes committing the same scan at once.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "ChildProcess.h"
#include "DbFixture.h"
#include "model/TextUtil.h"

using namespace korvex;
using namespace korvex::testing;

namespace {

const std::vector<std::string> kFormal = {"甲", "乙", "丙", "丁", "O'Neil", "戊"};
const std::vector<std::string> kWriteInPool = {"王五", "赵六", "钱七", "孙八", "D'Arcy"};

// Child: commits random ballots until it is killed, reporting each committed
// scan on fd. Never returns.
constexpr const char* kReady = "READY\n";

[[noreturn]] void CommitForever(const std::string& path, int round, int fd) {
    try {
        TQMDatabase db;
        db.Open(path);
        const TBallotTemplate t = TemplateOf(db.LoadCandidates(false));
        WriteAll(fd, kReady);  // the parent times its kill from here, however slow the start was
        std::mt19937 random(static_cast<unsigned>(round) * 7919u + 17u);
        for (int k = 0;; ++k) {
            std::string marks;
            for (std::size_t i = 0; i < t.Candidates.size(); ++i) marks += "OX "[random() % 3];
            auto r = Ballot(t, marks, Format("%08X%08X", round, k));
            const unsigned kind = random() % 10;
            const std::string type = kind < 7 ? kValidBallot : kind < 9 ? kInvalidBallot : kAbstentionBallot;
            if (type != kAbstentionBallot && random() % 3 == 0)
                AddWriteIn(r, random() % 4, kWriteInPool[random() % kWriteInPool.size()]);
            int id = 0;
            bool changed = false;
            db.CommitBallot(&t, &r, type, id, changed);
            WriteAll(fd, r.ScanUID + "\n");
        }
    } catch (const std::exception& e) {
        WriteAll(fd, std::string("ERROR ") + e.what() + "\n");
    }
    _exit(3);
}

class CommitFaultTest : public DbTest {
protected:
    // Checks that what the file holds is whole and consistent.
    void CheckConsistent(const std::set<std::string>& reported) {
        TDbConnection& c = Db.Conn();
        ASSERT_EQ(Strings("pragma integrity_check"), std::vector<std::string>{"ok"});
        const auto tables = c.TableNames();
        const bool haveDetail = std::count(tables.begin(), tables.end(), "detail") > 0;
        const bool haveCommit = std::count(tables.begin(), tables.end(), "OCR_Commit") > 0;
        if (!haveDetail || !haveCommit) {
            EXPECT_TRUE(reported.empty());
            EXPECT_EQ(Db.LoadCandidates(true).size(), kFormal.size());
            return;
        }
        EXPECT_EQ(Strings("select count(*) from [OCR_Commit] where [DetailID] not in (select [id] from [detail])"),
                  std::vector<std::string>{"0"});
        EXPECT_EQ(Strings("select count(*) from [detail] where [id] not in (select [DetailID] from [OCR_Commit])"),
                  std::vector<std::string>{"0"});
        EXPECT_EQ(Strings("select count(*) from [OCR_Commit] group by [DetailID] having count(*)>1"),
                  std::vector<std::string>{});
        std::set<std::string> stored;
        for (const auto& uid : Strings("select [ScanUID] from [OCR_Commit]")) stored.insert(uid);
        for (const auto& uid : reported) EXPECT_TRUE(stored.count(uid)) << "committed and then lost: " << uid;

        // A fresh recount from the detail rows.
        const auto detail = c.OpenQuery("select * from [detail]");
        const auto& columns = detail->Result().Columns;
        for (const auto& tally : Tallies(Db)) {
            std::size_t col = 0;
            while (col < columns.size() && columns[col] != tally.Name) ++col;
            ASSERT_LT(col, columns.size()) << "no detail column for " << tally.Name;
            long long zc = 0, bzc = 0, qq = 0, approvals = 0;
            for (const auto& row : detail->Result().Rows) {
                const std::string type = DbValueToText(row[1]);
                const std::string mark = DbIsNull(row[col]) ? "NULL" : DbValueToText(row[col]);
                if (type == kValidBallot && mark == "O") ++zc;
                if (type == kValidBallot && mark == "X") ++bzc;
                if ((type == kValidBallot || type == kAbstentionBallot) && mark == " ") ++qq;
                if (mark == "O") ++approvals;
            }
            EXPECT_EQ(tally, (TTally{tally.Name, zc, bzc, qq, tally.nxr}));
            if (tally.nxr) {
                EXPECT_GT(approvals, 0) << "write-in without a ballot approving it: " << tally.Name;
            }
        }
    }
};

TEST_F(CommitFaultTest, KilledCommitsLoseNothingAndCountNothingTwice) {
    OpenNew(kFormal);
    Db.Close();
    std::mt19937 random(20261210);
    std::set<std::string> reported;
    int killedInTransaction = 0;
    long long commitMicros = 0;
    const int kills = 200;
    for (int round = 1; round <= kills; ++round) {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(fds[0]);
            CommitForever(Path, round, fds[1]);
        }
        close(fds[1]);
        char ready[6];
        ASSERT_EQ(read(fds[0], ready, sizeof ready), static_cast<ssize_t>(sizeof ready)) << "round " << round;
        if (commitMicros == 0) {
            // The first round times one whole commit, so that later kills land
            // before, inside and after commits on a fast build and a slow one.
            const auto start = std::chrono::steady_clock::now();
            std::string first;
            for (char c = 0; read(fds[0], &c, 1) == 1 && c != '\n';) first += c;
            reported.insert(first);
            commitMicros = std::max<long long>(
                1000, std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count());
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(200 + random() % (3 * commitMicros)));
        }
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        const std::string output = ReadAll(fds[0]);
        close(fds[0]);
        ASSERT_TRUE(WIFSIGNALED(status)) << "round " << round << ": " << output;
        for (const auto& line : Lines(output)) reported.insert(line);
        if (std::filesystem::exists(Path + "-journal")) ++killedInTransaction;

        Db.Open(Path);
        CheckConsistent(reported);
        Db.Close();
        if (::testing::Test::HasFailure()) FAIL() << "after kill " << round;
    }
    Db.Open(Path);
    EXPECT_GT(reported.size(), 0u);
    EXPECT_GT(killedInTransaction, 0) << "no kill landed inside a commit";
    std::printf("%d kills, %zu ballots committed, %d kills inside a transaction, %zu candidates\n", kills,
                reported.size(), killedInTransaction, Db.LoadCandidates(true).size());
}

TEST_F(CommitFaultTest, TwoProcessesCommittingTheSameScan) {
    OpenNew({"甲", "乙", "丙"});
    Db.Close();
    const int rounds = 10;
    for (int round = 1; round <= rounds; ++round) {
        int go[2];
        ASSERT_EQ(pipe(go), 0);
        std::vector<std::pair<pid_t, int>> children;
        for (int child = 0; child < 2; ++child) {
            int out[2];
            ASSERT_EQ(pipe(out), 0);
            const pid_t pid = fork();
            ASSERT_GE(pid, 0);
            if (pid == 0) {
                close(out[0]);
                close(go[1]);
                std::string result = "OK";
                try {
                    TQMDatabase db;
                    db.Open(Path);
                    const TBallotTemplate t = TemplateOf(db.LoadCandidates(false));
                    auto r = Ballot(t, child == 0 ? "OX " : "XO ", Format("DUP%04d", round));
                    if (round == 1) AddWriteIn(r, 0, "王五");  // both also race to add the same write-in
                    char byte;
                    if (read(go[0], &byte, 1) != 1) _exit(4);
                    int id = 0;
                    bool changed = false;
                    db.CommitBallot(&t, &r, kValidBallot, id, changed);
                } catch (const std::exception& e) {
                    result = e.what();
                }
                WriteAll(out[1], result);
                _exit(0);
            }
            close(out[1]);
            children.emplace_back(pid, out[0]);
        }
        close(go[0]);
        WriteAll(go[1], "gg");
        close(go[1]);
        std::vector<std::string> results;
        for (auto [pid, fd] : children) {
            results.push_back(ReadAll(fd));
            close(fd);
            int status = 0;
            waitpid(pid, &status, 0);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        }
        std::sort(results.begin(), results.end());
        EXPECT_EQ(results, (std::vector<std::string>{"OK", "这张扫描图片已经入库，系统已阻止重复计票。"})) << "round " << round;
    }
    Db.Open(Path);
    EXPECT_EQ(Strings("select count(*) from [detail]"), std::vector<std::string>{std::to_string(rounds)});
    EXPECT_EQ(Strings("select count(*) from [OCR_Commit]"), std::vector<std::string>{std::to_string(rounds)});
    EXPECT_EQ(Db.LoadCandidates(true).size(), 4u);
    const auto t = Tallies(Db);
    EXPECT_EQ(t[0].zc + t[0].bzc, rounds);
    EXPECT_EQ(t[3], (TTally{"王五", 1, 0, rounds - 1, true}));
}

}  // namespace
