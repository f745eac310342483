#include "ui/uMain.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QFont>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPixmap>
#include <QKeyEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QTableWidget>
#include <QVBoxLayout>
#include <filesystem>

#include "database/uBallotDB.h"
#include "export/uQMExport.h"
#include "templates/uBallotDrawing.h"
#include "templates/uBallotTemplate.h"
#include "templates/uBallotPrinting.h"
#include "templates/uStandardLayout.h"
#include "ui/uExternalTemplateEditor.h"
#include "ui/unt_edit.h"
#include "model/Errors.h"
#include "model/ProgramFolder.h"
#include "model/TextUtil.h"
#include "ocr/uExternalOCR.h"
#include "recognition/uRecognizer.h"
#include "scanner/SaneBackend.h"
#include "scanner/uWiaScanner.h"
#include "templates/IniDocument.h"
#include "ui/ImageLayout.h"
#include "ui/ScanDialogs.h"
#include "ui/ScanPicture.h"

namespace korvex {
namespace fs = std::filesystem;

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

QPushButton* Button(QWidget* parent, const char* caption, int x, int y, int w, int h) {
    auto* b = new QPushButton(QString::fromUtf8(caption), parent);
    b->setGeometry(x, y, w, h);
    return b;
}

QLabel* Label(QWidget* parent, const char* caption, int x, int y, int w, int h) {
    auto* l = new QLabel(QString::fromUtf8(caption), parent);
    l->setGeometry(x, y, w, h);
    return l;
}

QWidget* Panel(QWidget* parent) {
    auto* p = new QWidget(parent);
    p->setContextMenuPolicy(Qt::DefaultContextMenu);
    return p;
}

// Caption of an external template in the recognition-template list: its
// title (or file name) and the last eight characters of its identifier.
std::string ExternalCaption(const TIniDocument& doc, const fs::path& file) {
    const auto title = doc.Find("Template", "Title");
    const std::string shown = title ? TrimmedCopy(*title) : file.filename().string();
    const QString id = Q(TrimmedCopy(doc.ReadString("Template", "TemplateID", "")));
    if (id.isEmpty()) return "外部：" + shown;
    return "外部：" + shown + " [" + (id.size() > 8 ? id.right(8) : id).toStdString() + "]";
}

}  // namespace

TMainForm::TMainForm(std::unique_ptr<IOperatorPrompts> prompts)
    : FPrompts(prompts ? std::move(prompts) : std::make_unique<TQtOperatorPrompts>(this)),
      FDatabase(std::make_unique<TQMDatabase>()) {
    setWindowTitle(QString::fromUtf8(kApplicationTitle));
    resize(1380, 860);
    setMinimumSize(1100, 700);
    BuildControls();
    BuildPopupMenu();
    FillRecognitionTemplates();
    FEdTitle->setText(QStringLiteral("选票"));
    UpdateMaxSelectLabel();
    RefreshOCRState();
    OpenDatabaseAtStartup();
}

TMainForm::~TMainForm() {
    FGeneratedTemplate.reset();
    FRecognitionTemplateFiles.clear();
    FItems.clear();
    FDatabase.reset();
}

void TMainForm::SetScanner(std::unique_ptr<IScanBackend> backend, std::unique_ptr<IScanDialogs> dialogs) {
    FScanBackend = std::move(backend);
    FScanDialogs = std::move(dialogs);
}

std::string TMainForm::TemplatesFolder() const { return ProgramPath("Templates"); }
std::string TMainForm::ConfigFile() const { return ProgramPath("Korvex.ini"); }

