// The external template editor: task list, drag rules, zoom limits, the
// checks before editing, straightening and saving with the reference copy.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QScrollArea>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "QtTestApp.h"
#include "ScriptedPrompts.h"
#include "imaging/ImageFiles.h"
#include "imaging/tests/TestImages.h"
#include "model/tests/TempFolder.h"
#include "recognition/uRecognizer.h"
#include "templates/uBallotTemplate.h"
#include "ui/ExternalEditorLogic.h"
#include "ui/uExternalTemplateEditor.h"

using namespace korvex;
using namespace korvex::testing;
namespace fs = std::filesystem;

namespace {

const std::vector<TCandidateInfo> kCandidates = {{1, "张三"}, {2, "Li Si"}, {3, "王五"}};

TBallotTemplate ThreeAndTwo(const std::string& mode = "1") {
    TBallotTemplate t = NewExternalTemplateObject("", 2, 2, kCandidates, "20261210-101500", "ABCDEF12");
    t.ExternalOptionMode = mode;
    return t;
}

// A ballot page of 1000 × 1300 pixels: a thick outer frame (100,150)-(900,1150)
// turned by `degrees` about the page centre, and a row of three candidate
// cells (200..800 × 500..600) with a mark in each: 'O', 'X' or ' '.
TRaster ForeignBallot(double degrees = 0.0, const std::string& marks = "   ") {
    TRaster page(1000, 1300);
    const double a = degrees * M_PI / 180.0, cx = 500, cy = 650;
    const auto turn = [&](double x, double y, double& ox, double& oy) {
        ox = cx + (x - cx) * std::cos(a) - (y - cy) * std::sin(a);
        oy = cy + (x - cx) * std::sin(a) + (y - cy) * std::cos(a);
    };
    const auto line = [&](double x0, double y0, double x1, double y1, double radius) {
        double ax, ay, bx, by;
        turn(x0, y0, ax, ay);
        turn(x1, y1, bx, by);
        test::DrawLine(page, ax, ay, bx, by, radius);
    };
    line(100, 150, 900, 150, 2.5);
    line(900, 150, 900, 1150, 2.5);
    line(900, 1150, 100, 1150, 2.5);
    line(100, 1150, 100, 150, 2.5);
    for (int i = 0; i <= 3; ++i) line(200 + 200 * i, 400, 200 + 200 * i, 600, 1);
    line(200, 400, 800, 400, 1);
    line(200, 500, 800, 500, 1);
    line(200, 600, 800, 600, 1);
    for (std::size_t i = 0; i < marks.size(); ++i) {
        const double mx = 300 + 200 * static_cast<double>(i), my = 550;
        if (marks[i] == 'O') {
            double ox, oy;
            turn(mx, my, ox, oy);
            test::DrawEllipse(page, ox, oy, 40, 28, 3);
        } else if (marks[i] == 'X') {
            line(mx - 40, my - 30, mx + 40, my + 30, 3);
            line(mx + 40, my - 30, mx - 40, my + 30, 3);
        }
    }
    return page;
}

class ExternalEditor : public ::testing::Test {
protected:
    void SetUp() override {
        QtTestApp();
        templates_ = folder_.File("Templates");
        reference_ = folder_.File("reference.bmp");
        SaveBitmap24(ForeignBallot(), reference_);
    }

    std::unique_ptr<TExternalEditorForm> Editor(TBallotTemplate t = ThreeAndTwo()) {
        auto form = CreateEditor(nullptr, templates_, templates_ + "/" + t.TemplateID + ".ini", reference_,
                                 std::make_unique<TBallotTemplate>(t), prompts_);
        form->SetZoom(1.0);
        return form;
    }

    // One drag from (x0, y0) to (x1, y1) through the mouse handlers.
    static void Drag(TExternalEditorForm& form, int x0, int y0, int x1, int y1) {
        form.MouseDown({x0, y0}, Qt::LeftButton);
        form.MouseMove({(x0 + x1) / 2, (y0 + y1) / 2});
        form.MouseUp({x1, y1});
    }

