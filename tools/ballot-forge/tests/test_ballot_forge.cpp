#include <gtest/gtest.h>

#include <cstdlib>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>

#include "ExternalBallot.h"
#include "ForgeRun.h"
#include "model/Errors.h"
#include "model/tests/TempFolder.h"
#include "templates/uBallotDrawing.h"
#include "templates/uBallotFonts.h"
#include "templates/uBallotTemplate.h"
#include "templates/uStandardLayout.h"

using namespace korvex;
using namespace korvex::forge;

namespace {

std::unique_ptr<TBallotTemplate> Standard() {
    return GenerateStandardTemplateWithID(ForgeCandidateNames(6), "测试", 3, 2, "20261210-110000-F0F0F0F0");
}

// Pixels clearly darker than paper.
int Ink(const QImage& image, const TRect& r) {
    int count = 0;
    for (int y = std::max(r.Top, 0); y < std::min(r.Bottom, image.height()); ++y)
        for (int x = std::max(r.Left, 0); x < std::min(r.Right, image.width()); ++x)
            if (qGray(image.pixel(x, y)) < 200) ++count;
    return count;
}

TRect Inner(const TRect& r, int by) { return {r.Left + by, r.Top + by, r.Right - by, r.Bottom - by}; }

TForgeOptions SmallRun(const std::string& folder, std::uint64_t seed) {
    TForgeOptions o;
    o.OutputFolder = folder;
    o.Seed = seed;
    o.Dpi = 150;
    o.Format = "png";
    return o;
}

class ForgeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        EnsureGuiApplication();
    }
};

}  // namespace

TEST(ParseFillLine, ReadsMarksAndWriteIns) {
    auto t = Standard();
    const TBallotFill fill = ParseFillLine("O X-@ | 张三:O | :-", *t);
    ASSERT_EQ(fill.Candidates.size(), 6u);
    EXPECT_EQ(fill.Candidates[0], TMarkStyle::Circle);
    EXPECT_EQ(fill.Candidates[1], TMarkStyle::Cross);
    EXPECT_EQ(fill.Candidates[2], TMarkStyle::Blank);
    EXPECT_EQ(fill.Candidates[3], TMarkStyle::ScribbledCircle);
    EXPECT_EQ(fill.Candidates[5], TMarkStyle::Blank);  // missing cells are blank
    ASSERT_EQ(fill.WriteIns.size(), 2u);
    EXPECT_EQ(fill.WriteIns[0].Name, "张三");
    EXPECT_EQ(fill.WriteIns[0].Mark, TMarkStyle::Circle);
    EXPECT_EQ(fill.WriteIns[1].Name, "");
    EXPECT_EQ(FillToLine(fill), "OX-@-- | 张三:O | :-");
    EXPECT_EQ(FillToLine(ParseFillLine(FillToLine(fill), *t)), FillToLine(fill));
}

TEST(ParseFillLine, RefusesMalformedLines) {
    auto t = Standard();
    for (const char* line : {"OXQ", "OOOOOOO", "O | a:O | b:O | c:O", "O | a:Z", "O | a:OX"})
        EXPECT_THROW(ParseFillLine(line, *t), EKorvexError) << line;
}

TEST(IntendedMarks, HardCasesKeepTheVotersIntent) {
    struct Case { char c; TMarkState mark; };
    const Case cases[] = {{'O', msApprove}, {'X', msReject}, {'-', msBlank}, {'.', msBlank},
                          {'@', msApprove}, {'+', msReject}, {'o', msApprove}, {'x', msReject}};
    for (const Case& c : cases) {
        TMarkStyle style;
        ASSERT_TRUE(MarkStyleFromChar(c.c, style)) << c.c;
        EXPECT_EQ(IntendedMark(style), c.mark) << c.c;
        EXPECT_EQ(MarkStyleChar(style), c.c);
    }
}

