#include "database/NewDatabase.h"

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "database/SqliteEngine.h"
#include "model/NameText.h"
#include "model/TextUtil.h"

namespace korvex {

void CreateCountingDatabase(const std::string& fileName, const std::vector<std::string>& candidateNames) {
    bool created = false;
    try {
        TSqliteConnection conn;
        conn.CreateDatabase(fileName);
        created = true;
        conn.BeginTrans();
        conn.Execute("create table [abc] ([id] long not null,[xm] text(30),[zc] long,[bzc] long,[qq] long,[nxr] bit)");
        conn.Execute("create unique index [PK_abc] on [abc] ([id])");
        int id = 0;
        for (const auto& raw : candidateNames) {
            const std::string name = TrimName(raw);
            if (name.empty()) continue;
            if (HasForbiddenNameCharacter(name))
                throw EKorvexError("候选人姓名不能包含换行符或控制字符：" + VisibleName(name));
            if (name.find(']') != std::string::npos) throw EKorvexError("候选人姓名不能包含字符 ]：" + name);
            if (conn.OpenQuery("select count(*) as cnt from [abc] where [xm]=?", {name})->AsInteger("cnt") > 0)
                throw EKorvexError("候选人姓名不能重复：" + name);
            conn.Execute("insert into [abc] ([id],[xm],[zc],[bzc],[qq],[nxr]) values (?,?,0,0,0,False)",
                         {std::int64_t{++id}, name});
        }
        conn.CommitTrans();
    } catch (...) {
        std::error_code ec;
        if (created) std::filesystem::remove(fileName, ec);
        throw;
    }
}

std::vector<std::string> ReadCandidateNamesFile(const std::string& fileName) {
    std::ifstream in(fileName, std::ios::binary);
    if (!in) RaiseFileError("读取", fileName, errno);
    std::vector<std::string> names;
    std::string line;
    bool first = true;
    while (std::getline(in, line)) {
        if (first && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
        first = false;
        names.push_back(TrimName(line));
    }
    return names;
}

}  // namespace korvex