    // The frame, the three candidates' cells and both write-in slots, at zoom 1.
    static void DrawAllTasks(TExternalEditorForm& form) {
        form.SetZoom(1.0);
        form.SelectTask(0);
        Drag(form, 100, 150, 900, 1150);
        for (int i = 0; i < 3; ++i) Drag(form, 210 + 200 * i, 510, 390 + 200 * i, 590);
        Drag(form, 210, 700, 590, 780);
        Drag(form, 610, 700, 790, 780);
        Drag(form, 210, 800, 590, 880);
        Drag(form, 610, 800, 790, 880);
    }

    static std::vector<std::string> ListTexts(const TExternalEditorForm& form) {
        std::vector<std::string> texts;
        for (int i = 0; i < form.Tasks()->count(); ++i) texts.push_back(form.Tasks()->item(i)->text().toStdString());
        return texts;
    }

    TempFolder folder_;
    std::string templates_, reference_;
    ScriptedPrompts prompts_;
};

}  // namespace

TEST(ExternalEditorLogic, ThreeCandidatesAndTwoSlotsGiveEightTasks) {
    const TBallotTemplate t = ThreeAndTwo();
    ASSERT_EQ(ExternalTaskCount(t), 8);
    const std::vector<std::string> expected = {
        "□ ① 定位矩形外框",   "□ 候选人：张三（符号格）",  "□ 候选人：Li Si（符号格）", "□ 候选人：王五（符号格）",
        "□ 另选人1：姓名填写区", "□ 另选人1：符号格", "□ 另选人2：姓名填写区",   "□ 另选人2：符号格"};
    EXPECT_EQ(ExternalTaskListTexts(t), expected);

    TBallotTemplate drawn = t;
    ExternalTaskRect(drawn, 5) = {1, 2, 3, 4};
    ExternalTaskRect(drawn, 0) = {5, 5, 5, 9};  // zero width: not done
    EXPECT_EQ(drawn.WriteIns[0].MarkRect, (TRect{1, 2, 3, 4}));
    EXPECT_EQ(ExternalTaskListTexts(drawn)[5], "✓ 另选人1：符号格");
    EXPECT_EQ(ExternalTaskListTexts(drawn)[0], "□ ① 定位矩形外框");
    EXPECT_EQ(FirstUnfinishedTask(drawn), 0);
}

TEST(ExternalEditorLogic, CandidateLabelsFollowTheOptionMode) {
    const struct {
        const char* mode;
        const char* label;
    } cases[] = {{"1", "候选人：张三（符号格）"},
                 {"1-标准o×", "候选人：张三（符号格）"},
                 {"2.3-✓对勾", "候选人：张三（选项区，自动分2区）"},
                 {"3.1-▃答题卡", "候选人：张三（选项区，自动分3区）"}};
    for (const auto& c : cases) EXPECT_EQ(ExternalTaskLabel(ThreeAndTwo(c.mode), 1), c.label) << c.mode;
    EXPECT_EQ(ModeChangeText("1-标准O×"), "模式1：每位候选人框选单个符号格，O=赞成，X=反对，空白=弃权。");
    EXPECT_EQ(ModeChangeText("2.1-▃答题卡"),
              "模式2.1-▃答题卡：每位候选人的整个选项区只框一次，程序自动按左/右50%分成赞成、反对两区。");
    EXPECT_EQ(ModeChangeText("3.5-△空心三角形"),
              "模式3.5-△空心三角形：每位候选人的整个选项区只框一次，程序自动按左/中/右各1/3分成赞成、反对、弃权三区。");
    EXPECT_EQ(OptionModeIndex("1"), 0);
    EXPECT_EQ(OptionModeIndex("2.3-✓对勾"), 3);
    EXPECT_EQ(OptionModeIndex("3.5-△空心三角形"), 10);
}

