#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QProgressBar>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTimer>
#include <QTableWidget>
#include <cstdlib>
#include <fstream>

#include "QtTestApp.h"
#include "ScriptedPrompts.h"
#include "database/NewDatabase.h"
#include "database/uBallotDB.h"
#include "model/Errors.h"
#include "model/tests/TempFolder.h"
#include "templates/uBallotTemplate.h"
#include "scanner/SaneBackend.h"
#include "ui/uMain.h"

using namespace korvex;
using namespace korvex::testing;

namespace {

// A program folder of its own for each test.
class MainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        QtTestApp();
        ::setenv("KORVEX_HOME", home_.Path().c_str(), 1);
    }
    void TearDown() override { ::unsetenv("KORVEX_HOME"); }

    std::unique_ptr<TMainForm> Open() {
        auto prompts = std::make_unique<ScriptedPrompts>();
        prompts_ = prompts.get();
        auto window = std::make_unique<TMainForm>(std::move(prompts));
        window->QueueList()->setCurrentRow(-1);
        return window;
    }

    void MakeDatabase(const std::vector<std::string>& names) { CreateCountingDatabase(home_.File("qm.mdb"), names); }

    TempFolder home_;
    ScriptedPrompts* prompts_ = nullptr;
};

TBallotTemplate Template(const std::vector<std::string>& names, int maxSelect, int slotCount) {
    TBallotTemplate t;
    t.TemplateID = "20261210-101500-ABCDEF12";
    t.MaxSelect = maxSelect;
    t.WriteInSlots = slotCount;
    for (std::size_t i = 0; i < names.size(); ++i) t.Candidates.push_back({static_cast<int>(i + 1), names[i], {}, {}});
    for (int s = 1; s <= slotCount; ++s) t.WriteIns.push_back({s, {}, {}});
    return t;
}

// A queue item as recognition leaves it, without running the pipeline.
void GiveResult(TScanItem& item, const TBallotTemplate& t, const std::vector<TMarkState>& marks,
                const std::string& scanUID) {
    item.Template = std::make_unique<TBallotTemplate>(t);
    item.Recognition = std::make_unique<TBallotRecognition>();
    item.Recognition->ScanUID = scanUID;
    item.Recognition->TemplateID = t.TemplateID;
    for (std::size_t i = 0; i < t.Candidates.size(); ++i)
        item.Recognition->Candidates.push_back({t.Candidates[i].ID, t.Candidates[i].Name, marks.at(i), 0.95});
    item.Recognition->WriteIns.resize(t.WriteIns.size());
    item.Status = kStatusRecognized;
}

std::string Cell(QTableWidget* grid, int row, int column) { return grid->item(row, column)->text().toStdString(); }

}  // namespace

TEST_F(MainWindow, StartsWithoutDatabase) {
    auto window = Open();
    EXPECT_EQ(window->windowTitle().toStdString(), "Varnel选举扫描计票工具");
    EXPECT_EQ(window->StatusText(), "未找到数据库：程序目录下缺少 qm.mdb。");
    ASSERT_EQ(prompts_->errors.size(), 1u);
    EXPECT_EQ(prompts_->errors[0], "程序目录下没有找到 qm.mdb：\r\n" + home_.File("qm.mdb") +
                                       "\r\n\r\n请把 qm.mdb 与 Korvex.exe 放在同一目录后重新启动程序。");
    EXPECT_FALSE(window->Database().IsOpen());
    EXPECT_EQ(window->MaxSelectLabel()->text().toStdString(), "应选人数：≤5");
    EXPECT_GE(window->minimumWidth(), 1100);
}

TEST_F(MainWindow, DatabaseWithoutCandidateTableCountsOpen) {
    home_.Write("qm.mdb", "");  // an empty file is an empty database: no [abc]
    auto window = Open();
    ASSERT_EQ(prompts_->errors.size(), 1u);
    EXPECT_EQ(prompts_->errors[0].rfind("自动打开程序目录下的 qm.mdb 失败：\r\n", 0), 0u);
    EXPECT_NE(prompts_->errors[0].find("abc"), std::string::npos) << prompts_->errors[0];
    EXPECT_EQ(window->StatusText().rfind("qm.mdb 自动打开失败：", 0), 0u);
    EXPECT_TRUE(window->Database().IsOpen());
}

