#include <gtest/gtest.h>

#include <cctype>

#include "model/Errors.h"
#include "templates/uStandardLayout.h"

using namespace korvex;

namespace {

std::vector<TCandidateInfo> Candidates(int n) {
    std::vector<TCandidateInfo> list;
    for (int i = 0; i < n; ++i) list.push_back({100 + i, "候选人" + std::to_string(i + 1), false});
    return list;
}

// "yyyymmdd-hhnnss-" and eight upper-case hexadecimal digits.
bool LooksLikeTemplateID(const std::string& id) {
    if (id.size() != 24 || id[8] != '-' || id[15] != '-' || id.compare(0, 2, "20") != 0) return false;
    for (std::size_t i = 0; i < 24; ++i) {
        const unsigned char c = static_cast<unsigned char>(id[i]);
        if (i == 8 || i == 15) continue;
        if (i < 15 ? !std::isdigit(c) : !(std::isdigit(c) || (c >= 'A' && c <= 'F'))) return false;
    }
    return true;
}

std::string GenerateError(int n, int maxSelect, int slots) {
    try {
        GenerateStandardTemplate(Candidates(n), "选票", maxSelect, slots);
    } catch (const EKorvexError& e) {
        return e.what();
    }
    return "(no error)";
}

const char* kTooMany = "当前版式最多支持56名正式候选人，请先调整版式参数。";
const char* kNone = "数据库中没有候选人。";
const char* kMaxSelect = "有效票标准（最多可选人数）必须大于0。";
const char* kSlots = "另选人数量只允许 0 到 4。";

}  // namespace

TEST(ChooseStandardGrid, MapsEveryCountOfTheTable) {
    struct Row { int from, to, cols, groups; };
    const Row rows[] = {{8, 10, 5, 2},  {11, 15, 5, 3}, {16, 18, 6, 3}, {19, 21, 7, 3}, {22, 24, 4, 6},
                        {25, 25, 5, 5}, {26, 30, 6, 5}, {31, 35, 7, 5}, {36, 36, 6, 6}, {37, 42, 7, 6},
                        {43, 49, 7, 7}, {50, 56, 7, 8}};
    for (int n = 1; n <= 7; ++n) EXPECT_EQ(ChooseStandardGrid(n), (TStandardGrid{n, 1})) << n;
    for (const Row& r : rows)
        for (int n = r.from; n <= r.to; ++n) {
            EXPECT_EQ(ChooseStandardGrid(n), (TStandardGrid{r.cols, r.groups})) << n;
            EXPECT_GE(r.cols * r.groups, n);
        }
}

TEST(ChooseStandardGrid, RefusesEmptyAndOversizedLists) {
    for (int n : {0, -1}) {
        try { ChooseStandardGrid(n); FAIL() << n; } catch (const EKorvexError& e) { EXPECT_STREQ(e.what(), kNone); }
    }
    try { ChooseStandardGrid(57); FAIL(); } catch (const EKorvexError& e) { EXPECT_STREQ(e.what(), kTooMany); }
}

TEST(GenerateStandardTemplate, WorkedExampleTwelveCandidatesTwoSlots) {
    auto t = GenerateStandardTemplate(Candidates(12), "  业主委员会选票 ", 7, 2);
    EXPECT_EQ(t->Title, "业主委员会选票");
    EXPECT_EQ(t->TemplateKind, tkStandard);
    EXPECT_EQ(t->Version, 1);
    EXPECT_EQ(t->MaxSelect, 7);
    EXPECT_EQ(t->WriteInSlots, 2);
    EXPECT_EQ(t->CandidateCols, 5);
    EXPECT_EQ(t->CandidateGroupCount, 3);
    EXPECT_EQ(t->GridLeft, 210);
    EXPECT_EQ(t->GridRight, 2270);
    EXPECT_EQ(t->LabelWidth, 210);
    EXPECT_EQ(t->CandidateStartY, 650);
    EXPECT_EQ(t->CandidateNameHeight, 112);
    EXPECT_EQ(t->CandidateMarkHeight, 132);
    ASSERT_EQ(t->Candidates.size(), 12u);
    const TCandidateTemplate& c7 = t->Candidates[6];
    EXPECT_EQ(c7.ID, 106);
    EXPECT_EQ(c7.Name, "候选人7");
    EXPECT_EQ(c7.NameRect, (TRect{790, 894, 1160, 1006}));
    EXPECT_EQ(c7.MarkRect, (TRect{790, 1006, 1160, 1138}));
    EXPECT_EQ(t->Candidates[11].NameRect, (TRect{790, 1138, 1160, 1250}));
    EXPECT_EQ(t->WriteInStartY, 1502);
    EXPECT_EQ(t->WriteInLabelWidth, 260);
    EXPECT_EQ(t->WriteInNameHeight, 112);
    EXPECT_EQ(t->WriteInMarkHeight, 126);
    ASSERT_EQ(t->WriteIns.size(), 2u);
    EXPECT_EQ(t->WriteIns[0].SlotNo, 1);
    EXPECT_EQ(t->WriteIns[1].SlotNo, 2);
    EXPECT_EQ(t->WriteIns[1].NameRect, (TRect{920, 1502, 1370, 1614}));
    EXPECT_EQ(t->WriteIns[1].MarkRect, (TRect{920, 1614, 1370, 1740}));
    EXPECT_EQ(t->TemplateCode, TemplateCodeOf(t->TemplateID));
    EXPECT_TRUE(LooksLikeTemplateID(t->TemplateID)) << t->TemplateID;
    EXPECT_FALSE(LooksLikeTemplateID("20261210-1015-0A1B2C3D"));
}

