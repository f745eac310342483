#include "ui/CandidateEditorLogic.h"

#include <cerrno>
#include <fstream>
#include <iconv.h>
#include <sstream>

#include "database/EditableRowSet.h"
#include "database/uBallotDB.h"
#include "model/Errors.h"
#include "model/NameText.h"
#include "model/TextUtil.h"

namespace korvex {

std::int64_t NextCandidateID(TDbConnection& conn) {
    auto q = conn.OpenQuery("select max([id]) as mid from [abc]");
    if (q->Eof() || q->IsNull("mid")) return 1;
    return q->AsInteger("mid") + 1;
}

void ValidateCandidateName(TDbConnection& conn, const std::string& name, std::int64_t id) {
    const std::string trimmed = TrimName(name);
    if (trimmed.empty()) throw EKorvexError("候选人姓名不能为空。");
    if (HasForbiddenNameCharacter(trimmed)) throw EKorvexError("候选人姓名不能包含换行符或控制字符。");
    if (trimmed[0] >= '0' && trimmed[0] <= '9') throw EKorvexError("候选人姓名不能以数字开头。");
    for (const char c : {'(', ')', ',', ';', '/', '?', '\\'})
        if (trimmed.find(c) != std::string::npos)
            throw EKorvexError(std::string("候选人姓名不能包含字符 ") + c + "。");
    if (trimmed.find(']') != std::string::npos) throw EKorvexError("候选人姓名不能包含字符 ]。");
    auto q = conn.OpenQuery("select count(*) as cnt from [abc] where [xm]=? and [id]<>?", {trimmed, id});
    if (q->AsInteger("cnt") > 0) throw EKorvexError("候选人姓名不能重复。");
}

namespace {

void ZeroTallies(TEditableRowSet& rows) {
    for (const char* column : {"zc", "bzc", "qq", "nxr"})
        if (rows.HasField(column)) rows.SetField(column, std::int64_t{0});
}

std::int64_t RowID(const TEditableRowSet& rows) {
    const TDbValue& v = rows.Field("id");
    if (const auto* i = std::get_if<std::int64_t>(&v)) return *i;
    if (const auto* s = std::get_if<std::string>(&v)) {
        if (const auto parsed = ParseDecimalInt32(TrimBlanks(*s))) return *parsed;
        throw EKorvexError("显示顺序必须是整数：" + *s);
    }
    if (const auto* d = std::get_if<double>(&v)) return static_cast<std::int64_t>(*d);
    throw EKorvexError("显示顺序不能为空。");
}

}  // namespace

void InitNewCandidateRow(TEditableRowSet& rows, TDbConnection& conn) {
    rows.SetField("id", NextCandidateID(conn));
    ZeroTallies(rows);
}

void CheckCandidateRowBeforePost(TEditableRowSet& rows, TDbConnection& conn) {
    const std::string name = TrimName(rows.AsText("xm"));
    const std::int64_t id = RowID(rows);
    ValidateCandidateName(conn, name, id);
    rows.SetField("id", id);
    rows.SetField("xm", name);
    ZeroTallies(rows);
}

bool IsValidUtf8(const std::string& bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char c = p[i];
        int extra;
        std::uint32_t cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            extra = 1, cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2, cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3, cp = c & 0x07;
        } else {
            return false;
        }
        if (i + static_cast<std::size_t>(extra) >= n) return false;
        for (int k = 1; k <= extra; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if ((extra == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
            (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)))
            return false;
        i += static_cast<std::size_t>(extra) + 1;
    }
    return true;
}

namespace {

std::string Gb18030ToUtf8(const std::string& bytes) {
    iconv_t cd = iconv_open("UTF-8", "GB18030");
    if (cd == reinterpret_cast<iconv_t>(-1)) throw EKorvexError("无法转换文本编码：系统不支持 GB18030。");
    std::string out(bytes.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    char* dst = out.data();
    std::size_t outLeft = out.size();
    const std::size_t rc = iconv(cd, &in, &inLeft, &dst, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<std::size_t>(-1)) throw EKorvexError("文本文件既不是 UTF-8 也不是 GB18030 编码，无法导入。");
    out.resize(out.size() - outLeft);
    return out;
}

}  // namespace

std::vector<std::string> DecodeImportLines(const std::string& bytes) {
    std::string text;
    if (bytes.rfind("\xEF\xBB\xBF", 0) == 0)
        text = bytes.substr(3);
    else
        text = bytes;
    if (!IsValidUtf8(text)) text = Gb18030ToUtf8(text);
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> ReadImportLines(const std::string& fileName) {
    std::ifstream in(fileName, std::ios::binary);
    if (!in) RaiseFileError("打开", fileName, errno);
    std::ostringstream s;
    s << in.rdbuf();
    if (in.bad()) RaiseFileError("读取", fileName, errno);
    return DecodeImportLines(s.str());
}

int ImportCandidateNames(TQMDatabase& db, const std::vector<std::string>& lines) {
    TDbConnection& conn = db.Conn();
    conn.BeginTrans();
    int count = 0;
    try {
        for (const std::string& line : lines) {
            const std::string name = TrimName(line);
            if (name.empty()) continue;
            ++count;
            ValidateCandidateName(conn, name, -count);
            conn.Execute("insert into [abc] ([id],[xm],[zc],[bzc],[qq],[nxr]) values (?,?,0,0,0,False)",
                         {std::int64_t{count}, name});
        }
        conn.CommitTrans();
    } catch (...) {
        if (conn.InTransaction()) conn.RollbackTrans();
        throw;
    }
    db.EnsureDetailTable();
    return count;
}

}  // namespace korvex