void TMainForm::BuildControls() {
    auto* central = Panel(this);
    setCentralWidget(central);
    FStatus = new QStatusBar(this);
    setStatusBar(FStatus);
    FProgress = new QProgressBar(FStatus);
    FProgress->setMaximumWidth(240);
    FProgress->hide();
    FStatus->addPermanentWidget(FProgress);

    auto* outer = new QVBoxLayout(central);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    FTop = Panel(central);
    FTop->setFixedHeight(146);
    outer->addWidget(FTop);
    Label(FTop, "选票标题：", 12, 15, 65, 24);
    FEdTitle = new QLineEdit(FTop);
    FEdTitle->setGeometry(82, 10, 180, 28);
    Label(FTop, "另选人数：", 280, 15, 65, 24);
    FCmbWriteInSlots = new QComboBox(FTop);
    for (const char* n : {"0", "1", "2", "3", "4"}) FCmbWriteInSlots->addItem(n);
    FCmbWriteInSlots->setGeometry(347, 10, 55, 28);
    connect(Button(FTop, "生成标准选票", 420, 8, 115, 31), &QPushButton::clicked, this, [this] { GenerateBallotAction(); });
    connect(Button(FTop, "打印选票", 543, 8, 90, 31), &QPushButton::clicked, this, [this] { PrintBallotAction(); });
    FLblMaxSelect = Label(FTop, "应选人数：≤5", 650, 15, 110, 24);
    QFont bold = FLblMaxSelect->font();
    bold.setBold(true);
    FLblMaxSelect->setFont(bold);
    connect(Button(FTop, "加入扫描图片", 12, 55, 115, 31), &QPushButton::clicked, this, [this] { AddImages(); });
    connect(Button(FTop, "WIA批量扫描", 135, 55, 115, 31), &QPushButton::clicked, this, [this] { ScanAndRecognize(); });
    connect(Button(FTop, "识别当前", 270, 55, 95, 31), &QPushButton::clicked, this, [this] { RecognizeCurrent(); });
    connect(Button(FTop, "全部识别", 373, 55, 95, 31), &QPushButton::clicked, this, [this] { RecognizeAll(); });
    connect(Button(FTop, "自动入库", 480, 55, 105, 31), &QPushButton::clicked, this, [this] { AutoCommit(); });
    Label(FTop, "识别模板：", 12, 108, 65, 24);
    FCmbRecognitionTemplate = new QComboBox(FTop);
    FCmbRecognitionTemplate->setGeometry(78, 102, 465, 30);
    connect(Button(FTop, "新建外部模板", 552, 101, 120, 31), &QPushButton::clicked, this,
            [this] { NewExternalTemplateAction(); });
    connect(Button(FTop, "编辑当前外部模板", 680, 101, 145, 31), &QPushButton::clicked, this,
            [this] { EditExternalTemplateAction(); });

    auto* body = new QHBoxLayout;
    body->setContentsMargins(0, 0, 0, 0);
    body->setSpacing(0);
    outer->addLayout(body, 1);

    auto* left = Panel(central);
    left->setFixedWidth(245);
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    leftLayout->setSpacing(0);
    auto* queueBar = Panel(left);
    queueBar->setFixedHeight(64);
    auto* caption = new QLabel(QStringLiteral("扫描队列"), queueBar);
    caption->setAlignment(Qt::AlignCenter);
    caption->setFrameShape(QFrame::Panel);
    caption->setGeometry(0, 0, 245, 28);
    connect(Button(queueBar, "删除选中", 8, 31, 105, 29), &QPushButton::clicked, this, [this] { DeleteSelected(); });
    connect(Button(queueBar, "清空队列", 123, 31, 105, 29), &QPushButton::clicked, this, [this] { ClearQueue(); });
    FList = new QListWidget(left);
    FList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    connect(FList, &QListWidget::currentRowChanged, this, [this](int) { ShowCurrentItem(); });
    leftLayout->addWidget(queueBar);
    leftLayout->addWidget(FList, 1);

    auto* center = new QFrame(central);
    center->setFrameShape(QFrame::Panel);
    center->setFrameShadow(QFrame::Sunken);
    auto* centerLayout = new QVBoxLayout(center);
    centerLayout->setContentsMargins(1, 1, 1, 1);
    centerLayout->setSpacing(0);
    auto* imageBar = Panel(center);
    imageBar->setFixedHeight(38);
    connect(Button(imageBar, "放大", 8, 4, 70, 29), &QPushButton::clicked, this, [this] { ZoomInClicked(); });
    connect(Button(imageBar, "缩小", 84, 4, 70, 29), &QPushButton::clicked, this, [this] { ZoomOutClicked(); });
    connect(Button(imageBar, "还原", 160, 4, 70, 29), &QPushButton::clicked, this, [this] { ResetZoom(); });
    FLblZoom = Label(imageBar, "缩放：100%（适应窗口）", 244, 10, 180, 22);
    FImageScroll = new QScrollArea(center);
    FImageScroll->setWidgetResizable(false);
    FImageCanvas = new QWidget;
    FImage = new QLabel(FImageCanvas);
    FImage->setScaledContents(true);
    FImageScroll->setWidget(FImageCanvas);
    FImageScroll->viewport()->installEventFilter(this);
    centerLayout->addWidget(imageBar);
    centerLayout->addWidget(FImageScroll, 1);

    auto* right = Panel(central);
    right->setFixedWidth(520);
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->setSpacing(0);
    auto* filters = Panel(right);
    filters->setFixedHeight(38);
    FChkNonBlank = new QCheckBox(QStringLiteral("只显示非空白"), filters);
    FChkNonBlank->setGeometry(10, 9, 135, 24);
    FChkLowConfidence = new QCheckBox(QStringLiteral("只显示置信度 < 0.8"), filters);
    FChkLowConfidence->setGeometry(165, 9, 170, 24);
    connect(FChkNonBlank, &QCheckBox::toggled, this, [this](bool) { FilterChanged(); });
    connect(FChkLowConfidence, &QCheckBox::toggled, this, [this](bool) { FilterChanged(); });
    FGrid = new QTableWidget(right);
    FGrid->setColumnCount(6);
    FGrid->setHorizontalHeaderLabels({"类别", "姓名", "标记", "置信度", "", ""});
    const int widths[] = {78, 190, 80, 110};
    for (int c = 0; c < 4; ++c) FGrid->setColumnWidth(c, widths[c]);
    FGrid->setColumnHidden(4, true);
    FGrid->setColumnHidden(5, true);
    FGrid->verticalHeader()->setVisible(false);
    connect(FGrid, &QTableWidget::cellPressed, this, [this](int row, int column) {
        if (column == 2 && (QApplication::mouseButtons() & Qt::LeftButton)) CycleMark(row);
    });
    connect(FGrid, &QTableWidget::currentCellChanged, this, [this](int, int, int, int) {
        if (!FFillingGrid) RefreshOverlay();
    });
    FGrid->installEventFilter(this);
    auto* bottomRight = Panel(right);
    bottomRight->setFixedHeight(200);
    FMemo = new QPlainTextEdit(bottomRight);
    FMemo->setReadOnly(true);
    FMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    FMemo->setGeometry(10, 8, 495, 132);
    connect(Button(bottomRight, "人工确认并入库", 12, 150, 150, 34), &QPushButton::clicked, this,
            [this] { CommitCurrent(); });
    connect(Button(bottomRight, "切换当前标记", 175, 150, 125, 34), &QPushButton::clicked, this,
            [this] { CycleCurrentMark(); });
    rightLayout->addWidget(filters);
    rightLayout->addWidget(FGrid, 1);
    rightLayout->addWidget(bottomRight);

    body->addWidget(left);
    body->addWidget(center, 1);
    body->addWidget(right);

    FPopupOwners = {central, FTop, left, right, center, bottomRight, filters, queueBar, imageBar, FImageScroll,
                    FList, FImage, FGrid, FMemo};
    ClearRecognitionView();
}