TEST_F(MainWindow, OpensDatabaseAndListsOnlyExternalTemplates) {
    MakeDatabase({"甲", "乙", "丙"});
    TBallotTemplate standard = Template({"甲"}, 2, 0);
    SaveTemplate(standard, home_.File("Templates/standard.ini"));
    TBallotTemplate external = Template({"甲"}, 2, 0);
    external.TemplateKind = tkExternal;
    external.TemplateID = "EXT-20261210-101500-9F8E7D6C";
    external.Title = "外来选票";
    const std::string file = home_.File("Templates/external.ini");
    SaveTemplate(external, file);
    // A title edited by hand with blanks around it is listed without them.
    std::string text = TempFolder::Read(file);
    text.replace(text.find("Title=外来选票"), std::string("Title=外来选票").size(), "Title=  外来选票 ");
    home_.Write("Templates/external.ini", text);
    auto window = Open();
    EXPECT_TRUE(prompts_->errors.empty());
    EXPECT_TRUE(window->Database().IsOpen());
    EXPECT_EQ(window->StatusText().rfind("已自动打开 qm.mdb；正式候选人 3 人；最多可选 5 人；OCR：", 0), 0u)
        << window->StatusText();
    QComboBox* list = window->RecognitionTemplateCombo();
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->itemText(0).toStdString(), "自产选票：自动识别模板码");
    EXPECT_EQ(list->itemText(1).toStdString(), "外部：外来选票 [9F8E7D6C]");
    EXPECT_EQ(window->SelectedTemplateFile(), "");
    list->setCurrentIndex(1);
    EXPECT_EQ(window->SelectedTemplateFile(), home_.File("Templates/external.ini"));
    window->FillRecognitionTemplates();  // the selection survives a refill
    EXPECT_EQ(list->currentIndex(), 1);
}

TEST_F(MainWindow, RecognizeAllSkipsCommittedItemsAndReportsProgress) {
    auto window = Open();
    std::vector<std::string> files;
    for (int i = 0; i < 5; ++i) files.push_back(home_.File("missing" + std::to_string(i) + ".bmp"));
    window->AddImageFiles(files);
    const_cast<TScanItem&>(*window->Items()[1]).Status = kStatusCommitted;
    std::vector<std::string> messages;
    QObject::connect(window->statusBar(), &QStatusBar::messageChanged,
                     [&](const QString& m) { messages.push_back(m.toStdString()); });
    window->RecognizeAll();
    EXPECT_EQ(window->Items()[1]->Status, "已入库");
    for (int i : {0, 2, 3, 4}) EXPECT_EQ(window->Items()[i]->Status, "识别失败");
    EXPECT_NE(std::find(messages.begin(), messages.end(), "正在识别 3 / 5 ……"), messages.end());
    EXPECT_EQ(std::find(messages.begin(), messages.end(), "正在识别 2 / 5 ……"), messages.end());
    EXPECT_EQ(window->StatusText(), "批量识别完成。");
    EXPECT_EQ(window->QueueList()->item(0)->text().toStdString(), "0001  识别失败  missing0.bmp");
}

TEST_F(MainWindow, FailedRecognitionKeepsTheOldResult) {
    auto window = Open();
    window->AddImageFiles({home_.File("gone.bmp")});
    TScanItem& item = const_cast<TScanItem&>(*window->Items()[0]);
    GiveResult(item, Template({"甲"}, 1, 0), {msApprove}, "UID");
    window->QueueList()->setCurrentRow(0);
    window->RecognizeCurrent();
    EXPECT_EQ(item.Status, "识别失败");
    ASSERT_NE(item.Recognition, nullptr);
    EXPECT_EQ(window->StatusText(), "检查图片：扫描图片不存在。");
    EXPECT_EQ(Cell(window->Grid(), 0, 1), "甲");  // the old result is still shown
}

TEST_F(MainWindow, DeleteAndClear) {
    auto window = Open();
    window->AddImageFiles({home_.File("a.bmp"), home_.File("b.bmp"), home_.File("c.bmp")});
    window->QueueList()->clearSelection();
    window->DeleteSelected();
    EXPECT_EQ(prompts_->informations.back(), "请先在扫描队列中选择要删除的项目。");
    window->QueueList()->setCurrentRow(2);
    window->DeleteSelected();
    ASSERT_EQ(window->Items().size(), 2u);
    EXPECT_EQ(window->QueueList()->currentRow(), 1);
    EXPECT_EQ(window->StatusText(), "已从扫描队列删除 1 项；磁盘图片未删除。");
    prompts_->confirmAnswers = {false, true};
    window->ClearQueue();
    EXPECT_EQ(window->Items().size(), 2u);
    window->ClearQueue();
    EXPECT_TRUE(window->Items().empty());
    EXPECT_EQ(prompts_->confirmations.back(), "确认清空扫描队列中的 2 项？\r\n磁盘上的扫描图片不会删除。");
    EXPECT_EQ(window->StatusText(), "扫描队列已清空；磁盘图片未删除。");
}

