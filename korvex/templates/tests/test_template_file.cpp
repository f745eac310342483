#include <gtest/gtest.h>

#include <random>

#include "model/tests/TempFolder.h"
#include "model/Errors.h"
#include "templates/IniDocument.h"
#include "templates/uBallotTemplate.h"

using namespace korvex;

namespace {

TBallotTemplate SampleStandard(int candidates, int slots) {
    TBallotTemplate t;
    t.TemplateID = "20261210-101500-1A2B3C4D";
    t.TemplateCode = TemplateCodeOf(t.TemplateID);
    t.Title = "第一届 业主委员会 选票";
    t.MaxSelect = 7;
    t.WriteInSlots = slots;
    t.GridLeft = 210, t.GridRight = 2270, t.LabelWidth = 210, t.CandidateCols = 7, t.CandidateStartY = 650;
    t.CandidateNameHeight = 112, t.CandidateMarkHeight = 132, t.CandidateGroupCount = 2, t.WriteInStartY = 1300;
    t.WriteInLabelWidth = 260, t.WriteInNameHeight = 112, t.WriteInMarkHeight = 126;
    for (int i = 0; i < candidates; ++i)
        t.Candidates.push_back({i + 3, "候选人" + std::to_string(i), {420 + i, 650, 684, 762}, {420, 762 + i, 684, 894}});
    for (int i = 0; i < slots; ++i) t.WriteIns.push_back({i + 1, {470, 1300 + i, 1000, 1412}, {470, 1412, 1000, 1538}});
    return t;
}

std::unique_ptr<TBallotTemplate> Load(const std::string& text) { return TemplateFromText(text); }

std::string ErrorOf(const std::string& text) {
    try {
        Load(text);
    } catch (const EKorvexError& e) {
        return e.what();
    }
    return "(no error)";
}

}  // namespace