TEST(ExternalEditorLogic, DragRectangles) {
    const struct {
        int x0, y0, x1, y1;
        double zoom;
        std::optional<TRect> expected;
    } cases[] = {
        {10, 10, 15, 50, 1.0, std::nullopt},                // 5 × 40: ignored
        {10, 10, 16, 16, 1.0, TRect{10, 10, 16, 16}},       // 6 × 6: recorded
        {16, 16, 10, 10, 1.0, TRect{10, 10, 16, 16}},       // reverse drag
        {300, 20, 40, 400, 1.0, TRect{40, 20, 300, 400}},   // bottom-left to top-right
        {-50, -30, 1200, 2000, 1.0, TRect{0, 0, 999, 1299}},  // past both edges
        {10, 10, 20, 20, 0.5, TRect{20, 20, 40, 40}},       // zoomed out
        {5, 5, 11, 11, 2.0, std::nullopt},                  // 6 screen pixels are 3 image pixels
        {5, 5, 17, 17, 2.0, TRect{2, 2, 8, 8}},             // 2.5 rounds to 2, 8.5 to 8
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DragToImageRect(c.x0, c.y0, c.x1, c.y1, c.zoom, 1000, 1300), c.expected)
            << c.x0 << "," << c.y0 << " " << c.x1 << "," << c.y1 << " @" << c.zoom;
    }
}

TEST(ExternalEditorLogic, ZoomLimits) {
    EXPECT_DOUBLE_EQ(EditorZoomIn(3.5), 4.0);
    EXPECT_DOUBLE_EQ(EditorZoomIn(1.0), 1.25);
    EXPECT_DOUBLE_EQ(EditorZoomOut(0.11), 0.1);
    EXPECT_DOUBLE_EQ(EditorZoomOut(1.25), 1.0);
    EXPECT_DOUBLE_EQ(EditorFitZoom(1024, 824, 10, 10), 2.0);       // a tiny image
    EXPECT_DOUBLE_EQ(EditorFitZoom(1024, 824, 4000, 3000), 0.25);  // min(1000/4000, 800/3000)
    EXPECT_DOUBLE_EQ(EditorFitZoom(1024, 824, 40000, 100), 0.1);
    EXPECT_DOUBLE_EQ(EditorFitZoom(50, 50, 1000, 500), 0.1);       // the margin never goes below 100
    EXPECT_EQ(ZoomedSide(1000, 0.1234), 123);
    EXPECT_EQ(ZoomedSide(3, 0.1), 1);
    EXPECT_EQ(ZoomLabelText(1.25, 1000, 1300), "显示比例：125%；参考图：1000 × 1300");
}

TEST(ExternalEditorLogic, EditingChecksTheCandidates) {
    const TBallotTemplate t = ThreeAndTwo();
    EXPECT_NO_THROW(CheckExternalTemplateCandidates(t, kCandidates));
    EXPECT_NO_THROW(CheckExternalTemplateCandidates(t, {{1, "张三"}, {2, "LI SI"}, {3, "王五"}}));

    const auto message = [&](const TBallotTemplate& tt, const std::vector<TCandidateInfo>& db) -> std::string {
        try {
            CheckExternalTemplateCandidates(tt, db);
        } catch (const EKorvexError& e) {
            return e.what();
        }
        return "(accepted)";
    };
    EXPECT_EQ(message(t, {{1, "张三"}, {2, "Li Si"}, {3, "赵六"}}), "数据库第3位候选人“赵六”与模板“王五”不一致，不能编辑。");
    EXPECT_EQ(message(t, {{1, "张三"}, {7, "Li Si"}, {3, "王五"}}), "数据库第2位候选人“Li Si”与模板“Li Si”不一致，不能编辑。");
    EXPECT_EQ(message(t, {{1, "张三"}, {2, "Li Si"}}), "当前数据库候选人数与外部模板不一致，不能编辑。");
    TBallotTemplate standard = t;
    standard.TemplateKind = tkStandard;
    EXPECT_EQ(message(standard, kCandidates), "所选文件不是外部固定模板。");
}

