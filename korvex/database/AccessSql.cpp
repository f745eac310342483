#include "database/AccessSql.h"

#include <cctype>
#include <vector>

#include "database/DbEngine.h"
#include "model/TextUtil.h"

namespace korvex {
namespace {

enum class TokKind { Space, Word, String, Bracket, Quoted, Comment, Punct };

struct Token {
    TokKind Kind;
    std::string Text;   // the raw text as written
    std::string Name;   // Bracket: the identifier with "]]" undone
};

bool IsWordByte(unsigned char c) { return std::isalnum(c) || c == '_' || c == '@' || c == '$' || c >= 0x80; }

// Splits the statement so that nothing inside strings, identifiers or
// comments is ever mistaken for a keyword.
std::vector<Token> Tokenize(std::string_view s) {
    std::vector<Token> out;
    std::size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = s[i];
        std::size_t j = i + 1;
        TokKind kind = TokKind::Punct;
        std::string name;
        if (std::isspace(c)) {
            while (j < s.size() && std::isspace(static_cast<unsigned char>(s[j]))) ++j;
            kind = TokKind::Space;
        } else if (c == '\'' || c == '"') {
            kind = c == '\'' ? TokKind::String : TokKind::Quoted;
            for (;;) {
                if (j >= s.size()) break;
                if (s[j] == static_cast<char>(c)) {
                    if (j + 1 < s.size() && s[j + 1] == static_cast<char>(c)) { j += 2; continue; }
                    ++j;
                    break;
                }
                ++j;
            }
        } else if (c == '[') {
            kind = TokKind::Bracket;
            for (;;) {
                if (j >= s.size()) break;
                if (s[j] == ']') {
                    if (j + 1 < s.size() && s[j + 1] == ']') { name += ']'; j += 2; continue; }
                    ++j;
                    break;
                }
                name += s[j++];
            }
        } else if (c == '-' && j < s.size() && s[j] == '-') {
            while (j < s.size() && s[j] != '\n') ++j;
            kind = TokKind::Comment;
        } else if (c == '/' && j < s.size() && s[j] == '*') {
            const std::size_t end = s.find("*/", j + 1);
            j = end == std::string_view::npos ? s.size() : end + 2;
            kind = TokKind::Comment;
        } else if (IsWordByte(c)) {
            while (j < s.size() && IsWordByte(static_cast<unsigned char>(s[j]))) ++j;
            kind = TokKind::Word;
        }
        out.push_back({kind, std::string(s.substr(i, j - i)), std::move(name)});
        i = j;
    }
    return out;
}

std::string DoubleQuoted(std::string_view name) {
    std::string out = "\"";
    for (char ch : name) {
        if (ch == '"') out += '"';
        out += ch;
    }
    return out + "\"";
}

bool IsWord(const Token& t, std::string_view word) { return t.Kind == TokKind::Word && SameText(t.Text, word); }
bool IsSignificant(const Token& t) { return t.Kind != TokKind::Space && t.Kind != TokKind::Comment; }
bool IsIdentifier(const Token& t) {
    return t.Kind == TokKind::Word || t.Kind == TokKind::Bracket || t.Kind == TokKind::Quoted;
}

class Translator {
public:
    explicit Translator(std::vector<Token> tokens) : T(std::move(tokens)) {
        for (std::size_t k = 0; k < T.size(); ++k)
            if (IsSignificant(T[k])) Sig.push_back(k);
    }

    TTranslatedSql Run(std::string_view accessSql) {
        TTranslatedSql result;
        const bool ddl = Sig.size() >= 2 && (IsWord(T[Sig[0]], "create") || IsWord(T[Sig[0]], "alter")) &&
                         IsWord(T[Sig[1]], "table");
        const bool select = !Sig.empty() && IsWord(T[Sig[0]], "select");
        int depth = 0;
        for (std::size_t s = 0; s < Sig.size(); ++s) {
            Token& t = T[Sig[s]];
            if (t.Kind == TokKind::Punct && t.Text == "(") ++depth;
            if (t.Kind == TokKind::Punct && t.Text == ")") --depth;
            RefuseDifferingForm(s, result, accessSql);
            if (IsParameter(t)) ++result.ParameterCount;
            if (select && depth == 0 && !result.Workbook && IsWord(t, "into")) {
                if (auto target = WorkbookTargetAt(s)) {
                    result.Workbook = std::move(target);
                    continue;
                }
            }
            if (IsWord(t, "@@identity")) {
                t.Text = "last_insert_rowid()";
            } else if (ddl && s > 0 && IsIdentifier(T[Sig[s - 1]]) && !IsWord(T[Sig[s - 1]], "table")) {
                TranslateColumnType(s);
            }
        }
        for (Token& t : T)
            if (t.Kind == TokKind::Bracket) t.Text = DoubleQuoted(t.Name);
        for (const Token& t : T) result.Sql += t.Text;
        return result;
    }

private:
    static bool IsParameter(const Token& t) { return t.Kind == TokKind::Punct && t.Text == "?"; }

