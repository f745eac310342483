// The recognition pipeline on ballots made by the ballot forge: generated
// standard templates and foreign-layout ballots, drawn with a pen, turned,
// skewed, noised and saved like scans.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "ocr/tests/BuiltEngine.h"
#include "ExternalBallot.h"
#include "ForgeRun.h"
#include "model/tests/TempFolder.h"
#include "recognition/uRecognizer.h"
#include "templates/uBallotDrawing.h"
#include "templates/uBallotFonts.h"
#include "templates/uBallotTemplate.h"
#include "templates/uStandardLayout.h"

using namespace korvex;
using korvex::testing::BuiltEngine;
using namespace korvex::forge;
namespace fs = std::filesystem;

namespace {

const char* kNoTemplate = "识别模板码：已找到定位块，但无法识别模板码，或本机没有对应模板文件。";

std::string ReadText(const std::string& file) { return TempFolder::Read(file); }

void WriteText(const std::string& file, const std::string& text) { std::ofstream(file, std::ios::binary) << text; }

// The file with the value of its first "key=" line replaced.
void RewriteIniValue(const std::string& file, const std::string& key, const std::string& value) {
    std::string text = ReadText(file);
    const std::size_t at = text.find("\n" + key + "=");
    ASSERT_NE(at, std::string::npos) << key << " not in " << file;
    const std::size_t begin = at + 1 + key.size() + 1;
    const std::size_t end = text.find_first_of("\r\n", begin);
    text.replace(begin, end - begin, value);
    WriteText(file, text);
}

// Each forged cell must come back as the mark the voter meant, decided.
void ExpectMarks(const TBallotTemplate& t, const TBallotFill& fill, const TBallotRecognition& r, const std::string& what) {
    ASSERT_EQ(r.Candidates.size(), t.Candidates.size()) << what;
    for (std::size_t i = 0; i < t.Candidates.size(); ++i) {
        const TCandidateVoteResult& c = r.Candidates[i];
        EXPECT_EQ(c.CandidateID, t.Candidates[i].ID) << what << ", candidate " << i;
        EXPECT_EQ(c.CandidateName, t.Candidates[i].Name) << what << ", candidate " << i;
        EXPECT_EQ(c.Mark, IntendedMark(fill.Candidates[i])) << what << ", candidate " << i;
        EXPECT_GE(c.Confidence, 0.8) << what << ", candidate " << i;
    }
    ASSERT_EQ(r.WriteIns.size(), t.WriteIns.size()) << what;
    for (std::size_t j = 0; j < t.WriteIns.size(); ++j)
        EXPECT_EQ(r.WriteIns[j].Mark, IntendedMark(fill.WriteIns[j].Mark)) << what << ", write-in " << j;
}

class ForgedBallots : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        EnsureGuiApplication();
    }
    void SetUp() override {
        templates_ = dir_.File("Templates");
        config_ = dir_.Write("Korvex.ini", "[OCR]\nCommand=" + dir_.File("no-ocr") + "\n");
        standard_ = GenerateStandardTemplateWithID(ForgeCandidateNames(7), "业主委员会选举选票", 4, 2,
                                                   "20261210-120000-5EED0007");
        templateFile_ = templates_ + "/" + standard_->TemplateID + ".ini";
        SaveTemplate(*standard_, templateFile_);
    }

    // One scan of the fill in the given quarter turn; the forge adds skew, shift, noise and blur.
    TForgedScan Forge(const TBallotTemplate& t, const QImage& blank, const std::string& line, int quarterTurns,
                      int dpi = 300, const std::string& format = "png", double perspective = 0.0) {
        TForgeOptions o;
        o.OutputFolder = dir_.File("scans");
        o.Seed = 1000 + static_cast<std::uint64_t>(serial_);
        o.Dpi = dpi;
        o.QuarterTurns = quarterTurns;
        o.Perspective = perspective;
        o.Format = format;
        o.Prefix = "scan" + std::to_string(serial_++) + "_";
        return ForgeScans(t, blank, {ParseFillLine(line, t)}, o).front();
    }
    TForgedScan ForgeStandard(const std::string& line, int quarterTurns = 0, int dpi = 300,
                              const std::string& format = "png") {
        return Forge(*standard_, RenderBallotBitmap(*standard_), line, quarterTurns, dpi, format);
    }
    std::string ScanPath(const TForgedScan& s) const { return dir_.File("scans") + "/" + s.FileName; }

    TempFolder dir_;
    std::string templates_, config_, templateFile_;
    std::unique_ptr<TBallotTemplate> standard_;
    int serial_ = 0;
};

}  // namespace