TEST(GenerateStandardTemplate, EdgeLayouts) {
    struct Case {
        int n;
        int cols, groups, nameH, markH;
        int lastIndex;
        TRect lastName, lastMark;
        int writeInStartY;
    };
    const Case cases[] = {
        {1, 1, 1, 112, 132, 0, {420, 650, 2270, 762}, {420, 762, 2270, 894}, 1014},
        {7, 7, 1, 112, 132, 6, {2004, 650, 2268, 762}, {2004, 762, 2268, 894}, 1014},
        {8, 5, 2, 112, 132, 7, {1160, 894, 1530, 1006}, {1160, 1006, 1530, 1138}, 1258},
        {24, 4, 6, 112, 132, 23, {1806, 1870, 2268, 1982}, {1806, 1982, 2268, 2114}, 2234},
        {25, 5, 5, 112, 132, 24, {1900, 1626, 2270, 1738}, {1900, 1738, 2270, 1870}, 1990},
        {49, 7, 7, 112, 132, 48, {2004, 2114, 2268, 2226}, {2004, 2226, 2268, 2358}, 2478},
        {50, 7, 8, 100, 116, 49, {420, 2162, 684, 2262}, {420, 2262, 684, 2378}, 2498},
        {56, 7, 8, 100, 116, 55, {2004, 2162, 2268, 2262}, {2004, 2262, 2268, 2378}, 2498},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.n);
        auto t = GenerateStandardTemplate(Candidates(c.n), "选票", 1, 4);
        EXPECT_EQ(t->CandidateCols, c.cols);
        EXPECT_EQ(t->CandidateGroupCount, c.groups);
        EXPECT_EQ(t->CandidateNameHeight, c.nameH);
        EXPECT_EQ(t->CandidateMarkHeight, c.markH);
        ASSERT_EQ(t->Candidates.size(), static_cast<std::size_t>(c.n));
        EXPECT_EQ(t->Candidates[c.lastIndex].NameRect, c.lastName);
        EXPECT_EQ(t->Candidates[c.lastIndex].MarkRect, c.lastMark);
        EXPECT_EQ(t->WriteInStartY, c.writeInStartY);
        // The last write-in slot ends at the grid's right edge and the
        // write-in area stays clear of the lower corner blocks.
        EXPECT_EQ(t->WriteIns.back().NameRect.Right, 2270);
        EXPECT_LE(t->WriteIns.back().MarkRect.Bottom, 2736);
    }
}

TEST(GenerateStandardTemplate, TitleAndWriteInCountRules) {
    EXPECT_EQ(GenerateStandardTemplate(Candidates(3), " \t ", 1, 0)->Title, "选票");
    auto none = GenerateStandardTemplate(Candidates(3), "T", 1, -3);
    EXPECT_EQ(none->WriteInSlots, 0);
    EXPECT_TRUE(none->WriteIns.empty());
    EXPECT_EQ(none->WriteInStartY, 1014);
    EXPECT_EQ(GenerateStandardTemplate(Candidates(3), "T", 1, 4)->WriteIns.size(), 4u);
}

TEST(GenerateStandardTemplate, RefusalsComeInOrder) {
    struct Case { int n, maxSelect, slots; const char* message; };
    const Case cases[] = {
        {0, 0, 5, kNone},       // the candidate error comes before everything else
        {57, 0, 5, kTooMany},
        {57, 3, 2, kTooMany},
        {12, 0, 2, kMaxSelect},  // maxSelect 0 refused even with a valid list
        {12, -1, 5, kMaxSelect}, // ... and before the slot count
        {12, 3, 5, kSlots},
    };
    for (const Case& c : cases) EXPECT_EQ(GenerateError(c.n, c.maxSelect, c.slots), c.message) << c.n;
    EXPECT_EQ(GenerateError(56, 1, 4), "(no error)");
}

TEST(GenerateStandardTemplate, TwoGenerationsGetDifferentIdentifiers) {
    auto a = GenerateStandardTemplate(Candidates(2), "T", 1, 0);
    auto b = GenerateStandardTemplate(Candidates(2), "T", 1, 0);
    EXPECT_NE(a->TemplateID, b->TemplateID);
    EXPECT_NE(a->TemplateCode, b->TemplateCode);
    EXPECT_NE(a->TemplateCode, 0u);
}