TEST(ExternalEditorLogic, NewTemplateAndReferencePaths) {
    const TBallotTemplate t = NewExternalTemplateObject("  ", 3, 2, kCandidates, "20261210-101500", "ABCDEF123456");
    EXPECT_EQ(t.TemplateID, "EXT-20261210-101500-ABCDEF12");
    EXPECT_EQ(t.Title, "外部固定选票");
    EXPECT_EQ(t.Version, 3);
    EXPECT_EQ(t.TemplateKind, tkExternal);
    EXPECT_EQ(t.MaxSelect, 3);
    EXPECT_EQ(t.WriteInSlots, 2);
    ASSERT_EQ(t.Candidates.size(), 3u);
    EXPECT_EQ(t.Candidates[2].ID, 3);
    EXPECT_EQ(t.WriteIns[1].SlotNo, 2);
    EXPECT_EQ(NewExternalTemplateObject(" 区选票 ", 3, 0, {}, "x", "y").Title, "区选票");

    const std::string id = NewExternalTemplateID();
    ASSERT_EQ(id.size(), 28u) << id;
    EXPECT_EQ(id.substr(0, 4), "EXT-");
    EXPECT_EQ(id[12], '-');
    EXPECT_EQ(id[19], '-');

    EXPECT_EQ(ReferenceCopyRelativePath("EXT-1"), "ExternalRefs\\EXT-1_ref.bmp");
    EXPECT_EQ(ResolveReferenceImage("/t", "ExternalRefs\\EXT-1_ref.bmp"), "/t/ExternalRefs/EXT-1_ref.bmp");
    EXPECT_EQ(ResolveReferenceImage("/t", "ExternalRefs/EXT-1_ref.bmp"), "/t/ExternalRefs/EXT-1_ref.bmp");
    EXPECT_EQ(ResolveReferenceImage("/t", "/scans/ref.png"), "/scans/ref.png");
    EXPECT_EQ(ResolveReferenceImage("/t", "  "), "");
}

TEST_F(ExternalEditor, OpensOnTheReferenceImage) {
    auto form = Editor();
    EXPECT_EQ(form->windowTitle().toStdString(), "外部固定选票模板制作器");
    EXPECT_EQ(form->Template().ExternalReferenceWidth, 1000);
    EXPECT_EQ(form->Template().ExternalReferenceHeight, 1300);
    EXPECT_EQ(form->Template().ExternalReferenceImage, reference_);
    EXPECT_EQ(form->ModeCombo()->count(), 11);
    EXPECT_EQ(form->ModeCombo()->currentText().toStdString(), "1-标准O×");
    EXPECT_EQ(form->Template().ExternalOptionMode, "1");  // unchanged until saved
    EXPECT_EQ(form->TitleEdit()->text().toStdString(), "外部固定选票");
    EXPECT_EQ(form->Tasks()->count(), 8);
    EXPECT_EQ(form->SelectedTask(), 0);
    EXPECT_EQ(form->StatusText(), "先框选定位矩形外框，然后依次框选候选人符号格、另选人姓名格和符号格。");
    EXPECT_EQ(form->ZoomLabel()->text().toStdString(), "显示比例：100%；参考图：1000 × 1300");
    EXPECT_EQ(form->PaintSurface()->size(), QSize(1000, 1300));
    form->SetZoom(3.5);
    form->ZoomIn();
    EXPECT_DOUBLE_EQ(form->Zoom(), 4.0);
    EXPECT_EQ(form->PaintSurface()->size(), QSize(4000, 5200));
    form->ZoomToFit();
    EXPECT_LE(form->Zoom(), 2.0);
    EXPECT_GE(form->Zoom(), 0.1);
}

TEST_F(ExternalEditor, MissingOrBrokenReferenceImageOpensNothing) {
    reference_ = folder_.File("gone.bmp");
    try {
        Editor();
        FAIL() << "opened without a reference image";
    } catch (const EKorvexError& e) {
        EXPECT_EQ(std::string(e.what()), "外部模板参考图片不存在：" + reference_);
    }
    reference_ = folder_.Write("broken.bmp", "BM not really a picture");
    EXPECT_THROW(Editor(), EImageError);
}

