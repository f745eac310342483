#include "OcrText.h"

#include "OcrProcess.h"
#include "model/TextUtil.h"

namespace korvex {

namespace {

bool MatchesAt(std::string_view text, std::size_t pos, std::string_view pattern) {
    return pos + pattern.size() <= text.size() && SameText(text.substr(pos, pattern.size()), pattern);
}

// Length of the well-formed UTF-8 sequence at pos, or 0.
std::size_t Utf8SequenceLength(std::string_view s, std::size_t pos) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[pos + k]); };
    const unsigned char lead = b(0);
    if (lead < 0x80) return 1;
    std::size_t len = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) len = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) {
        len = 3;
        if (lead == 0xE0) lo = 0xA0;
        if (lead == 0xED) hi = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        len = 4;
        if (lead == 0xF0) lo = 0x90;
        if (lead == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (pos + len > s.size()) return 0;
    if (b(1) < lo || b(1) > hi) return 0;
    for (std::size_t k = 2; k < len; ++k)
        if ((b(k) & 0xC0) != 0x80) return 0;
    return len;
}

}  // namespace

std::string ReplaceAllIgnoreCase(std::string_view text, std::string_view pattern, std::string_view replacement) {
    if (pattern.empty()) return std::string(text);
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        if (MatchesAt(text, i, pattern)) {
            out += replacement;
            i += pattern.size();
        } else {
            out += text[i++];
        }
    }
    return out;
}

namespace {

// Marks a placeholder's place while the template is split; U+E000 and U+E001
// from the private-use area, which no template or value holds.
std::string Marker(std::size_t index) { return "\xEE\x80\x80" + std::to_string(index) + "\xEE\x80\x81"; }

}  // namespace

std::string FillArguments(std::string_view argumentTemplate, std::initializer_list<TPlaceholderValue> values) {
    // Markers in place of the placeholders, then the marked text split by the
    // argument rules: the template's own quoting decides where arguments
    // begin and end, never a value.
    std::string marked;
    std::size_t i = 0;
    while (i < argumentTemplate.size()) {
        bool replaced = false;
        std::size_t k = 0;
        for (const TPlaceholderValue& v : values) {
            if (!v.Placeholder.empty() && MatchesAt(argumentTemplate, i, v.Placeholder)) {
                marked += Marker(k);
                i += v.Placeholder.size();
                replaced = true;
                break;
            }
            ++k;
        }
        if (!replaced) marked += argumentTemplate[i++];
    }
    // Text between and within arguments stays as written. An argument that
    // gets a value with quotes, backslashes or blanks is written anew, quoted
    // so that it splits back into exactly the intended text.
    std::string out;
    std::size_t written = 0;
    for (const TArgumentSpan& span : SplitArgumentSpans(marked)) {
        out.append(marked, written, span.Begin - written);
        std::string text = marked.substr(span.Begin, span.End - span.Begin);
        std::string value = span.Value;
        bool plain = true;
        std::size_t k = 0;
        for (const TPlaceholderValue& v : values) {
            const std::string marker = Marker(k++);
            if (text.find(marker) == std::string::npos) continue;
            // An empty value alone would leave no argument at all.
            plain = plain && !v.Value.empty() && v.Value.find_first_of(" \t\"\\") == std::string_view::npos;
            text = ReplaceAllIgnoreCase(text, marker, v.Value);
            value = ReplaceAllIgnoreCase(value, marker, v.Value);
        }
        out += plain ? text : JoinArguments({value});
        written = span.End;
    }
    out.append(marked, written, std::string::npos);
    return out;
}

std::string FillArgumentTemplate(std::string_view argumentTemplate, std::string_view imagePath,
                                 std::string_view outputBase, std::string_view outputPath) {
    // "{outputbase}" is tried before "{output}" so the longer placeholder stays whole.
    return FillArguments(argumentTemplate,
                         {{"{image}", imagePath}, {"{outputbase}", outputBase}, {"{output}", outputPath}});
}

std::string JoinArguments(const std::vector<std::string>& args) {
    std::string out;
    for (const std::string& arg : args) {
        if (!out.empty()) out += ' ';
        if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) {
            out += arg;  // backslashes are literal where no quote follows
            continue;
        }
        out += '"';
        for (std::size_t i = 0; i < arg.size();) {
            std::size_t backslashes = 0;
            while (i < arg.size() && arg[i] == '\\') ++backslashes, ++i;
            if (i == arg.size()) {
                out.append(2 * backslashes, '\\');  // before the closing quote
            } else if (arg[i] == '"') {
                out.append(2 * backslashes + 1, '\\');
                out += arg[i++];
            } else {
                out.append(backslashes, '\\');
                out += arg[i++];
            }
        }
        out += '"';
    }
    return out;
}

std::string DecodeUtf8Lenient(std::string_view bytes, bool skipByteOrderMark) {
    if (skipByteOrderMark && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    std::string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const std::size_t len = Utf8SequenceLength(bytes, i);
        if (len == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(bytes.substr(i, len));
            i += len;
        }
    }
    return out;
}

namespace {

// A code point of well-formed UTF-8 at pos (length len) that is a control
// character: C0, DEL or C1.
bool IsControl(std::string_view s, std::size_t pos, std::size_t len) {
    const auto b0 = static_cast<unsigned char>(s[pos]);
    if (len == 1) return b0 < 0x20 || b0 == 0x7F;
    return len == 2 && b0 == 0xC2 && static_cast<unsigned char>(s[pos + 1]) < 0xA0;  // U+0080 ... U+009F
}

}  // namespace

std::string ErrorOutputSummary(std::string_view output) {
    std::vector<std::string> lines;
    std::string line;
    const std::string text = DecodeUtf8Lenient(output, false);
    auto flush = [&] {
        const std::string trimmed(TrimBlanks(line));
        if (!trimmed.empty()) lines.push_back(trimmed);
        line.clear();
    };
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t len = Utf8SequenceLength(text, i);
        if (text[i] == '\n' || text[i] == '\r') {
            flush();
        } else if (IsControl(text, i, len)) {
            line += ' ';
        } else {
            line.append(text, i, len);
        }
        i += len;
    }
    flush();
    std::string summary;
    for (std::size_t k = lines.size() > 3 ? lines.size() - 3 : 0; k < lines.size(); ++k)
        summary += (summary.empty() ? "" : " / ") + lines[k];
    constexpr std::size_t kMaxBytes = 500;
    if (summary.size() > kMaxBytes) {
        std::size_t cut = summary.size() - kMaxBytes;
        while (cut < summary.size() && (static_cast<unsigned char>(summary[cut]) & 0xC0) == 0x80) ++cut;
        summary = "…" + summary.substr(cut);
    }
    return summary;
}

bool IsEngineAnswer(std::string_view plaintext) {
    for (std::size_t i = 0; i < plaintext.size();) {
        const std::size_t len = Utf8SequenceLength(plaintext, i);
        if (len == 0 || IsControl(plaintext, i, len)) return false;
        i += len;
    }
    const std::size_t bar = plaintext.rfind('|');
    if (bar == std::string_view::npos) return false;
    std::string_view score = plaintext.substr(bar + 1);
    if (!score.empty() && score.front() == '-') score.remove_prefix(1);
    const std::size_t point = score.find('.');
    const std::string_view whole = score.substr(0, point);
    const std::string_view fraction = point == std::string_view::npos ? std::string_view("0") : score.substr(point + 1);
    auto digits = [](std::string_view d) {
        return !d.empty() && d.find_first_not_of("0123456789") == std::string_view::npos;
    };
    return digits(whole) && digits(fraction);
}

}  // namespace korvex
