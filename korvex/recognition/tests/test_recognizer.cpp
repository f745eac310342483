// The recognition pipeline on synthetic standard ballots: a page with corner
// blocks and the template code, circles and crosses drawn in the mark cells,
// turned and saved like a scan.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

#include "imaging/ImageFiles.h"
#include "imaging/tests/TestImages.h"
#include "model/tests/TempFolder.h"
#include "recognition/uRecognizer.h"
#include "model/TextUtil.h"
#include "templates/uBallotTemplate.h"

using namespace korvex;
namespace fs = std::filesystem;

namespace {

std::string AsciiLowerForTest(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// Three candidates in a row and two write-in slots, in page units.
TBallotTemplate MakeTemplate(const std::string& id) {
    TBallotTemplate t;
    t.TemplateID = id;
    t.TemplateCode = TemplateCodeOf(id);
    t.Title = "测试选票";
    t.MaxSelect = 2;
    t.WriteInSlots = 2;
    const char* names[] = {"甲", "乙", "丙"};
    for (int i = 0; i < 3; ++i)
        t.Candidates.push_back({i + 1, names[i], {300 + 300 * i, 650, 560 + 300 * i, 762}, {300 + 300 * i, 762, 560 + 300 * i, 894}});
    for (int s = 0; s < 2; ++s)
        t.WriteIns.push_back({s + 1, {300 + 600 * s, 1200, 820 + 600 * s, 1312}, {300 + 600 * s, 1312, 820 + 600 * s, 1438}});
    return t;
}

void DrawCellBorder(TRaster& page, const TRect& r) { test::DrawFrame(page, r.Left, r.Top, r.Right, r.Bottom, 2); }

void DrawMark(TRaster& page, const TRect& r, TMarkState mark) {
    const double cx = (r.Left + r.Right) / 2.0, cy = (r.Top + r.Bottom) / 2.0;
    const double w = r.Right - r.Left, h = r.Bottom - r.Top;
    if (mark == msApprove) test::DrawEllipse(page, cx, cy, w * 0.22, h * 0.3, 3);
    if (mark == msReject) {
        test::DrawLine(page, cx - w * 0.2, cy - h * 0.3, cx + w * 0.2, cy + h * 0.3, 3);
        test::DrawLine(page, cx + w * 0.2, cy - h * 0.3, cx - w * 0.2, cy + h * 0.3, 3);
    }
}

// Handwriting stand-in: a few strokes across the name cell.
void DrawName(TRaster& page, const TRect& r) {
    for (int k = 0; k < 4; ++k)
        test::DrawLine(page, r.Left + 60 + 90 * k, r.Top + 30, r.Left + 110 + 90 * k, r.Bottom - 30, 3);
}

struct Ballot {
    std::vector<TMarkState> candidates;
    std::vector<TMarkState> writeInMarks{msBlank, msBlank};
    std::vector<bool> writeInNames{false, false};
};

TRaster DrawBallot(const TBallotTemplate& t, const Ballot& b) {
    TRaster page = test::DrawStandardPage(t.TemplateCode);
    for (std::size_t i = 0; i < t.Candidates.size(); ++i) {
        DrawCellBorder(page, t.Candidates[i].MarkRect);
        DrawMark(page, t.Candidates[i].MarkRect, b.candidates[i]);
    }
    for (std::size_t i = 0; i < t.WriteIns.size(); ++i) {
        DrawCellBorder(page, t.WriteIns[i].MarkRect);
        DrawMark(page, t.WriteIns[i].MarkRect, b.writeInMarks[i]);
        if (b.writeInNames[i]) DrawName(page, t.WriteIns[i].NameRect);
    }
    return page;
}

TRaster Turn(const TRaster& page, int quarterTurns) {
    TRaster r = page;
    for (int i = 0; i < quarterTurns; ++i) r = test::RotateClockwise(r);
    return r;
}

class Recognizer : public ::testing::Test {
protected:
    void SetUp() override {
        templates_ = dir_.File("Templates");
        t_ = MakeTemplate("20261210-101500-AB12CD34");
        SaveTemplate(t_, templates_ + "/" + t_.TemplateID + ".ini");
        config_ = dir_.File("Korvex.ini");
    }
    std::string Scan(const TRaster& r, const std::string& name) {
        const std::string file = dir_.File(name);
        SaveBitmap24(r, file);
        return file;
    }
    // An OCR stand-in: a script that answers "name|score" in a text result file.
    void UseOCRScript(const std::string& answer) {
        const std::string script = dir_.File("fake-ocr.sh");
        std::ofstream(script) << "#!/bin/sh\necho '" << answer << "' > \"$2\"\necho x >> " << dir_.File("ocr-calls") << "\n";
        ::chmod(script.c_str(), 0755);
        std::ofstream(config_) << "[OCR]\nCommand=" << script << "\nArguments={image} {output}\nTextFileExtension=.txt\n";
    }
    int OCRCalls() const {
        std::ifstream in(dir_.File("ocr-calls"));
        int n = 0;
        for (std::string line; std::getline(in, line);) ++n;
        return n;
    }

    TempFolder dir_;
    std::string templates_, config_;
    TBallotTemplate t_;
};

}  // namespace

TEST_F(Recognizer, ReadsAnUprightBallotInEveryQuarterTurn) {
    const Ballot b{{msApprove, msReject, msBlank}};
    const TRaster page = DrawBallot(t_, b);
    for (int k = 0; k < 4; ++k) {
        const TRecognitionOutcome o = RecognizeBallot(Scan(Turn(page, k), "scan" + std::to_string(k) + ".bmp"),
                                                      templates_, config_, "   ");
        ASSERT_TRUE(o.Success) << o.ErrorText;
        EXPECT_EQ(o.Recognition->Rotation, 90 * k);
        EXPECT_EQ(o.Recognition->TemplateID, t_.TemplateID);
        ASSERT_EQ(o.Recognition->Candidates.size(), 3u);
        EXPECT_EQ(o.Recognition->Candidates[0].CandidateName, "甲");
        EXPECT_EQ(o.Recognition->Candidates[0].Mark, msApprove) << "turn " << k;
        EXPECT_EQ(o.Recognition->Candidates[1].Mark, msReject) << "turn " << k;
        EXPECT_EQ(o.Recognition->Candidates[2].Mark, msBlank) << "turn " << k;
        EXPECT_FALSE(o.Recognition->NeedReview);
        EXPECT_EQ(o.Recognition->WriteIns.size(), 2u);
        EXPECT_EQ(o.Recognition->ScanUID.size(), 16u);
        EXPECT_EQ(o.Recognition->DeskewAngle, 0.0);
        // The first mark cell's outline lands where the turned page put it.
        ASSERT_EQ(o.Cells.size(), 3u + 2u * 2u);
        const TRect& cell = t_.Candidates[0].MarkRect;
        double x = cell.Left, y = cell.Top;
        for (int i = 0; i < k; ++i) {  // a clockwise quarter turn of a W × H page
            const double h = (i % 2 == 0) ? 3508 : 2480;
            const double nx = h - 1 - y;
            y = x;
            x = nx;
        }
        EXPECT_NEAR(o.Cells[0].X[0], x, 3.0) << "turn " << k;
        EXPECT_NEAR(o.Cells[0].Y[0], y, 3.0) << "turn " << k;
    }
}

TEST_F(Recognizer, FailuresNameTheirStep) {
    const TRaster page = DrawBallot(t_, {{msBlank, msBlank, msBlank}});
    const std::string scan = Scan(page, "scan.bmp");
    const struct {
        std::string image, templates, manual, error;
    } cases[] = {
        {dir_.File("none.bmp"), templates_, "", "检查图片：扫描图片不存在。"},
        {dir_.File("Korvex.ini.bmp"), templates_, "", ""},  // filled below: not a picture
        {scan, dir_.File("empty-folder"), "", "识别模板码：已找到定位块，但无法识别模板码，或本机没有对应模板文件。"},
        {scan, templates_, templates_ + "/" + t_.TemplateID + ".ini", "加载外部固定模板：手工选择的识别模板不是外部固定模板。"},
        {scan, templates_, dir_.File("missing.ini"), "加载外部固定模板：模板文件不存在：" + dir_.File("missing.ini")},
    };
    std::ofstream(dir_.File("Korvex.ini.bmp")) << "not a picture";
    for (const auto& c : cases) {
        const TRecognitionOutcome o = RecognizeBallot(c.image, c.templates, config_, c.manual);
        EXPECT_FALSE(o.Success);
        EXPECT_EQ(o.Recognition, nullptr);
        EXPECT_EQ(o.Template, nullptr);
        if (c.error.empty()) EXPECT_EQ(o.ErrorText.rfind("读取图片：", 0), 0u) << o.ErrorText;
        else EXPECT_EQ(o.ErrorText, c.error);
    }
    const TRecognitionOutcome blank = RecognizeBallot(Scan(TRaster(2480, 3508), "white.bmp"), templates_, config_, "");
    EXPECT_EQ(blank.ErrorText, "寻找四角定位块：未能找到四个黑色定位块。请检查纸张是否完整、方向是否正确。");
}

TEST_F(Recognizer, TemplateLookupByCode) {
    // Two files with one code: the first by name wins; a lower-case code is found.
    TBallotTemplate copy = t_;
    copy.Title = "先到";
    SaveTemplate(copy, templates_ + "/0-first.ini");
    const std::string file = FindTemplateFileByCode(templates_, t_.TemplateCode);
    EXPECT_EQ(fs::path(file).filename(), "0-first.ini");
    std::ofstream(templates_ + "/0-first.ini") << "[Template]\nTemplateCode=" << AsciiLowerForTest(TemplateCodeText(t_.TemplateCode)) << "\n";
    EXPECT_EQ(fs::path(FindTemplateFileByCode(templates_, t_.TemplateCode)).filename(), "0-first.ini");
    EXPECT_EQ(FindTemplateFileByCode(templates_, 0x12345678u), "");
    EXPECT_EQ(FindTemplateFileByCode(dir_.File("no-folder"), t_.TemplateCode), "");
    // A code that leads to an external template is refused.
    std::ofstream(templates_ + "/0-first.ini") << "[Template]\nType=External\nTemplateCode=" << TemplateCodeText(t_.TemplateCode) << "\n";
    const TRecognitionOutcome o =
        RecognizeBallot(Scan(DrawBallot(t_, {{msBlank, msBlank, msBlank}}), "s.bmp"), templates_, config_, "");
    EXPECT_EQ(o.ErrorText.rfind("识别模板码：模板码对应的模板文件是外部固定模板", 0), 0u) << o.ErrorText;
}

TEST_F(Recognizer, WriteInRules) {
    UseOCRScript("张三|0.93");
    // One reliable cross, two circled names: one OCR call, the second over the limit.
    Ballot b{{msReject, msBlank, msBlank}, {msApprove, msApprove}, {true, true}};
    TRecognitionOutcome o = RecognizeBallot(Scan(DrawBallot(t_, b), "a.bmp"), templates_, config_, "");
    ASSERT_TRUE(o.Success) << o.ErrorText;
    const auto& w = o.Recognition->WriteIns;
    EXPECT_TRUE(w[0].NameOCRAttempted);
    EXPECT_EQ(w[0].Name, "张三");
    EXPECT_DOUBLE_EQ(w[0].NameConfidence, 0.93);
    EXPECT_EQ(w[0].NameOCRError, "");
    EXPECT_FALSE(w[1].NameOCRAttempted);
    EXPECT_EQ(w[1].NameOCRError, "另选人数超过可靠反对票数量（X=1），本项未执行OCR。");
    EXPECT_TRUE(o.Recognition->NeedReview);
    EXPECT_EQ(OCRCalls(), 1);

    // No cross: no OCR. An empty name cell: no OCR. A name without a circle: nothing.
    b = {{msBlank, msBlank, msBlank}, {msApprove, msBlank}, {true, true}};
    o = RecognizeBallot(Scan(DrawBallot(t_, b), "b.bmp"), templates_, config_, "");
    ASSERT_TRUE(o.Success) << o.ErrorText;
    EXPECT_EQ(o.Recognition->WriteIns[0].NameOCRError, "正式候选人中没有可靠的反对票X，按规则未执行另选人OCR。");
    EXPECT_EQ(o.Recognition->WriteIns[1].NameOCRError, "");
    EXPECT_FALSE(o.Recognition->WriteIns[1].HasNameInk);
    b = {{msReject, msBlank, msBlank}, {msApprove, msBlank}, {false, false}};
    o = RecognizeBallot(Scan(DrawBallot(t_, b), "c.bmp"), templates_, config_, "");
    ASSERT_TRUE(o.Success) << o.ErrorText;
    EXPECT_FALSE(o.Recognition->WriteIns[0].HasNameInk);
    EXPECT_EQ(o.Recognition->WriteIns[0].NameOCRError, "另选人已圈选O，但姓名区未检测到有效笔迹，未执行OCR。");
    EXPECT_EQ(OCRCalls(), 1);

    // A low OCR score keeps the name and asks for review.
    UseOCRScript("李四|0.75");
    b = {{msReject, msBlank, msApprove}, {msApprove, msBlank}, {true, false}};
    o = RecognizeBallot(Scan(DrawBallot(t_, b), "d.bmp"), templates_, config_, "");
    ASSERT_TRUE(o.Success) << o.ErrorText;
    EXPECT_EQ(o.Recognition->WriteIns[0].Name, "李四");
    EXPECT_TRUE(o.Recognition->NeedReview);
}

TEST_F(Recognizer, AnUnreliableCrossStartsNoOCR) {
    UseOCRScript("张三|0.93");
    // The only cross is also circled: an ambiguous mark, not a reliable X.
    TRaster page = DrawBallot(t_, {{msReject, msBlank, msBlank}, {msApprove, msBlank}, {true, false}});
    DrawMark(page, t_.Candidates[0].MarkRect, msApprove);
    const TRecognitionOutcome o = RecognizeBallot(Scan(page, "crossed-and-circled.bmp"), templates_, config_, "");
    ASSERT_TRUE(o.Success) << o.ErrorText;
    const TCandidateVoteResult& cross = o.Recognition->Candidates[0];
    ASSERT_FALSE(cross.Mark == msReject && cross.Confidence >= 0.8)
        << "the drawing must not read as a reliable X: " << MarkStateToText(cross.Mark) << " " << cross.Confidence;
    EXPECT_FALSE(o.Recognition->WriteIns[0].NameOCRAttempted);
    EXPECT_EQ(o.Recognition->WriteIns[0].NameOCRError, "正式候选人中没有可靠的反对票X，按规则未执行另选人OCR。");
    EXPECT_TRUE(o.Recognition->NeedReview);
    EXPECT_EQ(OCRCalls(), 0);
}

TEST_F(Recognizer, UnavailableOCRGivesItsReason) {
    std::ofstream(config_) << "[OCR]\nCommand=" << dir_.File("no-such-ocr") << "\n";
    const Ballot b{{msReject, msBlank, msBlank}, {msApprove, msBlank}, {true, false}};
    const TRecognitionOutcome o = RecognizeBallot(Scan(DrawBallot(t_, b), "a.bmp"), templates_, config_, "");
    ASSERT_TRUE(o.Success) << o.ErrorText;
    const TWriteInVoteResult& w = o.Recognition->WriteIns[0];
    EXPECT_TRUE(w.NameOCRAttempted);
    EXPECT_FALSE(w.NameOCRError.empty());
    EXPECT_TRUE(w.Name.empty());
    EXPECT_TRUE(o.Recognition->NeedReview);
}