TEST_F(ExternalEditor, DragsRecordTasksInTurn) {
    auto form = Editor();
    Drag(*form, 10, 10, 15, 50);  // 5 × 40: ignored
    EXPECT_EQ(form->Template().ExternalFrameRect, TRect{});
    EXPECT_EQ(form->SelectedTask(), 0);
    EXPECT_FALSE(form->Dragging());

    Drag(*form, 900, 1150, 100, 150);  // reverse drag
    EXPECT_EQ(form->Template().ExternalFrameRect, (TRect{100, 150, 900, 1150}));
    EXPECT_EQ(form->SelectedTask(), 1);
    EXPECT_EQ(form->StatusText(), "已记录：① 定位矩形外框 = 100,150,900,1150");
    EXPECT_EQ(ListTexts(*form)[0], "✓ ① 定位矩形外框");

    form->SelectTask(7);
    Drag(*form, 1200, 1400, 990, 1290);  // the last task, past the image edge
    EXPECT_EQ(form->Template().WriteIns[1].MarkRect, (TRect{990, 1290, 999, 1299}));
    EXPECT_EQ(form->SelectedTask(), 7);

    form->MouseDown({10, 10}, Qt::RightButton);
    EXPECT_FALSE(form->Dragging());

    form->ClearCurrentTask();
    EXPECT_EQ(form->Template().WriteIns[1].MarkRect, TRect{});
    EXPECT_EQ(ListTexts(*form)[7], "□ 另选人2：符号格");
    EXPECT_EQ(form->SelectedTask(), 7);
}

TEST_F(ExternalEditor, MouseEventsOnTheCanvasDrawAtTheZoom) {
    auto form = Editor();
    form->SetZoom(0.5);
    QWidget* canvas = form->PaintSurface();
    const auto send = [canvas](QEvent::Type type, QPoint p, Qt::MouseButtons buttons) {
        QMouseEvent e(type, QPointF(p), canvas->mapToGlobal(QPointF(p)), Qt::LeftButton, buttons, Qt::NoModifier);
        QCoreApplication::sendEvent(canvas, &e);
    };
    send(QEvent::MouseButtonPress, {50, 75}, Qt::LeftButton);
    EXPECT_TRUE(form->Dragging());
    send(QEvent::MouseMove, {300, 400}, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, {450, 575}, Qt::NoButton);
    EXPECT_FALSE(form->Dragging());
    EXPECT_EQ(form->Template().ExternalFrameRect, (TRect{100, 150, 900, 1150}));
}

TEST_F(ExternalEditor, ModeChangeRelabelsTheCandidates) {
    auto form = Editor();
    form->ModeCombo()->setCurrentIndex(3);
    EXPECT_EQ(form->Template().ExternalOptionMode, "2.3-✓对勾");
    EXPECT_EQ(ListTexts(*form)[1], "□ 候选人：张三（选项区，自动分2区）");
    EXPECT_EQ(form->StatusText(),
              "模式2.3-✓对勾：每位候选人的整个选项区只框一次，程序自动按左/右50%分成赞成、反对两区。");
    form->ModeCombo()->setCurrentIndex(6);
    EXPECT_EQ(ListTexts(*form)[3], "□ 候选人：王五（选项区，自动分3区）");
}

TEST_F(ExternalEditor, DeskewNeedsTheFrameAndFindsIt) {
    SaveBitmap24(ForeignBallot(2.0), reference_);
    auto form = Editor();
    form->Deskew();
    ASSERT_EQ(prompts_.informations.size(), 1u);
    EXPECT_EQ(prompts_.informations[0],
              "请先框选“定位矩形外框”，再点击“倾斜校正”。\r\n外框应尽量沿票面表格最外侧的四条长边框选。");

    DrawAllTasks(*form);
    ASSERT_EQ(FirstUnfinishedTask(form->Template()), -1);
    const TRaster before = form->Bitmap();
    form->Deskew();
    EXPECT_TRUE(prompts_.warnings.empty());
    EXPECT_EQ(form->Template().ExternalFrameRect, (TRect{100, 150, 900, 1150}));
    const std::vector<std::string> texts = ListTexts(*form);
    EXPECT_EQ(texts[0], "✓ ① 定位矩形外框");
    for (std::size_t i = 1; i < texts.size(); ++i) EXPECT_EQ(texts[i].rfind("□ ", 0), 0u) << texts[i];
    EXPECT_EQ(form->SelectedTask(), 1);
    const std::string status = form->StatusText();
    const std::string prefix = "整页倾斜/透视校正完成（检测角 ";
    ASSERT_EQ(status.rfind(prefix, 0), 0u) << status;
    EXPECT_NEAR(std::stod(status.substr(prefix.size())), 2.0, 0.3) << status;
    EXPECT_NE(status.find("°）。页面内容完整保留，请继续框选各区域。"), std::string::npos) << status;
    EXPECT_EQ(form->Bitmap().Width, 1000);
    EXPECT_EQ(form->Bitmap().Height, 1300);
    EXPECT_NE(form->Bitmap().Pixels, before.Pixels);
    // The straightened frame's top edge now runs along y = 150: the pixel
    // near its right end was white before and is ink now.
    const auto darkest = [](const TRaster& r, int x, int y0, int y1) {
        int g = 255;
        for (int y = y0; y <= y1; ++y) g = std::min<int>(g, r.Row(y)[x * 3 + 1]);
        return g;
    };
    EXPECT_GT(darkest(before, 850, 146, 154), 200);
    EXPECT_LT(darkest(form->Bitmap(), 850, 146, 154), 100);
    EXPECT_LT(darkest(form->Bitmap(), 300, 146, 154), 100);
}