void TMainForm::BuildPopupMenu() {
    FPopup = new QMenu(this);
    connect(FPopup->addAction(QStringLiteral("候选人编辑")), &QAction::triggered, this, [this] { EditCandidatesAction(); });
    connect(FPopup->addAction(QStringLiteral("设置应选人数")), &QAction::triggered, this, [this] { SetMaxSelectAction(); });
    connect(FPopup->addAction(QStringLiteral("清零")), &QAction::triggered, this, [this] { ClearResultsAction(); });
    QMenu* exportMenu = FPopup->addMenu(QStringLiteral("导出"));
    QMenu* summary = exportMenu->addMenu(QStringLiteral("汇总"));
    QAction* byNumber = summary->addAction(QStringLiteral("按序号"));
    byNumber->setData(0);
    connect(byNumber, &QAction::triggered, this, [this] { ExportAction(0); });
    QAction* byVotes = summary->addAction(QStringLiteral("按得票数"));
    byVotes->setData(1);
    connect(byVotes, &QAction::triggered, this, [this] { ExportAction(1); });
    QMenu* detail = exportMenu->addMenu(QStringLiteral("明细"));
    connect(detail->addAction(QStringLiteral("唱票明细")), &QAction::triggered, this, [this] { ExportAction(2); });
    connect(detail->addAction(QStringLiteral("明细统计")), &QAction::triggered, this, [this] { ExportAction(3); });
    QMenu* report = exportMenu->addMenu(QStringLiteral("生成报告"));
    QAction* reportByNumber = report->addAction(QStringLiteral("按序号"));
    reportByNumber->setData(0);
    connect(reportByNumber, &QAction::triggered, this, [this] { ReportAction(false); });
    QAction* reportByVotes = report->addAction(QStringLiteral("按得票数"));
    reportByVotes->setData(1);
    connect(reportByVotes, &QAction::triggered, this, [this] { ReportAction(true); });
    connect(exportMenu->addAction(QStringLiteral("生成选票")), &QAction::triggered, this, [this] { WordBallotAction(); });
    connect(FPopup->addAction(QStringLiteral("检测OCR")), &QAction::triggered, this, [this] { OcrSelfTestAction(); });
    for (QWidget* w : FPopupOwners) {
        w->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(w, &QWidget::customContextMenuRequested, this,
                [this, w](const QPoint& at) { FPopup->popup(w->mapToGlobal(at)); });
    }
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (FImageScroll && watched == FImageScroll->viewport() && event->type() == QEvent::Resize) LayoutImage();
    // While a cell is being edited its editor gets the keys, not the grid.
    if (watched == FGrid && event->type() == QEvent::KeyPress &&
        GridKey(static_cast<QKeyEvent*>(event)->key()))
        return true;
    return QMainWindow::eventFilter(watched, event);
}

// Keyboard review in the grid: O, X, space and ? set the current row's mark;
// Enter commits the ballot.
bool TMainForm::GridKey(int key) {
    switch (key) {
        case Qt::Key_O: SetCurrentRowMark("O"); return true;
        case Qt::Key_X: SetCurrentRowMark("X"); return true;
        case Qt::Key_Space: SetCurrentRowMark("空白"); return true;
        case Qt::Key_Question: SetCurrentRowMark("?"); return true;
        case Qt::Key_Return:
        case Qt::Key_Enter: CommitCurrent(); return true;
        default: return false;
    }
}

void TMainForm::SetCurrentRowMark(const std::string& markText) {
    const int row = FGrid->currentRow();
    const QTableWidgetItem* kind = row >= 0 ? FGrid->item(row, 4) : nullptr;
    if (!kind || kind->text().isEmpty()) return;
    FGrid->item(row, 2)->setText(Q(markText));
    UpdateReviewMemo();
}

void TMainForm::SetStatus(const std::string& text) { FStatus->showMessage(Q(text)); }
std::string TMainForm::StatusText() const { return FStatus->currentMessage().toStdString(); }

void TMainForm::OpenDatabaseAtStartup() {
    const std::string path = ProgramPath("qm.mdb");
    if (!fs::exists(path)) {
        SetStatus("未找到数据库：程序目录下缺少 qm.mdb。");
        FPrompts->Error("程序目录下没有找到 qm.mdb：\r\n" + path + "\r\n\r\n请把 qm.mdb 与 Korvex.exe 放在同一目录后重新启动程序。");
        return;
    }
    try {
        FDatabase->Open(path);
        FDatabase->EnsureDetailTable();
        const std::size_t formal = FDatabase->LoadCandidates(false).size();
        const int maxSelect = FDatabase->ReadMaxSelect(5);
        SetStatus(Format("已自动打开 qm.mdb；正式候选人 %zu 人；最多可选 %d 人；", formal, maxSelect) + OCRStatusText() +
                  "。");
    } catch (const std::exception& e) {
        SetStatus(std::string("qm.mdb 自动打开失败：") + e.what());
        FPrompts->Error(std::string("自动打开程序目录下的 qm.mdb 失败：\r\n") + e.what());
    }
}