TEST_F(MainWindow, ZoomStepsNeedAPicture) {
    auto window = Open();
    window->ZoomInClicked();
    EXPECT_EQ(window->ZoomFactor(), 1.0);  // nothing shown
    QImage page(400, 600, QImage::Format_RGB888);
    page.fill(Qt::white);
    ASSERT_TRUE(page.save(QString::fromStdString(home_.File("page.png"))));
    window->AddImageFiles({home_.File("page.png")});
    for (int i = 0; i < 10; ++i) window->ZoomInClicked();
    EXPECT_EQ(window->ZoomFactor(), 8.0);
    EXPECT_EQ(window->ZoomLabel()->text().toStdString(), "缩放：800%（相对适应窗口）");
    window->ResetZoom();
    for (int i = 0; i < 7; ++i) window->ZoomOutClicked();
    EXPECT_EQ(window->ZoomFactor(), 0.25);
}

TEST_F(MainWindow, ReviewGridFiltersAndMarkCorrection) {
    auto window = Open();
    window->AddImageFiles({home_.File("a.bmp")});
    TScanItem& item = const_cast<TScanItem&>(*window->Items()[0]);
    GiveResult(item, Template({"甲", "乙", "丙"}, 2, 1), {msApprove, msBlank, msReject}, "UID-A");
    window->QueueList()->setCurrentRow(0);
    window->ShowCurrentItem();
    QTableWidget* grid = window->Grid();
    ASSERT_EQ(grid->rowCount(), 4);
    EXPECT_TRUE(grid->isColumnHidden(4));
    EXPECT_TRUE(grid->isColumnHidden(5));
    EXPECT_EQ(Cell(grid, 0, 0), "候选人");
    EXPECT_EQ(Cell(grid, 0, 2), "O");
    EXPECT_EQ(Cell(grid, 0, 3), "95.0%");
    EXPECT_EQ(Cell(grid, 3, 0), "另选人");
    // A typed lower-case o is taken as O when a filter changes.
    grid->item(1, 2)->setText("o");
    window->NonBlankFilter()->setChecked(true);
    EXPECT_EQ(item.Recognition->Candidates[1].Mark, msApprove);
    EXPECT_EQ(grid->rowCount(), 3);  // the blank write-in is hidden
    window->NonBlankFilter()->setChecked(false);
    window->CycleMark(2);  // X → blank
    EXPECT_EQ(Cell(grid, 2, 2), "空白");
    EXPECT_EQ(item.Recognition->Candidates[2].Mark, msBlank);
    const std::string memo = window->Memo()->toPlainText().toStdString();
    EXPECT_NE(memo.find("系统建议票型：有效票"), std::string::npos) << memo;
    EXPECT_NE(memo.find("当前赞成：2"), std::string::npos) << memo;
}