TEST_F(ForgeTest, MarksLandInTheirCells) {
    auto t = Standard();
    QImage page = RenderBallotBitmap(*t);
    TForgeRandom rng(3);
    DrawFill(page, *t, ParseFillLine("OX-.+o | 李四:O | :-", *t), rng);
    const auto& c = t->Candidates;
    EXPECT_GT(Ink(page, Inner(c[0].MarkRect, 4)), 300);  // circle
    EXPECT_GT(Ink(page, Inner(c[1].MarkRect, 4)), 300);  // cross
    EXPECT_EQ(Ink(page, Inner(c[2].MarkRect, 4)), 0);    // blank
    const int specks = Ink(page, Inner(c[3].MarkRect, 4));
    EXPECT_GT(specks, 0);
    EXPECT_LT(specks, 60);  // far below the density of a mark
    // The border cross reaches into the name cell above its mark cell.
    EXPECT_GT(Ink(page, {c[4].MarkRect.Left + 4, c[4].MarkRect.Top - 14, c[4].MarkRect.Right - 4, c[4].MarkRect.Top - 3}) +
                  Ink(page, {c[4].MarkRect.Left + 4, c[4].MarkRect.Bottom + 3, c[4].MarkRect.Right - 4, c[4].MarkRect.Bottom + 14}),
              20);
    // The faint circle is light: visible, but never as dark as the pen.
    int darkest = 255;
    for (int y = c[5].MarkRect.Top + 4; y < c[5].MarkRect.Bottom - 4; ++y)
        for (int x = c[5].MarkRect.Left + 4; x < c[5].MarkRect.Right - 4; ++x) darkest = std::min(darkest, qGray(page.pixel(x, y)));
    EXPECT_GT(darkest, 120);
    EXPECT_LT(darkest, 185);
    EXPECT_GT(Ink(page, Inner(t->WriteIns[0].NameRect, 4)), 500);  // the written name
    EXPECT_GT(Ink(page, Inner(t->WriteIns[0].MarkRect, 4)), 200);
    EXPECT_EQ(Ink(page, Inner(t->WriteIns[1].NameRect, 4)), 0);
}

TEST_F(ForgeTest, ScanGeometryPutsTheCornerBlocksWhereTheRecordSays) {
    auto t = Standard();
    const QImage page = RenderBallotBitmap(*t);
    for (int k = 0; k < 4; ++k) {
        SCOPED_TRACE(k);
        TScanSettings s;
        s.Dpi = 150;
        s.QuarterTurns = k;
        s.SkewDegrees = 1.5;
        s.ShiftXMm = 3;
        s.ShiftYMm = -2;
        s.NoiseSigma = 4;
        s.Blur = 0.1;
        TForgeRandom rng(11);
        const TScanResult r = ScanPage(page, s, rng);
        EXPECT_EQ(r.Image.width(), k % 2 ? 1754 : 1240);
        EXPECT_EQ(r.Image.height(), k % 2 ? 1240 : 1754);
        for (const QPointF centre : {QPointF(140, 140), QPointF(2340, 140), QPointF(140, 3368), QPointF(2340, 3368)}) {
            const QPointF at = r.PageToScan.map(centre);
            EXPECT_LT(qGray(r.Image.pixel(at.toPoint())), 70) << at.x() << "," << at.y();
            const QPointF beside = r.PageToScan.map(centre + QPointF(0, 90));
            EXPECT_GT(qGray(r.Image.pixel(beside.toPoint())), 180);
        }
        // The page's top-left block lies in the scan corner of its quarter turn.
        const QPointF tl = r.PageToScan.map(QPointF(140, 140));
        const bool right = tl.x() > r.Image.width() / 2, bottom = tl.y() > r.Image.height() / 2;
        EXPECT_EQ(right, k == 1 || k == 2);
        EXPECT_EQ(bottom, k == 2 || k == 3);
    }
}