TEST_F(ExternalEditor, DeskewWithoutAFrameWarnsAndChangesNothing) {
    auto form = Editor();
    Drag(*form, 300, 700, 700, 1000);  // an empty part of the page
    Drag(*form, 210, 510, 390, 590);
    const TBallotTemplate before = form->Template();
    form->Deskew();
    ASSERT_EQ(prompts_.warnings.size(), 1u);
    EXPECT_EQ(prompts_.warnings[0],
              "未能从当前定位外框稳定检测到四条长边。\r\n请把“定位矩形外框”重新框在票面最清楚、最长的矩形表格外框上再试。");
    EXPECT_EQ(form->Template(), before);
}

TEST_F(ExternalEditor, SaveRefusesWhileATaskIsOpen) {
    auto form = Editor();
    DrawAllTasks(*form);
    form->SelectTask(2);
    form->ClearCurrentTask();
    form->Save();
    ASSERT_EQ(prompts_.warnings.size(), 1u);
    EXPECT_EQ(prompts_.warnings[0], "还有未框选的项目：候选人：Li Si（符号格）");
    EXPECT_NE(form->result(), QDialog::Accepted);
    EXPECT_FALSE(fs::exists(templates_));
}

TEST_F(ExternalEditor, SaveWritesTemplateAndReferenceCopy) {
    auto form = Editor();
    DrawAllTasks(*form);
    form->TitleEdit()->setText("  ");
    form->Save();
    ASSERT_EQ(form->result(), QDialog::Accepted);
    EXPECT_TRUE(prompts_.warnings.empty() && prompts_.errors.empty());

    const std::string id = "EXT-20261210-101500-ABCDEF12";
    const std::string text = TempFolder::Read(templates_ + "/" + id + ".ini");
    EXPECT_NE(text.find("ReferenceImage=ExternalRefs\\" + id + "_ref.bmp"), std::string::npos);
    const TRaster copy = LoadWorkingBitmap(templates_ + "/ExternalRefs/" + id + "_ref.bmp");
    EXPECT_EQ(copy.Pixels, form->Bitmap().Pixels);

    const auto t = LoadTemplate(templates_ + "/" + id + ".ini");
    EXPECT_EQ(t->TemplateKind, tkExternal);
    EXPECT_EQ(t->Version, 4);
    EXPECT_EQ(t->TemplateCode, 0u);
    EXPECT_EQ(t->Title, "外部固定选票");
    EXPECT_EQ(t->ExternalOptionMode, "1-标准O×");
    EXPECT_EQ(t->WriteInSlots, 2);
    EXPECT_EQ(t->ExternalReferenceWidth, 1000);
    EXPECT_EQ(t->ExternalFrameRect, (TRect{100, 150, 900, 1150}));
    ASSERT_EQ(t->Candidates.size(), 3u);
    EXPECT_EQ(t->Candidates[2].MarkRect, (TRect{610, 510, 790, 590}));
    EXPECT_EQ(t->Candidates[2].NameRect, TRect{});
    ASSERT_EQ(t->WriteIns.size(), 2u);
    EXPECT_EQ(t->WriteIns[1].NameRect, (TRect{210, 800, 590, 880}));
}