    // The forms of the header's refused list.
    void RefuseDifferingForm(std::size_t s, TTranslatedSql& result, std::string_view accessSql) const {
        const Token& t = T[Sig[s]];
        if (t.Kind == TokKind::Punct && t.Text == "&")
            throw EDbError("不支持 Access 的 & 文字连接（本数据库中含义不同）：" + std::string(accessSql), 0);
        if (t.Kind == TokKind::Quoted)
            throw EDbError("不支持双引号括起的文字（Access 中是文字，本数据库中是名称）：" + std::string(accessSql), 0);
        if (!IsWord(t, "like")) return;
        const Token* pattern = s + 1 < Sig.size() ? &T[Sig[s + 1]] : nullptr;
        if (pattern && IsParameter(*pattern)) {
            result.LikeParameters.push_back(result.ParameterCount);
        } else if (!pattern || pattern->Kind != TokKind::String) {
            throw EDbError("like 的模式只能是文字或参数：" + std::string(accessSql), 0);
        } else if (pattern->Text.find('*') != std::string::npos) {
            throw EDbError("不支持 like 模式中的 *（Access 的通配符，本数据库中是普通字符）：" + std::string(accessSql), 0);
        }
    }

    std::string ColumnName(std::size_t s) const {
        const Token& n = T[Sig[s - 1]];
        return n.Kind == TokKind::Bracket ? n.Name : n.Text;  // a double-quoted name is refused before
    }

    void Blank(std::size_t s) {
        // Removes a significant token and the blanks before it.
        for (std::size_t k = Sig[s - 1] + 1; k <= Sig[s]; ++k) T[k].Text.clear();
    }

    void TranslateColumnType(std::size_t s) {
        Token& t = T[Sig[s]];
        if (IsWord(t, "autoincrement")) {
            t.Text = "integer primary key autoincrement";
            if (s + 2 < Sig.size() && IsWord(T[Sig[s + 1]], "primary") && IsWord(T[Sig[s + 2]], "key")) {
                Blank(s + 1);
                Blank(s + 2);
            }
        } else if (IsWord(t, "memo") || IsWord(t, "longtext")) {
            t.Text = "text collate nocase";
        } else if (IsWord(t, "long")) {
            t.Text = "integer";
        } else if (IsWord(t, "text")) {
            std::string size = "255";
            if (s + 3 < Sig.size() && T[Sig[s + 1]].Text == "(" && T[Sig[s + 3]].Text == ")" &&
                ParseDecimalInt32(T[Sig[s + 2]].Text)) {
                size = T[Sig[s + 2]].Text;
                for (std::size_t k = 1; k <= 3; ++k) Blank(s + k);
            }
            const std::string column = ColumnName(s);
            // A named check, so that the engine's message names the column.
            t.Text = "text(" + size + ") collate nocase constraint " +
                     DoubleQuoted(column + " 最多 " + size + " 个字符") + " check(length(" + DoubleQuoted(column) +
                     ")<=" + size + ")";
        }
    }

    // "into [Excel 8.0;Database=path].[<sheet>]" at significant index s.
    std::optional<TWorkbookTarget> WorkbookTargetAt(std::size_t s) {
        if (s + 3 >= Sig.size()) return std::nullopt;
        const Token& file = T[Sig[s + 1]];
        const Token& dot = T[Sig[s + 2]];
        const Token& sheet = T[Sig[s + 3]];
        if (file.Kind != TokKind::Bracket || dot.Text != "." || sheet.Kind != TokKind::Bracket) return std::nullopt;
        const std::string upper = AsciiUpper(file.Name);
        if (upper.rfind("EXCEL 8.0;", 0) != 0) return std::nullopt;
        const std::size_t key = upper.find("DATABASE=");
        if (key == std::string::npos) return std::nullopt;
        TWorkbookTarget target;
        // The path is the rest of the bracket as it stands: a file name may hold ";" and quotes.
        target.Path = file.Name.substr(key + 9);
        if (target.Path.empty()) throw EDbError("Excel 目标没有文件名。", 0);
        target.Sheet = sheet.Name;
        if (target.Sheet.size() >= 2 && target.Sheet.front() == '<' && target.Sheet.back() == '>')
            target.Sheet = target.Sheet.substr(1, target.Sheet.size() - 2);
        for (std::size_t k = 0; k <= 3; ++k) Blank(s + k);
        T[Sig[s + 3]].Kind = TokKind::Space;  // keep the blanked target out of the bracket pass
        T[Sig[s + 1]].Kind = TokKind::Space;
        return target;
    }

    std::vector<Token> T;
    std::vector<std::size_t> Sig;  // indices of significant tokens
};

}  // namespace

TTranslatedSql TranslateAccessSql(std::string_view accessSql) { return Translator(Tokenize(accessSql)).Run(accessSql); }

}  // namespace korvex