TEST_F(ForgedBallots, StandardBallotInEveryQuarterTurn) {
    const struct {
        int turns, dpi;
        const char* format;
    } cases[] = {{0, 300, "bmp"}, {1, 600, "png"}, {2, 300, "jpg"}, {3, 300, "png"}};
    for (const auto& c : cases) {
        const std::string what = std::to_string(90 * c.turns) + "° " + c.format;
        const TForgedScan scan = ForgeStandard("OX-XO-O | :- | :-", c.turns, c.dpi, c.format);
        const TRecognitionOutcome o = RecognizeBallot(ScanPath(scan), templates_, config_, "");
        ASSERT_TRUE(o.Success) << what << ": " << o.ErrorText;
        EXPECT_EQ(o.Recognition->Rotation, 90 * c.turns) << what;
        EXPECT_EQ(o.Recognition->TemplateID, standard_->TemplateID) << what;
        EXPECT_EQ(o.Recognition->TemplateCode, standard_->TemplateCode) << what;
        ExpectMarks(*standard_, scan.Fill, *o.Recognition, what);
        // Every mark decided and no write-in: nothing to review.
        EXPECT_FALSE(o.Recognition->NeedReview) << what;
        // The first candidate's mark cell lies where the forge put it.
        const QPointF corner = scan.PageToScan.map(QPointF(standard_->Candidates[0].MarkRect.Left,
                                                           standard_->Candidates[0].MarkRect.Top));
        ASSERT_FALSE(o.Cells.empty());
        EXPECT_NEAR(o.Cells[0].X[0], corner.x(), c.dpi / 100.0) << what;
        EXPECT_NEAR(o.Cells[0].Y[0], corner.y(), c.dpi / 100.0) << what;
    }
}

TEST_F(ForgedBallots, TemplateFilesFoundByTheirCode) {
    const TForgedScan upright = ForgeStandard("XO-O--X | :- | :-");
    const TForgedScan turned = ForgeStandard("XO-O--X | :- | :-", 2);
    const auto other = GenerateStandardTemplateWithID(ForgeCandidateNames(7), "别的选票", 4, 2, "20261210-120000-0DD0CAFE");
    const struct {
        const char* what;
        const TForgedScan* scan;
        std::function<void()> arrange;
        std::string manual;
        std::string error;        // empty: recognised
        std::string title = "";   // of the template used, when recognised
    } cases[] = {
        {"a valid code whose file is missing, in every orientation tried", &turned,
         [&] {
             fs::remove(templateFile_);
             SaveTemplate(*other, templates_ + "/" + other->TemplateID + ".ini");
         },
         "", kNoTemplate},
        {"two files with one code: the first by name", &upright,
         [&] {
             TBallotTemplate copy = *standard_;
             copy.Title = "名字靠前的副本";
             copy.Candidates[0].Name = "副本候选人";
             SaveTemplate(copy, templates_ + "/0-copy.ini");  // written last, first by name
         },
         "", "", "名字靠前的副本"},
        {"the code written in lower case", &turned,
         [&] {
             std::string code = TemplateCodeText(standard_->TemplateCode);
             for (char& ch : code) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
             ASSERT_NE(code, TemplateCodeText(standard_->TemplateCode)) << "the code has no letter";
             RewriteIniValue(templateFile_, "TemplateCode", code);
         },
         "", "", "业主委员会选举选票"},
        {"a manual path of blanks only: the standard path", &upright, [] {}, " \t  ", "", "业主委员会选举选票"},
        {"a manual standard template", &upright, [] {}, templateFile_, "加载外部固定模板：手工选择的识别模板不是外部固定模板。"},
    };
    for (const auto& c : cases) {
        fs::remove_all(templates_);
        SaveTemplate(*standard_, templateFile_);
        c.arrange();
        const TRecognitionOutcome o = RecognizeBallot(ScanPath(*c.scan), templates_, config_, c.manual);
        if (!c.error.empty()) {
            EXPECT_FALSE(o.Success) << c.what;
            EXPECT_EQ(o.ErrorText, c.error) << c.what;
            EXPECT_EQ(o.Recognition, nullptr) << c.what;
            EXPECT_EQ(o.Template, nullptr) << c.what;
            continue;
        }
        ASSERT_TRUE(o.Success) << c.what << ": " << o.ErrorText;
        EXPECT_EQ(o.Template->Title, c.title) << c.what;
        EXPECT_EQ(o.Recognition->TemplateCode, standard_->TemplateCode) << c.what;
        EXPECT_EQ(o.Recognition->Rotation, 90 * c.scan->Scan.QuarterTurns) << c.what;
        EXPECT_EQ(o.Recognition->Candidates[0].CandidateName, o.Template->Candidates[0].Name) << c.what;
        EXPECT_EQ(o.Recognition->Candidates[0].Mark, msReject) << c.what;
    }
}