TEST_F(MainWindow, CommitChecksAndDuplicateGuard) {
    MakeDatabase({"甲", "乙", "丙"});
    auto window = Open();
    window->CommitCurrent();
    EXPECT_EQ(prompts_->warnings.back(), "当前没有识别结果。");
    window->AddImageFiles({home_.File("a.bmp"), home_.File("a.bmp")});
    const TBallotTemplate t = Template({"甲", "乙", "丙"}, 2, 1);
    for (int i = 0; i < 2; ++i)
        GiveResult(const_cast<TScanItem&>(*window->Items()[i]), t, {msApprove, msReject, msBlank}, "SAME-UID");
    TScanItem& first = const_cast<TScanItem&>(*window->Items()[0]);
    window->QueueList()->setCurrentRow(0);
    window->ShowCurrentItem();
    QTableWidget* grid = window->Grid();
    // A typed 0 is "?" and blocks.
    grid->item(0, 2)->setText("0");
    window->CommitCurrent();
    EXPECT_EQ(prompts_->warnings.back(), "存在未确认符号“?”，请先人工修正。");
    grid->item(0, 2)->setText("O");
    // An approved write-in equal to a printed candidate blocks.
    grid->item(3, 1)->setText(" 乙 ");
    grid->item(3, 2)->setText("O");
    window->CommitCurrent();
    EXPECT_EQ(prompts_->warnings.back(), "另选人信息不完整、重名或重复，请先人工修正。");
    grid->item(3, 1)->setText("张三");
    window->CommitCurrent();
    EXPECT_EQ(first.Status, "已入库") << (prompts_->errors.empty() ? "" : prompts_->errors.back());
    EXPECT_EQ(window->QueueList()->item(0)->text().toStdString().substr(6, 9), "已入库");
    window->CommitCurrent();
    EXPECT_EQ(prompts_->informations.back(), "本张已入库。");
    // The same image from another queue item is refused by the database.
    window->QueueList()->setCurrentRow(1);
    window->ShowCurrentItem();
    window->CommitCurrent();
    ASSERT_FALSE(prompts_->errors.empty());
    EXPECT_EQ(prompts_->errors.back(), "这张扫描图片已经入库，系统已阻止重复计票。");
    EXPECT_EQ(window->Items()[1]->Status, "已识别");
    EXPECT_EQ(window->Database().GetDetailCount(), 1);
}

TEST_F(MainWindow, OverlayOutlinesCellsByMarkAndKeysSetMarks) {
    MakeDatabase({"甲", "乙"});
    QImage page(400, 300, QImage::Format_RGB888);
    page.fill(Qt::white);
    ASSERT_TRUE(page.save(QString::fromStdString(home_.File("scan.png"))));
    auto window = Open();
    window->AddImageFiles({home_.File("scan.png")});
    TScanItem& item = const_cast<TScanItem&>(*window->Items()[0]);
    GiveResult(item, Template({"甲", "乙"}, 2, 0), {msApprove, msReject}, "UID-O");
    item.Recognition->Candidates[1].Confidence = 0.5;
    const auto cell = [](int index, double left) {
        TCellOutline c;
        c.Index = index;
        const double xs[4] = {left, left + 100, left + 100, left}, ys[4] = {100, 100, 200, 200};
        for (int i = 0; i < 4; ++i) c.X[i] = xs[i], c.Y[i] = ys[i];
        return c;
    };
    item.Cells = {cell(0, 50), cell(1, 250)};
    window->QueueList()->setCurrentRow(0);
    window->ShowCurrentItem();
    const QImage shown = window->Picture()->pixmap().toImage();
    const QColor approve = shown.pixelColor(50, 150), reject = shown.pixelColor(250, 150);
    EXPECT_GT(approve.green(), 120);
    EXPECT_LT(approve.red(), 60);
    EXPECT_GT(reject.red(), 180);
    EXPECT_LT(reject.green(), 60);
    // The grid's current row (the first) is tinted on the image; the other cell's inside is untouched.
    window->Grid()->setCurrentCell(0, 0);
    window->RefreshOverlay();
    const QImage current = window->Picture()->pixmap().toImage();
    EXPECT_LT(current.pixelColor(100, 150).blue(), 230);
    EXPECT_EQ(current.pixelColor(300, 150), QColor(Qt::white));

    // Keys in the grid: X on the first row, then Enter commits.
    window->Grid()->setCurrentCell(0, 0);
    QKeyEvent x(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, "x");
    QApplication::sendEvent(window->Grid(), &x);
    EXPECT_EQ(Cell(window->Grid(), 0, 2), "X");
    EXPECT_EQ(item.Recognition->Candidates[0].Mark, msReject);
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(window->Grid(), &enter);
    EXPECT_EQ(item.Status, "已入库");
    EXPECT_TRUE(window->Progress()->isHidden());
}