void TMainForm::FillRecognitionTemplates() {
    const std::string remembered = SelectedTemplateFile();
    FCmbRecognitionTemplate->clear();
    FRecognitionTemplateFiles.clear();
    FCmbRecognitionTemplate->addItem(QStringLiteral("自产选票：自动识别模板码"));
    FRecognitionTemplateFiles.emplace_back();
    std::error_code ec;
    fs::create_directories(TemplatesFolder(), ec);
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(TemplatesFolder(), ec))
        if (entry.is_regular_file() && SameText(entry.path().extension().string(), ".ini")) files.push_back(entry.path());
    std::sort(files.begin(), files.end());  // a stable order, whatever the file system lists
    for (const fs::path& file : files) {
        try {
            const TIniDocument doc = TIniDocument::LoadFile(file.string());
            if (!SameText(TrimBlanks(doc.ReadString("Template", "Type", "Standard")), "External")) continue;
            FCmbRecognitionTemplate->addItem(Q(ExternalCaption(doc, file)));
            FRecognitionTemplateFiles.push_back(fs::absolute(file).string());
        } catch (const EKorvexError&) {
            // an unreadable file is simply not listed
        }
    }
    FCmbRecognitionTemplate->setCurrentIndex(0);
    if (!remembered.empty())
        for (std::size_t i = 1; i < FRecognitionTemplateFiles.size(); ++i)
            if (SameText(FRecognitionTemplateFiles[i], remembered)) {
                FCmbRecognitionTemplate->setCurrentIndex(static_cast<int>(i));
                break;
            }
}

std::string TMainForm::SelectedTemplateFile() const {
    const int index = FCmbRecognitionTemplate->currentIndex();
    if (index <= 0 || index >= static_cast<int>(FRecognitionTemplateFiles.size())) return "";
    return FRecognitionTemplateFiles[static_cast<std::size_t>(index)];
}

void TMainForm::RefreshOCRState() {
    FOCRAvailable = false;
    FOCRDescription.clear();
    TExternalOCR ocr(ConfigFile());
    FOCRAvailable = ocr.IsAvailable(FOCRDescription);
}

std::string TMainForm::OCRStatusText() const {
    if (FOCRAvailable) return "OCR：已就绪";
    if (!TrimBlanks(FOCRDescription).empty()) return "OCR：未就绪（" + FOCRDescription + "）";
    return "OCR：未配置；另选人姓名将人工复核";
}

void TMainForm::UpdateMaxSelectLabel() {
    FLblMaxSelect->setText(Q("应选人数：≤" + std::to_string(FDatabase->ReadMaxSelect(5))));
}

// --- scan queue -------------------------------------------------------------

void TMainForm::AddImages() {
    const auto files = FPrompts->OpenFiles("扫描图片|*.bmp;*.jpg;*.jpeg;*.png;*.tif;*.tiff|所有文件|*.*");
    if (files.empty()) return;
    AddImageFiles(files);
}

void TMainForm::AddImageFiles(const std::vector<std::string>& files) {
    for (const std::string& f : files)
        for (auto& item : NewScanItems(f)) FItems.push_back(std::move(item));
    RefreshQueueList();
    ShowCurrentItem();
}

void TMainForm::RefreshQueueList() {
    const int selected = FList->currentRow();
    const QSignalBlocker block(FList);
    FList->clear();
    for (std::size_t i = 0; i < FItems.size(); ++i)
        FList->addItem(Q(QueueLine(static_cast<int>(i) + 1, *FItems[i])));
    if (selected >= 0 && selected < FList->count()) FList->setCurrentRow(selected);
    else if (FList->count() > 0) FList->setCurrentRow(0);
}

TScanItem* TMainForm::CurrentScanItem() const {
    const int row = FList->currentRow();
    if (row < 0 || row >= static_cast<int>(FItems.size())) return nullptr;
    return FItems[static_cast<std::size_t>(row)].get();
}

bool TMainForm::RecognizeItem(TScanItem& item) {
    TRecognitionOutcome outcome =
        RecognizeBallot(item.FileName, TemplatesFolder(), ConfigFile(), SelectedTemplateFile(), item.PageIndex);
    const bool ok = outcome.Success;
    const std::string error = outcome.ErrorText;
    ApplyRecognitionOutcome(item, std::move(outcome));
    if (!ok) SetStatus(error);
    return ok;
}

void TMainForm::RecognizeCurrent() {
    RefreshOCRState();
    TScanItem* item = CurrentScanItem();
    if (!item) return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    RecognizeItem(*item);
    QApplication::restoreOverrideCursor();
    RefreshQueueList();
    ShowCurrentItem();
}

void TMainForm::RecognizeAll() {
    RefreshOCRState();
    if (FItems.empty()) return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const std::size_t count = FItems.size();
    FProgress->setRange(0, static_cast<int>(count));
    FProgress->setValue(0);
    FProgress->show();
    try {
        for (std::size_t i = 0; i < count && i < FItems.size(); ++i) {
            FProgress->setValue(static_cast<int>(i));
            if (FItems[i]->IsCommitted()) continue;
            SetStatus(Format("正在识别 %zu / %zu ……", i + 1, FItems.size()));
            QCoreApplication::processEvents();
            RecognizeItem(*FItems[i]);
        }
    } catch (...) {
        FProgress->hide();
        QApplication::restoreOverrideCursor();
        throw;
    }
    FProgress->hide();
    QApplication::restoreOverrideCursor();
    RefreshQueueList();
    ShowCurrentItem();
    SetStatus("批量识别完成。");
}