TEST_F(ForgeTest, RunsAreDeterministicBySeedAndRecordTheTruth) {
    auto t = Standard();
    const QImage page = RenderBallotBitmap(*t);
    const std::vector<TBallotFill> fills = {ParseFillLine("OX-O@x | 王五:O", *t), ParseFillLine("XXO--+", *t)};
    TempFolder a, b, c;
    ForgeScans(*t, page, fills, SmallRun(a.File("out"), 42));
    ForgeScans(*t, page, fills, SmallRun(b.File("out"), 42));
    ForgeScans(*t, page, fills, SmallRun(c.File("out"), 43));
    for (const char* name : {"scan_000001.png", "scan_000002.png", "truth.json"}) {
        const std::string first = TempFolder::Read(a.File(std::string("out/") + name));
        ASSERT_FALSE(first.empty()) << name;
        EXPECT_EQ(first, TempFolder::Read(b.File(std::string("out/") + name))) << name;
        EXPECT_NE(first, TempFolder::Read(c.File(std::string("out/") + name))) << name;
    }

    const QJsonDocument truth = QJsonDocument::fromJson(QByteArray::fromStdString(TempFolder::Read(a.File("out/truth.json"))));
    ASSERT_TRUE(truth.isObject());
    EXPECT_EQ(truth["seed"].toInt(), 42);
    EXPECT_EQ(truth["templateCode"].toString().toStdString(), TemplateCodeText(t->TemplateCode));
    const QJsonArray ballots = truth["ballots"].toArray();
    ASSERT_EQ(ballots.size(), 2);
    const QJsonObject first = ballots[0].toObject();
    EXPECT_EQ(first["file"].toString(), "scan_000001.png");
    const QJsonArray cells = first["candidates"].toArray();
    ASSERT_EQ(cells.size(), 6);
    const char* marks[] = {"O", "X", "blank", "O", "O", "X"};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(cells[i]["mark"].toString().toStdString(), marks[i]) << i;
    EXPECT_EQ(cells[4]["style"].toString(), "scribbled-circle");
    EXPECT_EQ(cells[0]["name"].toString().toStdString(), t->Candidates[0].Name);
    const QJsonArray writeIns = first["writeIns"].toArray();
    ASSERT_EQ(writeIns.size(), 2);
    EXPECT_EQ(writeIns[0]["name"].toString().toStdString(), "王五");
    EXPECT_EQ(writeIns[0]["mark"].toString(), "O");
    EXPECT_EQ(writeIns[1]["name"].toString(), "");
    const QJsonObject g = first["geometry"].toObject();
    EXPECT_EQ(g["dpi"].toInt(), 150);
    EXPECT_LE(std::abs(g["skewDegrees"].toDouble()), 1.5);
    EXPECT_EQ(g["pageToScan"].toArray().size(), 9);
    const int rotation = g["rotation"].toInt();
    EXPECT_TRUE(rotation == 0 || rotation == 90 || rotation == 180 || rotation == 270);
    const QImage scan(QString::fromStdString(a.File("out/scan_000001.png")));
    EXPECT_EQ(scan.width(), g["width"].toInt());
    EXPECT_EQ(scan.width(), rotation % 180 ? 1754 : 1240);
}

TEST_F(ForgeTest, WritesEveryOutputFormat) {
    auto t = Standard();
    const QImage page = RenderBallotBitmap(*t);
    TempFolder folder;
    for (const char* format : {"bmp", "jpg", "png"}) {
        TForgeOptions o = SmallRun(folder.File(format), 5);
        o.Format = format;
        o.Quality = 80;
        o.QuarterTurns = 0;
        ForgeScans(*t, page, {ParseFillLine("O", *t)}, o);
        const QImage scan(QString::fromStdString(folder.File(std::string(format) + "/scan_000001." + format)));
        ASSERT_FALSE(scan.isNull()) << format;
        EXPECT_EQ(scan.size(), QSize(1240, 1754)) << format;
    }
    const std::string bmp = TempFolder::Read(folder.File("bmp/scan_000001.bmp"));
    EXPECT_EQ(static_cast<int>(static_cast<std::uint8_t>(bmp[28])), 24);  // 24 bits per pixel
    TForgeOptions bad = SmallRun(folder.File("gif"), 5);
    bad.Format = "gif";
    EXPECT_THROW(ForgeScans(*t, page, {ParseFillLine("O", *t)}, bad), EKorvexError);
}