TEST_F(ExternalEditor, NewTemplateSavedOrAbandoned) {
    std::string file = "stale";
    EXPECT_FALSE(NewExternalTemplate(nullptr, templates_, reference_, 2, 4, "区选票", kCandidates, prompts_, file,
                                     [](TExternalEditorForm& form) { form.reject(); }));
    EXPECT_EQ(file, "");
    EXPECT_TRUE(fs::is_empty(templates_));  // the folder is made, nothing is left in it

    ASSERT_TRUE(NewExternalTemplate(nullptr, templates_, reference_, 2, 4, "区选票", kCandidates, prompts_, file,
                                    [](TExternalEditorForm& form) {
                                        DrawAllTasks(form);
                                        form.Save();
                                    }));
    ASSERT_TRUE(fs::exists(file));
    EXPECT_EQ(fs::path(file).parent_path(), fs::path(templates_));
    const auto t = LoadTemplate(file);
    EXPECT_EQ(fs::path(file).filename().string(), t->TemplateID + ".ini");
    EXPECT_EQ(t->TemplateID.substr(0, 4), "EXT-");
    EXPECT_EQ(t->Title, "区选票");
    EXPECT_EQ(t->MaxSelect, 4);
    EXPECT_TRUE(fs::exists(templates_ + "/ExternalRefs/" + t->TemplateID + "_ref.bmp"));
}

TEST_F(ExternalEditor, EditingAskesForAMissingReferenceCopy) {
    std::string file;
    ASSERT_TRUE(NewExternalTemplate(nullptr, templates_, reference_, 2, 4, "", kCandidates, prompts_, file,
                                    [](TExternalEditorForm& form) {
                                        DrawAllTasks(form);
                                        form.Save();
                                    }));
    const auto original = LoadTemplate(file);
    const std::string copy = templates_ + "/ExternalRefs/" + original->TemplateID + "_ref.bmp";

    // With the copy in place the editor opens on it without asking.
    std::string saved;
    bool opened = false;
    EXPECT_FALSE(EditExternalTemplate(nullptr, templates_, file, kCandidates, prompts_, saved,
                                      [&](TExternalEditorForm& form) {
                                          opened = true;
                                          EXPECT_EQ(form.Template().ExternalFrameRect, original->ExternalFrameRect);
                                      }));
    EXPECT_TRUE(opened);

    // Deleted: the operator cancels the replacement, nothing opens.
    fs::remove(copy);
    prompts_.fileAnswers = {std::nullopt};
    opened = false;
    EXPECT_FALSE(EditExternalTemplate(nullptr, templates_, file, kCandidates, prompts_, saved,
                                      [&](TExternalEditorForm&) { opened = true; }));
    EXPECT_FALSE(opened);

    // Deleted: a replacement is chosen, and saving makes a fresh copy of it.
    const std::string replacement = folder_.File("replacement.bmp");
    SaveBitmap24(ForeignBallot(1.0), replacement);
    prompts_.fileAnswers = {replacement};
    ASSERT_TRUE(EditExternalTemplate(nullptr, templates_, file, {{1, "张三"}, {2, "LI SI"}, {3, "王五"}}, prompts_,
                                     saved, [](TExternalEditorForm& form) { form.Save(); }));
    EXPECT_TRUE(prompts_.fileAnswers.empty());
    EXPECT_EQ(saved, file);
    EXPECT_EQ(LoadWorkingBitmap(copy).Pixels, LoadWorkingBitmap(replacement).Pixels);
    EXPECT_EQ(LoadTemplate(file)->ExternalReferenceImage, ReferenceCopyRelativePath(original->TemplateID));
}

TEST_F(ExternalEditor, EditingRefusesChangedCandidates) {
    std::string file;
    ASSERT_TRUE(NewExternalTemplate(nullptr, templates_, reference_, 0, 4, "", kCandidates, prompts_, file,
                                    [](TExternalEditorForm& form) {
                                        form.SetZoom(1.0);
                                        form.SelectTask(0);
                                        Drag(form, 100, 150, 900, 1150);
                                        for (int i = 0; i < 3; ++i) Drag(form, 210 + 200 * i, 510, 390 + 200 * i, 590);
                                        form.Save();
                                    }));
    std::string saved = "stale";
    bool opened = false;
    try {
        EditExternalTemplate(nullptr, templates_, file, {{1, "张三"}, {2, "Li Si"}, {3, "王小五"}}, prompts_, saved,
                             [&](TExternalEditorForm&) { opened = true; });
        FAIL() << "edited a template of other candidates";
    } catch (const EKorvexError& e) {
        EXPECT_EQ(std::string(e.what()), "数据库第3位候选人“王小五”与模板“王五”不一致，不能编辑。");
    }
    EXPECT_FALSE(opened);
    EXPECT_EQ(saved, "");
}