TEST_F(MainWindow, MaximumSelectionAndClearing) {
    MakeDatabase({"甲", "乙"});
    auto window = Open();
    prompts_->inputAnswers = {std::string("0"), std::string("1000"), std::string("abc"), std::string(" 12 "),
                              std::nullopt, std::string("")};
    for (int i = 0; i < 3; ++i) {
        window->SetMaxSelectAction();
        EXPECT_EQ(prompts_->warnings.back(), "请输入 1～999 的整数。");
    }
    EXPECT_EQ(prompts_->warnings.size(), 3u);
    window->SetMaxSelectAction();
    EXPECT_EQ(window->Database().ReadMaxSelect(5), 12);
    EXPECT_EQ(window->MaxSelectLabel()->text().toStdString(), "应选人数：≤12");
    EXPECT_EQ(window->StatusText(), "应选人数已写入 Korvex.ini：[SYSTEM] BDY=12");
    window->SetMaxSelectAction();  // cancelled: the current value is stored again
    EXPECT_EQ(window->Database().ReadMaxSelect(5), 12);
    window->SetMaxSelectAction();  // an empty answer does nothing
    EXPECT_EQ(prompts_->warnings.size(), 3u);

    // Clearing asks first; Yes removes the ballots.
    window->AddImageFiles({home_.File("a.bmp")});
    GiveResult(const_cast<TScanItem&>(*window->Items()[0]), Template({"甲", "乙"}, 2, 0), {msApprove, msBlank}, "U1");
    window->QueueList()->setCurrentRow(0);
    window->ShowCurrentItem();
    window->CommitCurrent();
    ASSERT_EQ(window->Database().GetDetailCount(), 1);
    prompts_->confirmAnswers = {false, true};
    window->ClearResultsAction();
    EXPECT_EQ(window->Database().GetDetailCount(), 1);
    window->ClearResultsAction();
    EXPECT_EQ(prompts_->confirmations.back(), "清空另选人，计票明细？");
    EXPECT_EQ(window->Database().GetDetailCount(), 0);
}

TEST_F(MainWindow, ExportsThroughTheSaveDialog) {
    {
        auto closed = Open();  // no qm.mdb
        prompts_->fileAnswers = {home_.File("closed.xls")};
        closed->ExportAction(0);
        EXPECT_EQ(prompts_->errors.back(), "导出出错：数据库尚未打开。");
    }
    MakeDatabase({"甲", "乙"});
    auto window = Open();
    prompts_->fileAnswers = {std::nullopt, home_.File("out/汇总.xls")};
    window->ExportAction(1);  // cancelled: nothing
    EXPECT_TRUE(prompts_->informations.empty());
    std::filesystem::create_directories(home_.File("out"));
    window->ExportAction(1);
    ASSERT_EQ(prompts_->informations.size(), 1u) << (prompts_->errors.empty() ? "" : prompts_->errors.back());
    EXPECT_EQ(prompts_->informations[0], "数据已成功导出：\r\n" + home_.File("out/汇总.xls"));
    EXPECT_GT(std::filesystem::file_size(home_.File("out/汇总.xls")), 512u);
}

TEST_F(MainWindow, BallotAndEditorActionsRefuseWithoutDatabase) {
    auto window = Open();
    window->PrintBallotAction();
    EXPECT_EQ(prompts_->warnings.back(), "请先生成标准选票。");
    window->GenerateBallotAction();
    EXPECT_EQ(prompts_->warnings.back(), "程序目录下的 qm.mdb 尚未成功打开，请检查文件是否存在后重新启动程序。");
    window->NewExternalTemplateAction();
    EXPECT_EQ(prompts_->warnings.back(), "程序目录下的 qm.mdb 尚未成功打开。外部模板需要把票面候选人与当前数据库候选人绑定。");
    window->EditExternalTemplateAction();
    EXPECT_EQ(prompts_->informations.back(), "请先在“识别模板”下拉框选择一个外部模板。");
    window->EditCandidatesAction();
    EXPECT_EQ(prompts_->warnings.back(), "数据库尚未打开。");
    EXPECT_EQ(window->GeneratedTemplate(), nullptr);
}

