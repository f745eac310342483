#include <cstdio>

#include "CliSupport.h"
#include "Commands.h"
#include "database/NewDatabase.h"
#include "database/uBallotDB.h"

namespace korvex::cli {

int NewDatabase(const std::vector<std::string>& args) {
    const TArgs a(args, {"--candidates"});
    a.RefuseRest();
    std::vector<std::string> names;
    if (const auto file = a.Value("--candidates"))
        for (std::string& name : ReadCandidateNamesFile(*file))
            if (!name.empty()) names.push_back(std::move(name));  // blank lines name no one
    CreateCountingDatabase(DatabaseFile(), names);
    std::printf("已创建计票数据库 / created %s（候选人 %zu 人）\n", DatabaseFile().c_str(), names.size());
    return 0;
}

int Tally(const std::vector<std::string>& args) {
    TArgs(args, {}).RefuseRest();
    auto db = OpenDatabase();
    auto q = db->Conn().OpenQuery("select [id],[xm],[zc],[bzc],[qq],[nxr] from [abc] order by [id]");
    std::printf("%-6s %-16s %8s %8s %8s  %s\n", "序号", "姓名", "赞成", "反对", "弃权", "另选人");
    for (; !q->Eof(); q->Next())
        std::printf("%-6lld %-16s %8lld %8lld %8lld  %s\n", static_cast<long long>(q->AsInteger("id")),
                    q->AsText("xm").c_str(), static_cast<long long>(q->AsInteger("zc")),
                    static_cast<long long>(q->AsInteger("bzc")), static_cast<long long>(q->AsInteger("qq")),
                    q->AsBoolean("nxr") ? "是" : "否");
    std::printf("已入库选票 / ballots committed: %d\n", db->GetDetailCount());
    return 0;
}

}  // namespace korvex::cli