void TMainForm::ScanAndRecognize() {
    const std::size_t start = FItems.size();
    const std::string folder =
        (fs::path(ProgramPath("Scans")) / QDateTime::currentDateTime().toString("yyyyMMdd_HHmmss").toStdString()).string();
    try {
        SetStatus("正在调用WIA扫描仪（600 DPI）……");
        TScanBatch batch;
        if (FScanBackend) {
            TQtScanDialogs defaultDialogs(this);
            batch = ScanBatch(*FScanBackend, FScanDialogs ? *FScanDialogs : defaultDialogs, folder, 600, 500);
        } else {
            TSaneBackend sane;
            TQtScanDialogs dialogs(this);
            batch = ScanBatch(sane, FScanDialogs ? *FScanDialogs : dialogs, folder, 600, 500);
        }
        for (const std::string& f : batch.Files) FItems.push_back(NewScanItem(f));
        const std::size_t added = FItems.size() - start;
        RefreshQueueList();
        // The pages before a failed one are kept and recognised; the operator
        // learns where the batch stopped.
        if (batch.Ending == TScanBatch::seInterrupted)
            FPrompts->Error(Format("WIA扫描失败：第 %d 页：%s%s此前扫描的 %zu 张图片已保存并加入扫描队列。",
                                   batch.FailedPage, batch.Message.c_str(), "\r\n", added));
        for (std::size_t k = 1; k <= added; ++k) {
            SetStatus(Format("扫描完成，正在自动识别 %zu / %zu ……", k, added));
            QCoreApplication::processEvents();
            RecognizeItem(*FItems[start + k - 1]);
        }
        RefreshQueueList();
        ShowCurrentItem();
        if (batch.Ending == TScanBatch::seCancelled)
            SetStatus(Format("WIA扫描已取消，共取得 %zu 张图片。", batch.Files.size()));
        else if (batch.Ending == TScanBatch::seInterrupted)
            SetStatus(Format("WIA扫描在第 %d 页中断，共取得 %zu 张图片。", batch.FailedPage, batch.Files.size()));
        else
            SetStatus(Format("WIA扫描并识别完成，共取得 %zu 张图片。", batch.Files.size()));
    } catch (const std::exception& e) {
        FPrompts->Error(std::string("WIA扫描失败：") + e.what());
    }
}

void TMainForm::DeleteSelected() {
    if (FItems.empty()) return;
    std::vector<int> rows;
    for (const QModelIndex& index : FList->selectionModel()->selectedRows()) rows.push_back(index.row());
    if (rows.empty()) {
        FPrompts->Information("请先在扫描队列中选择要删除的项目。");
        return;
    }
    const int position = FList->currentRow();
    std::sort(rows.begin(), rows.end());
    for (auto it = rows.rbegin(); it != rows.rend(); ++it)
        if (*it >= 0 && *it < static_cast<int>(FItems.size())) FItems.erase(FItems.begin() + *it);
    {
        const QSignalBlocker block(FList);
        FList->clear();
        for (std::size_t i = 0; i < FItems.size(); ++i)
            FList->addItem(Q(QueueLine(static_cast<int>(i) + 1, *FItems[i])));
        if (!FItems.empty()) FList->setCurrentRow(std::max(0, std::min(position, static_cast<int>(FItems.size()) - 1)));
    }
    ShowCurrentItem();
    SetStatus(Format("已从扫描队列删除 %zu 项；磁盘图片未删除。", rows.size()));
}

void TMainForm::ClearQueue() {
    if (FItems.empty()) return;
    if (!FPrompts->Confirm(Format("确认清空扫描队列中的 %zu 项？%s磁盘上的扫描图片不会删除。", FItems.size(), "\r\n"))) return;
    FItems.clear();
    {
        const QSignalBlocker block(FList);
        FList->clear();
    }
    FScanPicture = QPixmap();
    FImage->setPixmap(FScanPicture);
    ResetZoom();
    ClearRecognitionView();
    SetStatus("扫描队列已清空；磁盘图片未删除。");
}

void TMainForm::ShowCurrentItem() {
    TScanItem* item = CurrentScanItem();
    FScanPicture = item ? LoadScanPicture(*item) : QPixmap();  // an unreadable file shows nothing
    FImage->setPixmap(FScanPicture);
    ResetZoom();
    if (item && item->Recognition) ShowRecognition(*item);
    else ClearRecognitionView();
}

// --- image view ---------------------------------------------------------------

void TMainForm::ResetZoom() {
    FZoomFactor = 1.0;
    FImageScroll->horizontalScrollBar()->setValue(0);
    FImageScroll->verticalScrollBar()->setValue(0);
    LayoutImage();
}

void TMainForm::ZoomInClicked() {
    const QPixmap& p = FScanPicture;
    if (p.isNull() || p.width() <= 0) return;
    FZoomFactor = ZoomIn(FZoomFactor);
    LayoutImage();
}

void TMainForm::ZoomOutClicked() {
    const QPixmap& p = FScanPicture;
    if (p.isNull() || p.width() <= 0) return;
    FZoomFactor = ZoomOut(FZoomFactor);
    LayoutImage();
}

void TMainForm::LayoutImage() {
    const QPixmap& p = FScanPicture;
    const QSize client = FImageScroll->viewport()->size();
    const TImagePlacement place =
        korvex::LayoutImage(p.isNull() ? 0 : p.width(), p.isNull() ? 0 : p.height(), client.width(), client.height(), FZoomFactor);
    FImage->setGeometry(place.Left, place.Top, place.Width, place.Height);
    FImageCanvas->resize(std::max(client.width(), place.Left + place.Width),
                         std::max(client.height(), place.Top + place.Height));
    FLblZoom->setText(Q(place.ZoomLabel));
}

// --- review -------------------------------------------------------------------

void TMainForm::ClearRecognitionView() {
    FFillingGrid = true;
    FGrid->setRowCount(1);
    for (int c = 0; c < 6; ++c) FGrid->setItem(0, c, new QTableWidgetItem);
    FFillingGrid = false;
    FMemo->clear();
}