// A ballot printed elsewhere, registered by dragging its frame and cells on a
// blank reference, then read from a filled, slightly turned scan with the
// saved template.
TEST_F(ExternalEditor, RegisteredLayoutReadsFilledBallots) {
    std::string file;
    ASSERT_TRUE(NewExternalTemplate(nullptr, templates_, reference_, 0, 2, "外省选票", kCandidates, prompts_, file,
                                    [](TExternalEditorForm& form) {
                                        form.SetZoom(0.5);  // drags in screen pixels at half size
                                        form.SelectTask(0);
                                        Drag(form, 50, 75, 450, 575);
                                        for (int i = 0; i < 3; ++i) Drag(form, 105 + 100 * i, 255, 195 + 100 * i, 295);
                                        form.Save();
                                    }));
    const auto t = LoadTemplate(file);
    EXPECT_EQ(t->ExternalFrameRect, (TRect{100, 150, 900, 1150}));
    EXPECT_EQ(t->Candidates[1].MarkRect, (TRect{410, 510, 590, 590}));

    const struct {
        double degrees;
        const char* marks;
        std::vector<TMarkState> expected;
    } scans[] = {{0.0, "OX ", {msApprove, msReject, msBlank}},
                 {1.5, " OX", {msBlank, msApprove, msReject}},
                 {-1.0, "XXO", {msReject, msReject, msApprove}}};
    int n = 0;
    for (const auto& scan : scans) {
        const std::string image = folder_.File("scan" + std::to_string(++n) + ".bmp");
        SaveBitmap24(ForeignBallot(scan.degrees, scan.marks), image);
        const TRecognitionOutcome outcome = RecognizeBallot(image, templates_, folder_.File("Korvex.ini"), file);
        ASSERT_TRUE(outcome.Success) << outcome.ErrorText;
        ASSERT_EQ(outcome.Recognition->Candidates.size(), 3u);
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(outcome.Recognition->Candidates[i].Mark, scan.expected[i]) << scan.marks << " cell " << i;
            EXPECT_EQ(outcome.Recognition->Candidates[i].CandidateID, kCandidates[i].ID);
        }
        EXPECT_EQ(outcome.Recognition->TemplateID, t->TemplateID);
        EXPECT_NEAR(outcome.Recognition->DeskewAngle, scan.degrees, 0.5);
    }
}

TEST_F(ExternalEditor, PaintsTheDrawnTasksOverThePicture) {
    auto form = Editor();
    form->SelectTask(0);
    Drag(*form, 100, 150, 900, 1150);
    Drag(*form, 210, 510, 390, 590);
    form->SelectTask(0);
    const QImage shot = form->PaintSurface()->grab().toImage();
    ASSERT_EQ(shot.size(), QSize(1000, 1300));
    EXPECT_EQ(shot.pixelColor(300, 300), QColor(255, 255, 255));              // the picture
    EXPECT_EQ(shot.pixelColor(300, 500).red(), 0);                              // a printed rule
    EXPECT_EQ(shot.pixelColor(300, 150), QColor(220, 0, 0));                  // the selected frame, 4 wide
    EXPECT_EQ(shot.pixelColor(300, 151), QColor(220, 0, 0));
    EXPECT_EQ(shot.pixelColor(300, 510), QColor(0, 70, 220));                 // another task, 2 wide
    EXPECT_NE(shot.pixelColor(300, 513), QColor(0, 70, 220));
    if (const char* dir = std::getenv("KORVEX_SCREENSHOT_DIR")) {
        form->resize(1380, 900);
        form->show();
        form->ZoomToFit();
        QtTestApp().processEvents();
        form->grab().save(QString(dir) + "/external-editor.png");
    }
}
