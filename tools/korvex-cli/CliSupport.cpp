#include "CliSupport.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "database/uBallotDB.h"
#include "model/Errors.h"
#include "model/ProgramFolder.h"
#include "model/TextUtil.h"

namespace korvex::cli {

TArgs::TArgs(std::vector<std::string> args, const std::vector<std::string>& valueOptions,
             const std::vector<std::string>& flagOptions) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.rfind("--", 0) != 0 || a == "--") {
            rest_.push_back(a);
            continue;
        }
        if (std::find(valueOptions.begin(), valueOptions.end(), a) != valueOptions.end()) {
            if (i + 1 >= args.size()) throw EUsageError("选项 " + a + " 缺少取值。/ option " + a + " needs a value.");
            options_.emplace_back(a, args[++i]);
        } else if (std::find(flagOptions.begin(), flagOptions.end(), a) != flagOptions.end()) {
            flags_.push_back(a);
        } else {
            throw EUsageError("未知的选项 / unknown option: " + a);
        }
    }
}

std::optional<std::string> TArgs::Value(const std::string& name) const {
    for (const auto& [n, v] : options_)
        if (n == name) return v;
    return std::nullopt;
}

bool TArgs::Flag(const std::string& name) const {
    return std::find(flags_.begin(), flags_.end(), name) != flags_.end();
}

int TArgs::IntValue(const std::string& name, int defaultValue) const {
    const auto v = Value(name);
    if (!v) return defaultValue;
    const auto n = ParseDecimalInt32(*v);
    if (!n) throw EUsageError("选项 " + name + " 需要整数：" + *v + " / option " + name + " needs a number.");
    return *n;
}

void TArgs::RefuseRest() const {
    if (!rest_.empty()) throw EUsageError("多余的参数 / unexpected argument: " + rest_.front());
}

std::string DatabaseFile() { return ProgramPath("qm.mdb"); }
std::string ConfigFile() { return ProgramPath("Korvex.ini"); }
std::string TemplatesFolder() { return ProgramPath("Templates"); }

std::unique_ptr<TQMDatabase> OpenDatabase() {
    const std::string path = DatabaseFile();
    if (!std::filesystem::exists(path)) throw EKorvexError("程序目录下没有找到 qm.mdb：" + path);
    auto db = std::make_unique<TQMDatabase>();
    db->Open(path);
    db->EnsureDetailTable();
    return db;
}

std::string LocalTimeText(const char* format) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[64];
    return std::strftime(text, sizeof text, format, &local) ? text : "";
}

namespace {
bool gProgressShown = false;
}

void Progress(const std::string& text) {
    if (!::isatty(STDERR_FILENO)) return;
    std::fprintf(stderr, "\r\033[K%s", text.c_str());
    std::fflush(stderr);
    gProgressShown = true;
}

void EndProgress() {
    if (!gProgressShown) return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    gProgressShown = false;
}

}  // namespace korvex::cli