void TMainForm::ShowRecognition(TScanItem& item) {
    if (!item.Recognition) {
        ClearRecognitionView();
        return;
    }
    const TResultFilter filter{FChkNonBlank->isChecked(), FChkLowConfidence->isChecked()};
    const std::vector<TResultRow> rows = BuildResultRows(*item.Recognition, filter);
    FFillingGrid = true;
    FGrid->setRowCount(std::max<int>(1, static_cast<int>(rows.size())));
    for (int r = 0; r < FGrid->rowCount(); ++r)
        for (int c = 0; c < 6; ++c) FGrid->setItem(r, c, new QTableWidgetItem);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const TResultRow& row = rows[r];
        const std::string cells[] = {row.Category, row.Name, row.Mark, row.Confidence, row.Kind, row.Position};
        for (int c = 0; c < 6; ++c) FGrid->item(static_cast<int>(r), c)->setText(Q(cells[c]));
    }
    FFillingGrid = false;
    UpdateReviewMemo();
}

void TMainForm::SyncGridToRecognition(TScanItem& item) {
    if (!item.Recognition) return;
    auto text = [this](int r, int c) {
        const QTableWidgetItem* cell = FGrid->item(r, c);
        return cell ? cell->text().toStdString() : std::string();
    };
    for (int r = 0; r < FGrid->rowCount(); ++r)
        SyncResultRow(*item.Recognition, text(r, 4), text(r, 5), text(r, 1), text(r, 2));
}

void TMainForm::UpdateReviewMemo() {
    TScanItem* item = CurrentScanItem();
    if (!item || !item->Recognition || !item->Template) return;
    SyncGridToRecognition(*item);
    QStringList lines;
    for (const std::string& line : ReviewNotes(*item->Template, *item->Recognition)) lines << Q(line);
    FMemo->setPlainText(lines.join('\n'));
    RefreshOverlay();
}

void TMainForm::RefreshOverlay() {
    TScanItem* item = CurrentScanItem();
    if (FScanPicture.isNull() || !item || !item->Recognition || item->Cells.empty()) {
        FImage->setPixmap(FScanPicture);
        return;
    }
    // The grid's current row names the cell to highlight.
    char currentKind = 0;
    int currentIndex = -1;
    const int row = FGrid->currentRow();
    if (row >= 0 && FGrid->item(row, 4) && FGrid->item(row, 5) && !FGrid->item(row, 4)->text().isEmpty()) {
        currentKind = FGrid->item(row, 4)->text().toStdString()[0];
        currentIndex = FGrid->item(row, 5)->text().toInt();
    }
    QPixmap shown = FScanPicture.copy();
    QPainter painter(&shown);
    painter.setRenderHint(QPainter::Antialiasing);
    const double stroke = std::max(2.0, shown.width() / 500.0);
    const TBallotRecognition& r = *item->Recognition;
    for (const TCellOutline& cell : item->Cells) {
        TMarkState mark = msBlank;
        double confidence = 1.0;
        if (cell.Kind == 'C' && cell.Index < static_cast<int>(r.Candidates.size())) {
            mark = r.Candidates[cell.Index].Mark;
            confidence = r.Candidates[cell.Index].Confidence;
        } else if (cell.Kind == 'W' && cell.Index < static_cast<int>(r.WriteIns.size())) {
            mark = r.WriteIns[cell.Index].Mark;
            confidence = cell.NameCell ? r.WriteIns[cell.Index].NameConfidence : r.WriteIns[cell.Index].MarkConfidence;
            if (cell.NameCell && !r.WriteIns[cell.Index].HasNameInk) confidence = 1.0;
        }
        QColor colour = mark == msApprove ? QColor(0, 160, 0) : mark == msReject ? QColor(220, 0, 0)
                        : mark == msUnknown ? QColor(255, 140, 0) : QColor(70, 110, 230);
        if (cell.NameCell) colour = QColor(120, 0, 200);
        const bool low = mark == msUnknown || confidence < 0.8;
        QPolygonF outline;
        for (int i = 0; i < 4; ++i) outline << QPointF(cell.X[i], cell.Y[i]);
        if (cell.Kind == currentKind && cell.Index == currentIndex) painter.setBrush(QColor(255, 230, 0, 90));
        else painter.setBrush(Qt::NoBrush);
        QPen pen(colour, low ? stroke * 2.5 : stroke, low ? Qt::DashLine : Qt::SolidLine);
        painter.setPen(pen);
        painter.drawPolygon(outline);
    }
    painter.end();
    FImage->setPixmap(shown);
}

void TMainForm::CycleMark(int row) {
    if (row < 0 || row >= FGrid->rowCount()) return;
    QTableWidgetItem* cell = FGrid->item(row, 2);
    if (!cell) return;
    cell->setText(Q(NextMarkText(cell->text().toStdString())));
    UpdateReviewMemo();
}

void TMainForm::CycleCurrentMark() {
    const int row = FGrid->currentRow();
    const QTableWidgetItem* kind = row >= 0 ? FGrid->item(row, 4) : nullptr;
    if (kind && !kind->text().isEmpty()) CycleMark(row);
}

void TMainForm::FilterChanged() {
    TScanItem* item = CurrentScanItem();
    if (!item || !item->Recognition) return;
    SyncGridToRecognition(*item);
    ShowRecognition(*item);
}

bool TMainForm::CommitItem(TScanItem& item, bool automatic) {
    const std::string ballotType = SuggestBallotType(*item.Template, *item.Recognition).BallotType;
    int detailID = 0;
    bool structureChanged = false;
    FDatabase->CommitBallot(item.Template.get(), item.Recognition.get(), ballotType, detailID, structureChanged);
    item.Status = kStatusCommitted;
    (void)automatic;
    SetStatus(Format("已入库：%s（明细号 %d）。", ballotType.c_str(), detailID));
    return true;
}

