#include "ForgeBallot.h"

#include <cstdio>
#include <sstream>

#include <QPainter>

#include "model/Errors.h"
#include "model/JsonText.h"
#include "model/TextUtil.h"
#include "templates/uBallotTemplate.h"

namespace korvex::forge {

namespace {

const char* const kNames[] = {"王建国", "李秀英", "张伟", "刘芳", "陈志强", "杨丽娟", "赵敏", "黄海涛",
                              "周晓梅", "吴国华", "徐静", "孙立新", "马俊", "朱红霞", "胡永平", "郭晨"};

std::vector<std::string> SplitOn(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string current;
    for (char c : text) {
        if (c == separator) {
            parts.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    parts.push_back(current);
    return parts;
}

TMarkStyle RandomStyle(TForgeRandom& rng, double hardShare) {
    if (rng.Chance(hardShare)) {
        static const TMarkStyle hard[] = {TMarkStyle::Specks, TMarkStyle::ScribbledCircle, TMarkStyle::BorderCross,
                                          TMarkStyle::FaintCircle, TMarkStyle::FaintCross};
        return hard[rng.Int(0, 4)];
    }
    const double u = rng.Unit();
    if (u < 0.45) return TMarkStyle::Circle;
    if (u < 0.75) return TMarkStyle::Cross;
    return TMarkStyle::Blank;
}

std::string Num(double v) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.6g", v);
    return buffer;
}

const char* MarkName(TMarkState m) {
    switch (m) {
        case msApprove: return "O";
        case msReject: return "X";
        case msBlank: return "blank";
        default: return "?";
    }
}

}  // namespace

TBallotFill ParseFillLine(const std::string& line, const TBallotTemplate& t) {
    TBallotFill fill;
    const std::vector<std::string> parts = SplitOn(line, '|');
    const std::string marks(TrimBlanks(parts[0]));
    for (char c : marks) {
        if (c == ' ') continue;
        TMarkStyle style;
        if (!MarkStyleFromChar(c, style)) throw EKorvexError(Format("无效的符号字符 '%c'：%s", c, line.c_str()));
        fill.Candidates.push_back(style);
    }
    if (fill.Candidates.size() > t.Candidates.size())
        throw EKorvexError(Format("符号多于候选人（%zu > %zu）：%s", fill.Candidates.size(), t.Candidates.size(), line.c_str()));
    fill.Candidates.resize(t.Candidates.size(), TMarkStyle::Blank);
    for (std::size_t i = 1; i < parts.size(); ++i) {
        const std::string slot(TrimBlanks(parts[i]));
        TWriteInFill w;
        const std::size_t colon = slot.rfind(':');
        std::string markText = colon == std::string::npos ? "-" : std::string(TrimBlanks(slot.substr(colon + 1)));
        w.Name = std::string(TrimBlanks(colon == std::string::npos ? slot : slot.substr(0, colon)));
        if (markText.size() != 1 || !MarkStyleFromChar(markText[0], w.Mark))
            throw EKorvexError("无效的另选人符号：" + slot);
        fill.WriteIns.push_back(w);
    }
    if (fill.WriteIns.size() > t.WriteIns.size())
        throw EKorvexError(Format("另选人多于模板的另选栏（%zu > %zu）：%s", fill.WriteIns.size(), t.WriteIns.size(), line.c_str()));
    fill.WriteIns.resize(t.WriteIns.size());
    return fill;
}

std::string FillToLine(const TBallotFill& fill) {
    std::string line;
    for (TMarkStyle s : fill.Candidates) line += MarkStyleChar(s);
    for (const TWriteInFill& w : fill.WriteIns) line += " | " + w.Name + ":" + MarkStyleChar(w.Mark);
    return line;
}

TBallotFill RandomFill(const TBallotTemplate& t, TForgeRandom& rng, double hardShare) {
    TBallotFill fill;
    bool anyCross = false;
    for (std::size_t i = 0; i < t.Candidates.size(); ++i) {
        fill.Candidates.push_back(RandomStyle(rng, hardShare));
        anyCross = anyCross || IntendedMark(fill.Candidates.back()) == msReject;
    }
    for (std::size_t j = 0; j < t.WriteIns.size(); ++j) {
        TWriteInFill w;
        if (anyCross && rng.Chance(0.35)) {
            w.Name = kNames[rng.Int(0, static_cast<int>(std::size(kNames)) - 1)];
            w.Mark = rng.Chance(0.85) ? TMarkStyle::Circle : TMarkStyle::Blank;
        }
        fill.WriteIns.push_back(w);
    }
    return fill;
}

std::vector<TCandidateInfo> ForgeCandidateNames(int count) {
    static const char* const surnames[] = {"王", "李", "张", "刘", "陈", "杨", "赵", "黄", "周", "吴", "徐", "孙", "胡", "朱",
                                           "高", "林", "何", "郭", "马", "罗"};
    static const char* const given[] = {"建华", "秀兰", "志明", "海燕", "国强", "丽萍", "文军", "春梅", "德胜",
                                        "晓东", "桂英", "永刚", "玉珍", "振宇", "淑芬", "立新", "红梅", "光辉"};
    std::vector<TCandidateInfo> list;
    for (int i = 0; i < count; ++i) {
        const std::size_t s = static_cast<std::size_t>(i) % std::size(surnames);
        const std::size_t g = (static_cast<std::size_t>(i) * 7 + static_cast<std::size_t>(i) / std::size(surnames)) % std::size(given);
        list.push_back({i + 1, std::string(surnames[s]) + given[g], false});
    }
    return list;
}

namespace {

// A split option cell: the intended answer goes into its box (approve, oppose,
// abstain from the left); a blank on a three-box cell is the abstain box.
void DrawSplitOption(QPainter& p, const TRect& cell, int boxes, char variant, TMarkStyle style, const TPen& pen,
                     TForgeRandom& rng) {
    if (style == TMarkStyle::Specks) {
        DrawMark(p, cell, style, pen, rng);
        return;
    }
    int box = -1;
    switch (IntendedMark(style)) {
        case msApprove: box = 0; break;
        case msReject: box = 1; break;
        default: box = boxes == 3 ? 2 : -1; break;
    }
    if (box < 0) return;
    const int w = cell.Width() / boxes;
    const TRect target{cell.Left + box * w, cell.Top, cell.Left + (box + 1) * w, cell.Bottom};
    const bool faint = style == TMarkStyle::FaintCircle || style == TMarkStyle::FaintCross;
    DrawOptionMark(p, target, variant, faint, pen, rng);
}

}  // namespace

void DrawFill(QImage& page, const TBallotTemplate& t, const TBallotFill& fill, TForgeRandom& rng) {
    QPainter p(&page);
    const TPen pen = ChooseBallotPen(rng);
    const std::string& mode = t.ExternalOptionMode;
    const bool split = t.TemplateKind == tkExternal && mode.size() >= 3 && (mode[0] == '2' || mode[0] == '3');
    auto drawCell = [&](const TRect& cell, TMarkStyle style) {
        if (split) DrawSplitOption(p, cell, mode[0] - '0', mode[2], style, pen, rng);
        else DrawMark(p, cell, style, pen, rng);
    };
    for (std::size_t i = 0; i < t.Candidates.size() && i < fill.Candidates.size(); ++i)
        drawCell(t.Candidates[i].MarkRect, fill.Candidates[i]);
    for (std::size_t j = 0; j < t.WriteIns.size() && j < fill.WriteIns.size(); ++j) {
        const TWriteInFill& w = fill.WriteIns[j];
        DrawHandwrittenName(p, t.WriteIns[j].NameRect, w.Name, pen, rng);
        // An unused slot stays untouched, also on a three-box cell where a
        // blank would otherwise be drawn as the abstain box.
        if (w.Name.empty() && w.Mark == TMarkStyle::Blank) continue;
        drawCell(t.WriteIns[j].MarkRect, w.Mark);
    }
}

std::string GroundTruthJson(const TBallotTemplate& t, std::uint64_t seed, const std::vector<TForgedScan>& scans) {
    std::ostringstream j;
    j << "{\n  \"seed\": " << seed << ",\n  \"templateID\": " << JsonString(t.TemplateID)
      << ",\n  \"templateCode\": " << JsonString(TemplateCodeText(t.TemplateCode))
      << ",\n  \"templateKind\": " << JsonString(t.TemplateKind == tkExternal ? "External" : "Standard");
    if (t.TemplateKind == tkExternal) j << ",\n  \"optionMode\": " << JsonString(t.ExternalOptionMode);
    j << ",\n  \"ballots\": [";
    for (std::size_t b = 0; b < scans.size(); ++b) {
        const TForgedScan& s = scans[b];
        const QTransform& m = s.PageToScan;
        j << (b ? ",\n" : "\n") << "    {\n      \"file\": " << JsonString(s.FileName) << ",\n      \"fill\": "
          << JsonString(FillToLine(s.Fill)) << ",\n      \"geometry\": {\"dpi\": " << s.Scan.Dpi
          << ", \"rotation\": " << 90 * s.Scan.QuarterTurns << ", \"skewDegrees\": " << Num(s.Scan.SkewDegrees)
          << ", \"shiftMm\": [" << Num(s.Scan.ShiftXMm) << ", " << Num(s.Scan.ShiftYMm) << "]"
          << ", \"perspective\": " << Num(s.Scan.Perspective) << ", \"noiseSigma\": " << Num(s.Scan.NoiseSigma)
          << ", \"blur\": " << Num(s.Scan.Blur) << ", \"width\": " << s.Width << ", \"height\": " << s.Height
          << ",\n        \"pageToScan\": [" << Num(m.m11()) << ", " << Num(m.m12()) << ", " << Num(m.m13()) << ", "
          << Num(m.m21()) << ", " << Num(m.m22()) << ", " << Num(m.m23()) << ", " << Num(m.m31()) << ", "
          << Num(m.m32()) << ", " << Num(m.m33()) << "]},\n      \"candidates\": [";
        for (std::size_t i = 0; i < t.Candidates.size() && i < s.Fill.Candidates.size(); ++i) {
            const TMarkStyle style = s.Fill.Candidates[i];
            j << (i ? ",\n" : "\n") << "        {\"id\": " << t.Candidates[i].ID << ", \"name\": "
              << JsonString(t.Candidates[i].Name) << ", \"mark\": \"" << MarkName(IntendedMark(style))
              << "\", \"style\": \"" << MarkStyleName(style) << "\"}";
        }
        j << "\n      ],\n      \"writeIns\": [";
        for (std::size_t w = 0; w < s.Fill.WriteIns.size(); ++w) {
            const TWriteInFill& f = s.Fill.WriteIns[w];
            j << (w ? ",\n" : "\n") << "        {\"slot\": " << w + 1 << ", \"name\": " << JsonString(f.Name)
              << ", \"mark\": \"" << MarkName(IntendedMark(f.Mark)) << "\", \"style\": \"" << MarkStyleName(f.Mark)
              << "\"}";
        }
        j << (s.Fill.WriteIns.empty() ? "]\n    }" : "\n      ]\n    }");
    }
    j << "\n  ]\n}\n";
    return j.str();
}

}  // namespace korvex::forge