TEST_F(ForgeTest, ExternalBallotHasAFrameAndAMatchingTemplate) {
    TempFolder folder;
    for (const char* mode : {"1", "2.1", "3.2"}) {
        SCOPED_TRACE(mode);
        const TExternalBallot ballot = MakeExternalBallot(ForgeCandidateNames(5), mode, 1, "外部选票", std::string("EXT-T") + mode);
        const TBallotTemplate& t = ballot.Template;
        EXPECT_EQ(t.TemplateKind, tkExternal);
        EXPECT_EQ(t.ExternalOptionMode, mode);
        EXPECT_EQ(t.ExternalReferenceWidth, ballot.Reference.width());
        EXPECT_EQ(t.ExternalReferenceHeight, ballot.Reference.height());
        ASSERT_EQ(t.Candidates.size(), 5u);
        ASSERT_EQ(t.WriteIns.size(), 1u);
        // The frame is drawn solid along all four sides; its inside near the
        // corners is light.
        const TRect f = t.ExternalFrameRect;
        for (int x = f.Left; x < f.Right; x += 37) {
            EXPECT_LT(qGray(ballot.Reference.pixel(x, f.Top)), 50) << x;
            EXPECT_LT(qGray(ballot.Reference.pixel(x, f.Bottom)), 50) << x;
        }
        for (int y = f.Top; y < f.Bottom; y += 37) {
            EXPECT_LT(qGray(ballot.Reference.pixel(f.Left, y)), 50) << y;
            EXPECT_LT(qGray(ballot.Reference.pixel(f.Right, y)), 50) << y;
        }
        EXPECT_GT(qGray(ballot.Reference.pixel(f.Left + 12, f.Top + 12)), 200);
        // Every region lies inside the frame, mark cells clear of table rules.
        for (const TCandidateTemplate& c : t.Candidates) {
            EXPECT_GT(c.MarkRect.Left, f.Left);
            EXPECT_LT(c.MarkRect.Bottom, f.Bottom);
        }
        // Saved and loaded back, the template is unchanged.
        const std::string ini = SaveExternalBallot(ballot, folder.File("Templates"));
        EXPECT_EQ(*LoadTemplate(ini), t);
        const QImage ref(QString::fromStdString(folder.File("Templates/ExternalRefs/" + t.TemplateID + "_ref.bmp")));
        EXPECT_EQ(ref.size(), ballot.Reference.size());
    }
    EXPECT_THROW(MakeExternalBallot(ForgeCandidateNames(5), "4.1", 0, "x", "EXT-X"), EKorvexError);
    EXPECT_THROW(MakeExternalBallot(ForgeCandidateNames(17), "1", 0, "x", "EXT-X"), EKorvexError);
}

TEST_F(ForgeTest, SplitOptionMarksGoIntoTheChosenBox) {
    const TExternalBallot ballot = MakeExternalBallot(ForgeCandidateNames(3), "3.2", 1, "外部选票", "EXT-SPLIT");
    const TBallotTemplate& t = ballot.Template;
    QImage page = ballot.Reference.copy();
    TForgeRandom rng(9);
    DrawFill(page, t, ParseFillLine("OX- | :-", t), rng);
    EXPECT_EQ(Ink(page, t.WriteIns[0].MarkRect), Ink(ballot.Reference, t.WriteIns[0].MarkRect));  // unused slot
    for (int i = 0; i < 3; ++i) {
        const TRect cell = t.Candidates[static_cast<std::size_t>(i)].MarkRect;
        const int w = cell.Width() / 3;
        for (int box = 0; box < 3; ++box) {
            const int ink = Ink(page, Inner({cell.Left + box * w, cell.Top, cell.Left + (box + 1) * w, cell.Bottom}, 8)) -
                            Ink(ballot.Reference, Inner({cell.Left + box * w, cell.Top, cell.Left + (box + 1) * w, cell.Bottom}, 8));
            if (box == i) EXPECT_GT(ink, 200) << i << "/" << box;  // O in box 0, X in box 1, blank as abstain
            else EXPECT_EQ(ink, 0) << i << "/" << box;
        }
    }
}