void TMainForm::CommitCurrent() {
    TScanItem* item = CurrentScanItem();
    if (!item || !item->Recognition) {
        FPrompts->Warning("当前没有识别结果。");
        return;
    }
    if (item->IsCommitted()) {
        FPrompts->Information("本张已入库。");
        return;
    }
    if (!FDatabase->IsOpen()) {
        FPrompts->Warning("程序目录下的 qm.mdb 尚未成功打开，请检查文件是否存在后重新启动程序。");
        return;
    }
    SyncGridToRecognition(*item);
    if (const auto blocker = CommitBlocker(*item->Recognition)) {
        FPrompts->Warning(*blocker);
        return;
    }
    try {
        CommitItem(*item, false);
    } catch (const std::exception& e) {
        FPrompts->Error(e.what());
        return;
    }
    RefreshQueueList();
    UpdateReviewMemo();
}

// Commits every recognised item that needs no review ("已识别"), with its
// proposed ballot type; the others are left for the operator.
void TMainForm::AutoCommit() {
    if (!FDatabase->IsOpen()) {
        FPrompts->Warning("程序目录下的 qm.mdb 尚未成功打开，请检查文件是否存在后重新启动程序。");
        return;
    }
    int committed = 0, skipped = 0, failed = 0;
    std::string firstError;
    FProgress->setRange(0, static_cast<int>(FItems.size()));
    FProgress->show();
    int done = 0;
    for (const auto& item : FItems) {
        FProgress->setValue(done++);
        SetStatus(Format("正在自动入库 %d / %zu ……", done, FItems.size()));
        if (item->IsCommitted()) continue;
        if (!SameText(item->Status, kStatusRecognized) || !item->Recognition || CommitBlocker(*item->Recognition)) {
            ++skipped;
            continue;
        }
        try {
            CommitItem(*item, true);
            ++committed;
        } catch (const std::exception& e) {
            if (firstError.empty()) firstError = e.what();
            ++failed;
        }
        QCoreApplication::processEvents();
    }
    FProgress->hide();
    RefreshQueueList();
    ShowCurrentItem();
    std::string status = Format("自动入库完成：入库 %d 张，需人工复核 %d 张，失败 %d 张。", committed, skipped, failed);
    if (!firstError.empty()) status += "首个错误：" + firstError;
    SetStatus(status);
}

// --- window actions -------------------------------------------------------------

void TMainForm::SetMaxSelectAction() {
    const std::string current = std::to_string(FDatabase->ReadMaxSelect(5));
    // A cancelled box answers its default, which is then stored again.
    const std::string answer =
        FPrompts->InputText("设置应选人数", "最多可选人数（保存到 Korvex.ini [SYSTEM] BDY）：", current).value_or(current);
    if (answer.empty()) return;
    const auto value = ParseDecimalInt32(TrimBlanks(answer));
    if (!value || *value < 1 || *value > 999) {
        FPrompts->Warning("请输入 1～999 的整数。");
        return;
    }
    FDatabase->WriteMaxSelect(*value);
    UpdateMaxSelectLabel();
    SetStatus("应选人数已写入 Korvex.ini：[SYSTEM] BDY=" + std::to_string(*value));
}

void TMainForm::ClearResultsAction() {
    if (!FPrompts->Confirm("清空另选人，计票明细？")) return;
    FDatabase->ClearVotingResults(true);
}

void TMainForm::OcrSelfTestAction() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    TExternalOCR ocr(ConfigFile());
    std::string detail;
    bool ok = false;
    try {
        ok = ocr.SelfTest(detail);
    } catch (...) {
        QApplication::restoreOverrideCursor();
        throw;
    }
    QApplication::restoreOverrideCursor();
    if (ok) {
        FOCRAvailable = true;
        FOCRDescription = ocr.BackendDescription();
        FPrompts->Information("OCR 自检通过。\r\n" + detail);
    } else {
        FOCRAvailable = false;
        FOCRDescription = detail;
        FPrompts->Warning("OCR 自检失败，但固定候选人的 O/X/空白识别仍可正常使用。\r\n\r\n" + detail);
    }
}

int TMainForm::SelectedWriteInSlots() const {
    return ParseDecimalInt32(FCmbWriteInSlots->currentText().toStdString()).value_or(0);
}

void TMainForm::ExportAction(int kind) {
    static const char* const kProposed[] = {"计票结果_序号.xls", "计票结果_票数.xls", "计票明细.xls", "明细统计.xls"};
    if (kind < 0 || kind > 3) return;
    const auto file = FPrompts->SaveFile("Excel 97-2003 文件|*.xls", "xls", kProposed[kind]);
    if (!file) return;
    try {
        switch (kind) {
            case 0: ExportSummary(*FDatabase, *file, false); break;
            case 1: ExportSummary(*FDatabase, *file, true); break;
            case 2: ExportDetail(*FDatabase, *file); break;
            default: ExportDetailStatistics(*FDatabase, *file); break;
        }
        FPrompts->Information("数据已成功导出：\r\n" + *file);
    } catch (const std::exception& e) {
        FPrompts->Error(std::string("导出出错：") + e.what());
    }
}

void TMainForm::ReportAction(bool byVotes) {
    try {
        const TSavedDocument saved = ElectionReport(*FDatabase, FEdTitle->text().toStdString(), byVotes);
        if (!saved.Notice.empty()) FPrompts->Information(saved.Notice);  // no viewer: say where the file is
    } catch (const std::exception& e) {
        FPrompts->Error(std::string("生成报告失败：") + e.what() + "\r\n请确认本机已安装 Microsoft Word。");
    }
}

