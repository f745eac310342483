#include "templates/uStandardLayout.h"

#include <ctime>

#include "model/Errors.h"
#include "model/TextUtil.h"

namespace korvex {

namespace {

constexpr int kGridLeft = 210;
constexpr int kGridRight = 2270;
constexpr int kLabelWidth = 210;
constexpr int kCandidateLeft = kGridLeft + kLabelWidth;      // 420
constexpr int kCandidateWidth = kGridRight - kCandidateLeft; // 1850
constexpr int kCandidateStartY = 650;
constexpr int kWriteInGap = 120;
constexpr int kWriteInLabelWidth = 260;
constexpr int kWriteInLeft = kGridLeft + kWriteInLabelWidth;  // 470
constexpr int kWriteInWidth = 450;
constexpr int kWriteInNameHeight = 112;
constexpr int kWriteInMarkHeight = 126;

struct TGridRow {
    int UpTo;
    TStandardGrid Grid;
};

constexpr TGridRow kGridTable[] = {
    {10, {5, 2}}, {15, {5, 3}}, {18, {6, 3}}, {21, {7, 3}}, {24, {4, 6}}, {25, {5, 5}},
    {30, {6, 5}}, {35, {7, 5}}, {36, {6, 6}}, {42, {7, 6}}, {49, {7, 7}}, {56, {7, 8}},
};

}  // namespace

TStandardGrid ChooseStandardGrid(int candidateCount) {
    if (candidateCount <= 0) throw EKorvexError("数据库中没有候选人。");
    if (candidateCount > kMaxStandardCandidates)
        throw EKorvexError("当前版式最多支持56名正式候选人，请先调整版式参数。");
    if (candidateCount <= 7) return {candidateCount, 1};
    for (const TGridRow& row : kGridTable)
        if (candidateCount <= row.UpTo) return row.Grid;
    return {7, 8};  // not reached: the table ends at the limit
}

std::string NewStandardTemplateID() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    return std::string(stamp) + "-" + NewGuidText().substr(0, 8);
}

std::unique_ptr<TBallotTemplate> GenerateStandardTemplateWithID(const std::vector<TCandidateInfo>& candidates,
                                                                std::string_view title, int maxSelect,
                                                                int writeInCount, std::string templateID) {
    const TStandardGrid grid = ChooseStandardGrid(static_cast<int>(candidates.size()));
    int nameH = 112, markH = 132;
    if (grid.Groups >= 8) nameH = 100, markH = 116;
    if (maxSelect <= 0) throw EKorvexError("有效票标准（最多可选人数）必须大于0。");
    if (writeInCount < 0) writeInCount = 0;
    if (writeInCount > kMaxWriteInSlots) throw EKorvexError("另选人数量只允许 0 到 4。");

    auto t = std::make_unique<TBallotTemplate>();
    t->TemplateID = std::move(templateID);
    t->TemplateCode = TemplateCodeOf(t->TemplateID);
    t->Title = TrimmedCopy(title);
    if (t->Title.empty()) t->Title = "选票";
    t->MaxSelect = maxSelect;
    t->WriteInSlots = writeInCount;
    t->GridLeft = kGridLeft;
    t->GridRight = kGridRight;
    t->LabelWidth = kLabelWidth;
    t->CandidateCols = grid.Columns;
    t->CandidateStartY = kCandidateStartY;
    t->CandidateNameHeight = nameH;
    t->CandidateMarkHeight = markH;
    t->CandidateGroupCount = grid.Groups;

    const int colW = kCandidateWidth / grid.Columns;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const int g = static_cast<int>(i) / grid.Columns;
        const int c = static_cast<int>(i) % grid.Columns;
        const int top = kCandidateStartY + g * (nameH + markH);
        const int left = kCandidateLeft + c * colW, right = kCandidateLeft + (c + 1) * colW;
        TCandidateTemplate cell;
        cell.ID = candidates[i].ID;
        cell.Name = candidates[i].Name;
        cell.NameRect = {left, top, right, top + nameH};
        cell.MarkRect = {left, top + nameH, right, top + nameH + markH};
        t->Candidates.push_back(std::move(cell));
    }

    t->WriteInStartY = kCandidateStartY + grid.Groups * (nameH + markH) + kWriteInGap;
    t->WriteInLabelWidth = kWriteInLabelWidth;
    t->WriteInNameHeight = kWriteInNameHeight;
    t->WriteInMarkHeight = kWriteInMarkHeight;
    const int y = t->WriteInStartY;
    for (int j = 0; j < writeInCount; ++j) {
        const int left = kWriteInLeft + kWriteInWidth * j, right = kWriteInLeft + kWriteInWidth * (j + 1);
        t->WriteIns.push_back({j + 1, {left, y, right, y + kWriteInNameHeight},
                               {left, y + kWriteInNameHeight, right, y + kWriteInNameHeight + kWriteInMarkHeight}});
    }
    return t;
}

std::unique_ptr<TBallotTemplate> GenerateStandardTemplate(const std::vector<TCandidateInfo>& candidates,
                                                          std::string_view title, int maxSelect, int writeInCount) {
    // The grid check comes first so that an empty list is reported before
    // anything else; the identifier is only made for a valid request.
    ChooseStandardGrid(static_cast<int>(candidates.size()));
    if (maxSelect <= 0) throw EKorvexError("有效票标准（最多可选人数）必须大于0。");
    if (writeInCount > kMaxWriteInSlots) throw EKorvexError("另选人数量只允许 0 到 4。");
    return GenerateStandardTemplateWithID(candidates, title, maxSelect, writeInCount, NewStandardTemplateID());
}

}  // namespace korvex