TEST(RegionText, RoundTripAndErrors) {
    EXPECT_EQ(RectToText({420, 650, 684, 762}), "420,650,684,762");
    EXPECT_EQ(TextToRect("420,650,684,762"), (TRect{420, 650, 684, 762}));
    EXPECT_EQ(TextToRect("-5,0,-1,2147483647"), (TRect{-5, 0, -1, 2147483647}));
    const struct {
        const char* text;
        const char* message;
    } bad[] = {
        {"1;2;3;4", "无效区域坐标：1;2;3;4"},
        {"", "无效区域坐标："},
        {"1,2,3", "无效区域坐标：1,2,3"},
        {"1,2,3,4,5", "无效区域坐标：1,2,3,4,5"},
        {"1,2,a,4", "'a' is not a valid integer value"},
        {"1, 2,3,4", "' 2' is not a valid integer value"},
        {"1,2,3,", "'' is not a valid integer value"},
    };
    for (const auto& c : bad) {
        try {
            TextToRect(c.text);
            ADD_FAILURE() << "accepted " << c.text;
        } catch (const EKorvexError& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
    }
    EXPECT_THROW(TextToRect("1,2,a,4"), EConvertError);
}

TEST(TemplateFile, SaveAndLoadGiveEqualTemplates) {
    TempFolder dir;
    TBallotTemplate standard = SampleStandard(12, 2);
    standard.TemplateCode = 0xABCD;
    const std::string file = dir.File("Templates/sub/" + standard.TemplateID + ".ini");  // folders are created
    SaveTemplate(standard, file);
    EXPECT_EQ(*LoadTemplate(file), standard);
    EXPECT_NE(TempFolder::Read(file).find("TemplateCode=0000ABCD\r\n"), std::string::npos);

    TBallotTemplate external = SampleStandard(3, 1);
    external.TemplateKind = tkExternal;
    external.Version = 4;
    external.ExternalReferenceWidth = 1654, external.ExternalReferenceHeight = 2339;
    external.ExternalFrameRect = {100, 120, 1500, 2200};
    external.ExternalReferenceImage = "ExternalRefs\\EXT-1_ref.bmp";
    external.ExternalOptionMode = "2.3-✓对勾";
    SaveTemplate(external, dir.File("ext.ini"));
    EXPECT_EQ(*LoadTemplate(dir.File("ext.ini")), external);
}

TEST(TemplateFile, NewFileHoldsSectionsInOrder) {
    TempFolder dir;
    SaveTemplate(SampleStandard(5, 2), dir.File("t.ini"));
    const auto doc = TIniDocument::LoadFile(dir.File("t.ini"));
    EXPECT_EQ(doc.SectionNames(),
              (std::vector<std::string>{"Template", "Layout", "Candidates", "Candidate.1", "Candidate.2", "Candidate.3",
                                        "Candidate.4", "Candidate.5", "WriteIns", "WriteIn.1", "WriteIn.2"}));
    const std::string text = TempFolder::Read(dir.File("t.ini"));
    EXPECT_EQ(text.rfind("\xEF\xBB\xBF[Template]\r\nVersion=1\r\nTemplateID=", 0), 0u);
    EXPECT_NE(text.find("Type=Standard\r\n\r\n[Layout]\r\nGridLeft=210\r\n"), std::string::npos);
}

TEST(TemplateFile, DefaultsOfTemplateSectionOnly) {
    const auto t = Load("[Template]\nType=Standard\n");
    EXPECT_EQ(t->Title, "选票");
    EXPECT_EQ(t->MaxSelect, 5);
    EXPECT_EQ(t->Version, 1);
    EXPECT_EQ(t->TemplateCode, 0u);
    EXPECT_EQ(t->TemplateKind, tkStandard);
    EXPECT_EQ(t->WriteInSlots, 0);
    EXPECT_TRUE(t->Candidates.empty());
    EXPECT_TRUE(t->WriteIns.empty());
    const int layout[] = {t->GridLeft,          t->GridRight,           t->LabelWidth,          t->CandidateCols,
                          t->CandidateStartY,   t->CandidateNameHeight, t->CandidateMarkHeight, t->CandidateGroupCount,
                          t->WriteInStartY,     t->WriteInLabelWidth,   t->WriteInNameHeight,   t->WriteInMarkHeight};
    const int expected[] = {210, 2270, 210, 7, 650, 112, 132, 1, 1200, 260, 112, 126};
    for (int i = 0; i < 12; ++i) EXPECT_EQ(layout[i], expected[i]) << "layout key " << i;
    EXPECT_EQ(Load("[Template]\nTitle=\n")->Title, "");  // present but empty stays empty
}

TEST(TemplateFile, WriteInSlotsFromCount) {
    const auto missing = Load("[Template]\n[WriteIns]\nCount=3\n");
    EXPECT_EQ(missing->WriteInSlots, 3);
    ASSERT_EQ(missing->WriteIns.size(), 3u);
    EXPECT_EQ(missing->WriteIns[2].SlotNo, 3);  // SlotNo defaults to n
    const auto two = Load("[Template]\nWriteInSlots=2\n[WriteIns]\nCount=3\n[WriteIn.2]\nSlotNo=9\n");
    EXPECT_EQ(two->WriteInSlots, 2);
    ASSERT_EQ(two->WriteIns.size(), 3u);
    EXPECT_EQ(two->WriteIns[1].SlotNo, 9);
    EXPECT_EQ(Load("[Template]\nWriteInSlots=-4\n[WriteIns]\nCount=1\n")->WriteInSlots, 1);
}

TEST(TemplateFile, TypeAndOptionMode) {
    const struct {
        const char* type;
        TBallotTemplateKind kind;
    } types[] = {{"external", tkExternal}, {"  External  ", tkExternal}, {"EXTERNAL", tkExternal},
                 {"Externa", tkStandard},  {"Standard", tkStandard},     {"", tkStandard}};
    for (const auto& c : types)
        EXPECT_EQ(Load(std::string("[Template]\nType=") + c.type + "\n")->TemplateKind, c.kind) << c.type;
    EXPECT_EQ(Load("[Template]\nType=External\n[External]\nOptionMode=\n")->ExternalOptionMode, "1");
    EXPECT_EQ(Load("[Template]\nType=External\n[External]\nOptionMode=  2.3-✓对勾  \n")->ExternalOptionMode, "2.3-✓对勾");
    // A standard template ignores an External section left in its file.
    const auto standard = Load("[Template]\n[External]\nReferenceWidth=99\nOptionMode=3.1\nFrameRect=bad\n");
    EXPECT_EQ(standard->ExternalReferenceWidth, 0);
    EXPECT_EQ(standard->ExternalOptionMode, "1");
}

TEST(TemplateFile, FirstTemplateSectionWins) {
    const auto t = Load("[Template]\nTitle=first\n[Other]\n[Template]\nTitle=second\nMaxSelect=9\n");
    EXPECT_EQ(t->Title, "first");
    EXPECT_EQ(t->MaxSelect, 5);
}

TEST(TemplateFile, TemplateCodeParsing) {
    const struct {
        const char* text;
        std::uint32_t code;
    } cases[] = {{"zz", 0},           {"", 0},          {"1A47E90B", 0x1A47E90B}, {"1a47e90b", 0x1A47E90B},
                 {"ABCD", 0xABCD},     {"11A47E90B", 0x1A47E90B}, {"0x10", 0}, {"00000000000000001", 0},
                 {"FFFFFFFFFFFFFFFF", 0xFFFFFFFF}};
    for (const auto& c : cases)
        EXPECT_EQ(Load(std::string("[Template]\nTemplateCode=") + c.text + "\n")->TemplateCode, c.code) << c.text;
}

TEST(TemplateFile, BadRegionsFailWithTheirMessages) {
    EXPECT_EQ(ErrorOf("[Candidates]\nCount=1\n[Candidate.1]\nNameRect=1;2;3;4\n"), "无效区域坐标：1;2;3;4");
    EXPECT_EQ(ErrorOf("[Candidates]\nCount=1\n[Candidate.1]\nNameRect=\n"), "无效区域坐标：");
    EXPECT_EQ(ErrorOf("[WriteIns]\nCount=1\n[WriteIn.1]\nMarkRect=1,2,x,4\n"), "'x' is not a valid integer value");
    EXPECT_EQ(ErrorOf("[Template]\nType=External\n[External]\nFrameRect=0,0,0\n"), "无效区域坐标：0,0,0");
}

TEST(TemplateFile, MissingFile) {
    TempFolder dir;
    const std::string file = dir.File("none.ini");
    try {
        LoadTemplate(file);
        FAIL();
    } catch (const EKorvexError& e) {
        EXPECT_EQ(std::string(e.what()), "模板文件不存在：" + file);
    }
}

// Every text is written only when the reader gives it back unchanged: a name
// with a blank at one end would read back trimmed (and every ballot of the
// template would then fail to commit), a line break would add a line.
TEST(TemplateFile, TextsThatWouldNotReadBackAreRefusedAndNothingIsWritten) {
    TempFolder dir;
    const std::string file = dir.Write("t.ini", "previous");
    const struct {
        void (*spoil)(TBallotTemplate&);
        const char* error;
    } cases[] = {
        {[](TBallotTemplate& t) { t.Candidates[1].Name = "李四 "; },
         "第2位候选人姓名“李四 ”首尾有空白或含有换行符，写入模板后不能原样读回，模板未保存。"},
        {[](TBallotTemplate& t) { t.Candidates[0].Name = "\t李四"; },
         "第1位候选人姓名“<U+0009>李四”首尾有空白或含有换行符，写入模板后不能原样读回，模板未保存。"},
        {[](TBallotTemplate& t) { t.Candidates[2].Name = "李四\r\n[Candidates]\r\nCount=1"; },
         "第3位候选人姓名“李四<U+000D><U+000A>[Candidates]<U+000D><U+000A>Count=1”首尾有空白或含有换行符，"
         "写入模板后不能原样读回，模板未保存。"},
        {[](TBallotTemplate& t) { t.Title = "第一届\n选举"; },
         "标题“第一届<U+000A>选举”首尾有空白或含有换行符，写入模板后不能原样读回，模板未保存。"},
        {[](TBallotTemplate& t) { t.TemplateID = " X"; },
         "模板编号“ X”首尾有空白或含有换行符，写入模板后不能原样读回，模板未保存。"},
        {[](TBallotTemplate& t) {
             t.TemplateKind = tkExternal;
             t.ExternalReferenceImage = "ExternalRefs\\a.bmp ";
         },
         "参考图片“ExternalRefs\\a.bmp ”首尾有空白或含有换行符，写入模板后不能原样读回，模板未保存。"},
    };
    for (const auto& c : cases) {
        TBallotTemplate t = SampleStandard(3, 1);
        c.spoil(t);
        try {
            SaveTemplate(t, file);
            ADD_FAILURE() << "saved: " << c.error;
        } catch (const EKorvexError& e) {
            EXPECT_EQ(std::string(e.what()), c.error);
        }
        EXPECT_EQ(TempFolder::Read(file), "previous");
    }
    // Blanks inside a text, and blanks other than the reader trims, read back as they are.
    TBallotTemplate t = SampleStandard(3, 1);
    t.Candidates[0].Name = "欧阳 娜娜";
    t.Candidates[1].Name = "王五\u3000";
    t.Title = "";
    SaveTemplate(t, file);
    EXPECT_EQ(*LoadTemplate(file), t);
}

TEST(TemplateFile, RewriteOverLargerFileKeepsOldSections) {
    TempFolder dir;
    const std::string file = dir.File("t.ini");
    TBallotTemplate t = SampleStandard(7, 0);
    t.TemplateKind = tkExternal;
    SaveTemplate(t, file);
    t.Candidates.pop_back();
    t.TemplateKind = tkStandard;
    SaveTemplate(t, file);
    const auto doc = TIniDocument::LoadFile(file);
    EXPECT_TRUE(doc.HasSection("Candidate.7"));
    EXPECT_TRUE(doc.HasSection("External"));
    EXPECT_EQ(doc.ReadInteger("Candidates", "Count", 0), 6);
    const auto loaded = LoadTemplate(file);
    EXPECT_EQ(loaded->Candidates.size(), 6u);
    EXPECT_EQ(*loaded, t);
}

TEST(TemplateFile, HugeCountsFailInsteadOfAllocating) {
    EXPECT_EQ(ErrorOf("[Candidates]\nCount=2000000000\n"), "模板文件中 [Candidates] 的 Count 值 2000000000 超出上限 10000。");
    EXPECT_EQ(ErrorOf("[WriteIns]\nCount=0x7FFFFFFF\n"), "模板文件中 [WriteIns] 的 Count 值 2147483647 超出上限 10000。");
    EXPECT_TRUE(Load("[Candidates]\nCount=-5\n")->Candidates.empty());
    EXPECT_EQ(Load("[Candidates]\nCount=10000\n")->Candidates.size(), 10000u);  // the bound itself loads
}

TEST(TemplateFile, GarbageAndTruncatedFilesLoadDefaultsOrFail) {
    TempFolder dir;
    TBallotTemplate t = SampleStandard(4, 2);
    SaveTemplate(t, dir.File("t.ini"));
    const std::string full = TempFolder::Read(dir.File("t.ini"));
    // Every truncation either loads (with fewer keys) or fails with a message.
    for (std::size_t cut = 0; cut < full.size(); cut += 7) {
        try {
            const auto loaded = Load(full.substr(0, cut));
            EXPECT_LE(loaded->Candidates.size(), 4u);
        } catch (const EKorvexError&) {
        }
    }
    std::mt19937 gen(42);
    for (int round = 0; round < 50; ++round) {
        std::string bytes(4096, '\0');
        for (char& c : bytes) c = static_cast<char>(gen());
        const auto loaded = Load(bytes);  // no sections: nothing but defaults
        EXPECT_EQ(loaded->Title, "选票");
        EXPECT_TRUE(loaded->Candidates.empty());
    }
}