void TMainForm::WordBallotAction() {
    try {
        const TSavedDocument saved = WordBallot(*FDatabase, FEdTitle->text().toStdString(), FDatabase->ReadMaxSelect(5),
                                                SelectedWriteInSlots());
        if (!saved.Notice.empty()) FPrompts->Information(saved.Notice);
    } catch (const std::exception& e) {
        FPrompts->Error(std::string("生成Word选票失败：") + e.what() + "\r\n请确认本机已安装 Microsoft Word。");
    }
}

namespace {
constexpr const char* kDatabaseNotOpen = "程序目录下的 qm.mdb 尚未成功打开，请检查文件是否存在后重新启动程序。";
}

void TMainForm::GenerateBallotAction() {
    if (!FDatabase->IsOpen()) {
        FPrompts->Warning(kDatabaseNotOpen);
        return;
    }
    const int slotCount = SelectedWriteInSlots();
    const std::vector<TCandidateInfo> formal = FDatabase->LoadCandidates(false);
    FGeneratedTemplate.reset();
    FGeneratedTemplate =
        GenerateStandardTemplate(formal, FEdTitle->text().toStdString(), FDatabase->ReadMaxSelect(5), slotCount);
    std::error_code ec;
    fs::create_directories(TemplatesFolder(), ec);
    const std::string ini = (fs::path(TemplatesFolder()) / (FGeneratedTemplate->TemplateID + ".ini")).string();
    SaveTemplate(*FGeneratedTemplate, ini);
    const std::string preview = SaveBallotPreview(*FGeneratedTemplate, TemplatesFolder());
    FScanPicture = QPixmap();
    FScanPicture.load(Q(preview));
    FImage->setPixmap(FScanPicture);
    ResetZoom();
    SetStatus(Format("已生成模板：%s（另选人数 %d）", FGeneratedTemplate->TemplateID.c_str(), FGeneratedTemplate->WriteInSlots));
    FPrompts->Information(Format("标准选票和识别模板已生成（另选人数 %d）：", FGeneratedTemplate->WriteInSlots) + "\r\n" + ini +
                          "\r\n" + preview);
}

void TMainForm::PrintBallotAction() {
    if (!FGeneratedTemplate) {
        FPrompts->Warning("请先生成标准选票。");
        return;
    }
    const std::string answer = FPrompts->InputText("打印", "打印份数：", "1").value_or("1");  // cancel gives the default
    const auto copies = ParseDecimalInt32(answer);
    if (!copies || *copies <= 0) return;
    try {
        if (FPrinter) FPrinter(*FGeneratedTemplate, *copies);
        else PrintBallot(*FGeneratedTemplate, *copies);
    } catch (const std::exception& e) {
        FPrompts->Error(std::string("打印失败：") + e.what());
    }
}

void TMainForm::NewExternalTemplateAction() {
    if (!FDatabase->IsOpen()) {
        FPrompts->Warning("程序目录下的 qm.mdb 尚未成功打开。外部模板需要把票面候选人与当前数据库候选人绑定。");
        return;
    }
    const int slotCount = SelectedWriteInSlots();
    const auto reference =
        FPrompts->OpenFile("图片|*.bmp;*.jpg;*.jpeg;*.png;*.tif;*.tiff|所有文件|*.*");
    if (!reference) return;
    std::string saved;
    if (!NewExternalTemplate(this, TemplatesFolder(), *reference, slotCount, FDatabase->ReadMaxSelect(5),
                             FEdTitle->text().toStdString(), FDatabase->LoadCandidates(false), *FPrompts, saved,
                             FEditorRunner))
        return;
    FillRecognitionTemplates();
    for (std::size_t i = 1; i < FRecognitionTemplateFiles.size(); ++i)
        if (SameText(FRecognitionTemplateFiles[i], fs::absolute(saved).string())) {
            FCmbRecognitionTemplate->setCurrentIndex(static_cast<int>(i));
            break;
        }
    SetStatus("外部固定模板已保存：" + fs::path(saved).filename().string());
    FPrompts->Information("外部模板制作完成。以后扫描这类选票时，在“识别模板”下拉框选择它即可。\r\n" + fs::absolute(saved).string());
}

void TMainForm::EditExternalTemplateAction() {
    const std::string selected = SelectedTemplateFile();
    if (selected.empty()) {
        FPrompts->Information("请先在“识别模板”下拉框选择一个外部模板。");
        return;
    }
    if (!FDatabase->IsOpen()) {
        FPrompts->Warning(kDatabaseNotOpen);
        return;
    }
    std::string saved;
    if (!EditExternalTemplate(this, TemplatesFolder(), selected, FDatabase->LoadCandidates(false), *FPrompts, saved,
                              FEditorRunner))
        return;
    FillRecognitionTemplates();
    SetStatus("外部模板已更新：" + fs::path(saved).filename().string());
}

void TMainForm::EditCandidatesAction() {
    if (!FDatabase->IsOpen()) {
        FPrompts->Warning("数据库尚未打开。");
        return;
    }
    const int details = FDatabase->GetDetailCount();
    if (details > 0) {
        if (!FPrompts->Confirm(Format("当前已有 %d 条计票明细。候选人姓名同时也是 detail 字段名，直接修改会破坏已有明细。\r\n\r\n"
                                      "是否先清空计票结果（保留正式候选人）再进入候选人编辑？",
                                      details)))
            return;
        FDatabase->ClearVotingResults(true);
    }
    EditCandidates(this, *FDatabase, *FPrompts);
    // Whatever happened in the editor, the results restart and the ballot must be generated anew.
    FDatabase->ClearVotingResults(true);
    FGeneratedTemplate.reset();
    FillRecognitionTemplates();
    UpdateMaxSelectLabel();
}

}  // namespace korvex