TEST_F(MainWindow, GenerateThenPrintAndCandidateEditingClearsResults) {
    MakeDatabase({"甲", "乙", "丙"});
    auto window = Open();
    window->WriteInSlotsCombo()->setCurrentText("2");
    window->TitleEdit()->setText("第一届选举");
    window->GenerateBallotAction();
    ASSERT_NE(window->GeneratedTemplate(), nullptr);
    const TBallotTemplate& t = *window->GeneratedTemplate();
    EXPECT_EQ(t.WriteInSlots, 2);
    EXPECT_EQ(t.Candidates.size(), 3u);
    EXPECT_TRUE(std::filesystem::exists(home_.File("Templates/" + t.TemplateID + ".ini")));
    EXPECT_TRUE(std::filesystem::exists(home_.File("Templates/" + t.TemplateID + "_preview.bmp")));
    EXPECT_EQ(window->StatusText(), "已生成模板：" + t.TemplateID + "（另选人数 2）");
    EXPECT_EQ(prompts_->informations.back().rfind("标准选票和识别模板已生成（另选人数 2）：\r\n", 0), 0u);
    EXPECT_EQ(window->Picture()->pixmap().width(), 2480);

    std::vector<int> printed;
    window->SetPrinter([&](const TBallotTemplate&, int copies) { printed.push_back(copies); });
    prompts_->inputAnswers = {std::nullopt, std::string("3"), std::string("x"), std::string("0")};
    for (int i = 0; i < 4; ++i) window->PrintBallotAction();
    EXPECT_EQ(printed, (std::vector<int>{1, 3}));  // a cancelled box prints one copy
    window->SetPrinter([](const TBallotTemplate&, int) { throw EKorvexError("没有找到默认打印机。"); });
    prompts_->inputAnswers = {std::string("1")};
    window->PrintBallotAction();
    EXPECT_EQ(prompts_->errors.back(), "打印失败：没有找到默认打印机。");

    // Candidate editing: the editor is closed at once; details and write-ins go all the same.
    window->AddImageFiles({home_.File("a.bmp")});
    TScanItem& item = const_cast<TScanItem&>(*window->Items()[0]);
    GiveResult(item, Template({"甲", "乙", "丙"}, 2, 1), {msApprove, msReject, msBlank}, "UID-E");
    item.Recognition->WriteIns[0].Mark = msApprove;
    item.Recognition->WriteIns[0].Name = "张三";
    window->QueueList()->setCurrentRow(0);
    window->ShowCurrentItem();
    window->CommitCurrent();
    ASSERT_EQ(window->Database().GetDetailCount(), 1);
    ASSERT_EQ(window->Database().LoadCandidates(true).size(), 4u);
    prompts_->confirmAnswers = {false, true};
    window->EditCandidatesAction();  // "No": nothing happens
    EXPECT_EQ(window->Database().GetDetailCount(), 1);
    QTimer::singleShot(0, [] {
        if (QWidget* editor = QApplication::activeModalWidget()) editor->close();
    });
    window->EditCandidatesAction();
    EXPECT_EQ(window->Database().GetDetailCount(), 0);
    EXPECT_EQ(window->Database().LoadCandidates(true).size(), 3u);
    EXPECT_EQ(window->GeneratedTemplate(), nullptr);
}

// "WIA批量扫描" through SANE's virtual test device: a feeder batch of ten
// pages is queued and every page goes through recognition. The operator's
// settings (50 dpi here) carry to every page, which keeps the pages small.
TEST_F(MainWindow, BatchScanQueuesAndRecognisesThePages) {
    const std::string conf = home_.File("sane");
    std::filesystem::create_directories(conf);
    std::ofstream(conf + "/dll.conf") << "test\n";
    std::ofstream(conf + "/test.conf") << "number_of_devices 1\nmode Color\ndepth 8\nresolution 300\n"
                                          "geometry_min 0.0\ngeometry_max 300.0\ngeometry_quant 1.0\n"
                                          "scan-source \"Automatic Document Feeder\"\ntest-picture \"Grid\"\n";
    ::setenv("SANE_CONFIG_DIR", conf.c_str(), 1);
    struct LowResolutionDialogs : IScanDialogs {
        std::optional<std::string> SelectDevice(const std::vector<TScanDeviceInfo>&) override { return "test:0"; }
        bool ShowSettings(IScanDevice& device) override { return device.SetOption("resolution", 50.0); }
    };
    auto window = Open();
    window->SetScanner(std::make_unique<TSaneBackend>(), std::make_unique<LowResolutionDialogs>());
    window->ScanAndRecognize();
    ASSERT_EQ(window->Items().size(), 10u) << (prompts_->errors.empty() ? "" : prompts_->errors.back());
    for (const auto& item : window->Items()) {
        EXPECT_EQ(item->Status, "识别失败");  // a test pattern, not a ballot: recognised and refused
        EXPECT_TRUE(std::filesystem::exists(item->FileName));
    }
    EXPECT_EQ(std::filesystem::path(window->Items()[9]->FileName).filename(), "scan_000010.bmp");
    EXPECT_EQ(std::filesystem::path(window->Items()[0]->FileName).parent_path().parent_path(), home_.File("Scans"));
    EXPECT_EQ(window->StatusText(), "WIA扫描并识别完成，共取得 10 张图片。");
}