TEST_F(ForgedBallots, ExternalModeOneByEitherName) {
    const TExternalBallot ballot = MakeExternalBallot(ForgeCandidateNames(6), "1", 1, "村民委员会选举选票", "EXT-MODE-ONE");
    const std::string file = SaveExternalBallot(ballot, templates_);
    const TForgedScan scan = Forge(ballot.Template, ballot.Reference, "OX-XOO | :-", 1, 300, "png", 0.01);
    for (const char* mode : {"1", "1-标准O×", "1-标准o×"}) {
        RewriteIniValue(file, "OptionMode", mode);
        const TRecognitionOutcome o = RecognizeBallot(ScanPath(scan), templates_, config_, "  " + file + " ");
        ASSERT_TRUE(o.Success) << mode << ": " << o.ErrorText;
        EXPECT_EQ(o.Template->ExternalOptionMode, mode);
        EXPECT_EQ(o.Recognition->Rotation, 90);
        EXPECT_EQ(o.Recognition->TemplateID, "EXT-MODE-ONE");
        ExpectMarks(ballot.Template, scan.Fill, *o.Recognition, mode);
        EXPECT_FALSE(o.Recognition->NeedReview) << mode;
    }
    // A zone mode reads the same cells as answer boxes, and cannot decide them.
    RewriteIniValue(file, "OptionMode", "3.2");
    const TRecognitionOutcome zone = RecognizeBallot(ScanPath(scan), templates_, config_, file);
    ASSERT_TRUE(zone.Success) << zone.ErrorText;
    EXPECT_TRUE(zone.Recognition->NeedReview);
}

TEST_F(ForgedBallots, ScrivaneReadsAHandwrittenWriteIn) {
    std::string whyNot;
    const std::string engine = BuiltEngine(whyNot);
    if (engine.empty()) GTEST_SKIP() << whyNot;
    WriteText(config_, "[OCR]\nCommand=" + engine + "\n");
    const TForgedScan scan = ForgeStandard("XO--O-- | 欧阳娜娜:O | :-", 3);
    const TRecognitionOutcome o = RecognizeBallot(ScanPath(scan), templates_, config_, "");
    ASSERT_TRUE(o.Success) << o.ErrorText;
    ExpectMarks(*standard_, scan.Fill, *o.Recognition, "write-in ballot");
    const TWriteInVoteResult& w = o.Recognition->WriteIns[0];
    EXPECT_TRUE(w.NameOCRAttempted);
    EXPECT_TRUE(w.HasNameInk);
    EXPECT_EQ(w.NameOCRError, "");
    EXPECT_EQ(w.Name, "欧阳娜娜");
    EXPECT_GT(w.NameConfidence, 0.0);
    EXPECT_EQ(w.NameOCRBackend, "原生 Scrivane：" + engine);
    EXPECT_FALSE(o.Recognition->WriteIns[1].NameOCRAttempted);
}
