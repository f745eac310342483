// Time of one CommitBallot with 56 candidates at 0, 1 000, 10 000 and 50 000
// stored ballots, and of 10 000 commits in a row.
// Goal: under 50 ms per commit at 10 000 stored ballots, with the tallies
// recounted from [detail] on every commit.
#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "database/NewDatabase.h"
#include "database/uBallotDB.h"
#include "model/TextUtil.h"

using namespace korvex;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kCandidates = 56;

struct Fixture {
    std::filesystem::path Folder;
    TQMDatabase Db;
    TBallotTemplate Template;
    std::mt19937 Random{42};
    int NextScan = 0;

    explicit Fixture(const std::string& name) {
        Folder = std::filesystem::temp_directory_path() / ("korvex-bench-" + NewGuidText());
        std::filesystem::create_directories(Folder);
        std::vector<std::string> names;
        for (int i = 1; i <= kCandidates; ++i) names.push_back(Format("候选人%02d", i));
        const std::string path = (Folder / name).string();
        CreateCountingDatabase(path, names);
        Db.Open(path);
        for (const auto& c : Db.LoadCandidates(false)) Template.Candidates.push_back({c.ID, c.Name, {}, {}});
        Template.TemplateID = "bench";
        Db.EnsureDetailTable();
        Db.IsScanCommitted("");  // creates [OCR_Commit]
    }
    ~Fixture() {
        Db.Close();
        std::filesystem::remove_all(Folder);
    }

    TBallotRecognition NextBallot() {
        TBallotRecognition r;
        r.ScanUID = Format("%016X", ++NextScan);
        r.ImageFile = "/scans/" + r.ScanUID + ".bmp";
        for (const auto& c : Template.Candidates)
            r.Candidates.push_back({c.ID, c.Name, static_cast<TMarkState>(Random() % 3), 0.9});
        r.WriteIns.resize(4);
        return r;
    }

    // Stored ballots written straight into the tables, as many commits would leave them.
    void Fill(int count) {
        TDbConnection& conn = Db.Conn();
        conn.BeginTrans();
        for (int i = 0; i < count; ++i) {
            const auto r = NextBallot();
            std::string columns = "[票类型]", values = "?";
            TDbParams params{std::string(kValidBallot)};
            for (const auto& c : r.Candidates) {
                columns += ',';
                columns += TQMDatabase::QuoteIdentifier(c.CandidateName);
                values += ",?";
                params.emplace_back(MarkStateToDbCode(c.Mark));
            }
            conn.Execute("insert into [detail] (" + columns + ") values (" + values + ")", params);
            conn.Execute("insert into [OCR_Commit] ([ScanUID],[DetailID]) values (?,@@identity)", {r.ScanUID});
        }
        conn.CommitTrans();
    }

    // Wall-clock time of one commit; its processor time is added to CpuMs.
    double CommitMs() {
        const auto r = NextBallot();
        int id = 0;
        bool changed = false;
        const std::clock_t cpu = std::clock();
        const auto start = Clock::now();
        Db.CommitBallot(&Template, &r, kValidBallot, id, changed);
        const double wall = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        CpuMs += 1000.0 * static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC;
        return wall;
    }
    double CpuMs = 0;
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main() {
    std::printf("# goal: commit_ms_at_10000 under 50 ms (56 candidates, tallies recounted on every commit)\n");
    for (int stored : {0, 1000, 10000, 50000}) {
        Fixture f("qm.mdb");
        f.Fill(stored);
        std::vector<double> times;
        for (int i = 0; i < 5; ++i) times.push_back(f.CommitMs());
        std::printf("commit_ms_at_%d = %.2f ms\n", stored, Median(times));
        std::printf("commit_cpu_ms_at_%d = %.2f ms\n", stored, f.CpuMs / static_cast<double>(times.size()));
    }
    {
        Fixture f("qm.mdb");
        const auto start = Clock::now();
        for (int i = 0; i < 10000; ++i) f.CommitMs();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf("commit_10000_in_a_row = %.1f s\n", seconds);
        std::printf("commit_10000_in_a_row_per_ballot = %.2f ms\n", seconds * 1000.0 / 10000);
    }
    return 0;
}
