#include "ui/uExternalTemplateEditor.h"

#include <QComboBox>
#include <QEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStatusBar>
#include <QVBoxLayout>
#include <filesystem>

#include "imaging/ExternalFrame.h"
#include "imaging/ImageFiles.h"
#include "model/Errors.h"
#include "model/TextUtil.h"
#include "templates/uBallotTemplate.h"
#include "ui/ExternalEditorLogic.h"

namespace korvex {
namespace fs = std::filesystem;

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

constexpr const char* kFirstStatus = "先框选定位矩形外框，然后依次框选候选人符号格、另选人姓名格和符号格。";
constexpr const char* kInstructions =
    "操作说明：\r\n1. 推荐先框选“定位矩形外框”，然后点击“倾斜校正”。程序会把该外框校正成标准矩形。\r\n"
    "2. 校正会保留整张图片，只把大表格扶正；原有候选人/另选人框会清空，请在校正后的整页图片上重新框选。\r\n"
    "3. 候选人只框选实际填写 O/X 的格子内部，尽量避开表格线和姓名文字。\r\n"
    "4. 如设置另选人，每个另选人需要连续框两次：姓名填写区、其符号 O/X 区。\r\n"
    "5. 模式2/3：每位候选人的整个选项区只框一次；程序会自动按50%/33.33%切分。\r\n"
    "6. 框完一个任务会自动跳到下一个。可随时点列表返回重画。";
constexpr const char* kImageFilter = "图片|*.bmp;*.jpg;*.jpeg;*.png;*.tif;*.tiff|所有文件|*.*";
constexpr int kPanelWidth = 355;

QImage PictureOf(const TRaster& r) {
    if (r.Empty()) return {};
    return QImage(r.Pixels.data(), r.Width, r.Height, static_cast<qsizetype>(r.Stride()), QImage::Format_BGR888).copy();
}

// The real dialogs show the title; scripted prompts answer by the filter alone.
std::optional<std::string> OpenFileTitled(IOperatorPrompts& prompts, QWidget* parent, const std::string& title,
                                          const std::string& filter) {
    if (dynamic_cast<TQtOperatorPrompts*>(&prompts) == nullptr) return prompts.OpenFile(filter);
    const QString f = QFileDialog::getOpenFileName(parent, Q(title), QString(), Q(QtFileFilter(filter)));
    if (f.isEmpty()) return std::nullopt;
    return f.toStdString();
}

}  // namespace

// The paint surface: draws through the form and hands it the mouse.
class TExternalEditorCanvas : public QWidget {
public:
    TExternalEditorCanvas(TExternalEditorForm& form, QWidget* parent) : QWidget(parent), FForm(form) {
        setMouseTracking(false);
        setCursor(Qt::CrossCursor);
    }

protected:
    void paintEvent(QPaintEvent*) override { FForm.Paint(*this); }
    void mousePressEvent(QMouseEvent* e) override { FForm.MouseDown(e->position().toPoint(), e->button()); }
    void mouseMoveEvent(QMouseEvent* e) override { FForm.MouseMove(e->position().toPoint()); }
    void mouseReleaseEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton) FForm.MouseUp(e->position().toPoint());
    }

private:
    TExternalEditorForm& FForm;
};

TExternalEditorForm::TExternalEditorForm(QWidget* AOwner, const std::string& ATemplateDir,
                                         const std::string& ATemplateFile, const std::string& AReferenceImage,
                                         std::unique_ptr<TBallotTemplate> ATemplate, IOperatorPrompts& prompts)
    : QDialog(AOwner), FTemplateDir(ATemplateDir), FTemplateFile(ATemplateFile), FTemplate(std::move(ATemplate)),
      FPrompts(prompts) {
    if (!FTemplate) throw EKorvexError("外部模板为空。");
    setWindowTitle("外部固定选票模板制作器");
    setSizeGripEnabled(true);
    resize(1380, 900);
    setMinimumSize(1000, 680);
    BuildControls();

    std::error_code ec;
    if (!fs::exists(AReferenceImage, ec)) throw EKorvexError("外部模板参考图片不存在：" + AReferenceImage);
    FBitmap = LoadWorkingBitmap(AReferenceImage);
    FPicture = PictureOf(FBitmap);
    FTemplate->ExternalReferenceWidth = FBitmap.Width;
    FTemplate->ExternalReferenceHeight = FBitmap.Height;
    if (TrimBlanks(FTemplate->ExternalReferenceImage).empty()) FTemplate->ExternalReferenceImage = AReferenceImage;
    UpdateView();
    RebuildTaskList();
    ZoomToFit();
    if (const QScreen* screen = this->screen()) move(screen->availableGeometry().center() - rect().center());
}

TExternalEditorForm::~TExternalEditorForm() = default;

void TExternalEditorForm::BuildControls() {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    auto* row = new QHBoxLayout;
    row->setSpacing(0);
    outer->addLayout(row, 1);

    FScroll = new QScrollArea(this);
    FScroll->setBackgroundRole(QPalette::Dark);
    FPaint = new TExternalEditorCanvas(*this, nullptr);
    FScroll->setWidget(FPaint);
    FScroll->setWidgetResizable(false);
    row->addWidget(FScroll, 1);

    FRight = new QWidget(this);
    FRight->setFixedWidth(kPanelWidth);
    FRight->installEventFilter(this);
    row->addWidget(FRight);

    const auto label = [this](const char* text, int l, int t, int w, int h) {
        auto* lbl = new QLabel(text, FRight);
        lbl->setGeometry(l, t, w, h);
        return lbl;
    };
    label("模板标题：", 12, 14, 72, 24);
    FTitleEdit = new QLineEdit(Q(FTemplate->Title), FRight);
    FTitleEdit->setGeometry(88, 10, 250, 28);
    label("选项模式：", 12, 52, 72, 24);
    FModeCombo = new QComboBox(FRight);
    FModeCombo->setGeometry(88, 48, 250, 28);
    for (const std::string& mode : ExternalOptionModes()) FModeCombo->addItem(Q(mode));
    FModeCombo->setCurrentIndex(OptionModeIndex(FTemplate->ExternalOptionMode));
    connect(FModeCombo, &QComboBox::currentIndexChanged, this, [this] { ModeChanged(); });
    label("框选任务（拖动鼠标即可）：", 12, 86, 260, 24);
    FTasks = new QListWidget(FRight);
    FTasks->setGeometry(12, 112, 326, 316);
    connect(FTasks, &QListWidget::currentRowChanged, this, [this] {
        if (!FRebuilding) FPaint->update();
    });

    const auto button = [this](const char* text, int l, int t, int w, int h, void (TExternalEditorForm::*action)()) {
        auto* b = new QPushButton(text, FRight);
        b->setGeometry(l, t, w, h);
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, [this, action] { (this->*action)(); });
        return b;
    };
    FBtnDeskew = button("倾斜校正", 12, 438, 100, 31, &TExternalEditorForm::Deskew);
    FBtnClear = button("清除当前框", 120, 438, 100, 31, &TExternalEditorForm::ClearCurrentTask);
    FBtnZoomIn = button("放大", 12, 477, 68, 31, &TExternalEditorForm::ZoomIn);
    FBtnZoomOut = button("缩小", 86, 477, 68, 31, &TExternalEditorForm::ZoomOut);
    FBtnFit = button("适应", 160, 477, 68, 31, &TExternalEditorForm::ZoomToFit);
    FZoomLabel = label("", 12, 516, 320, 24);
    FInfo = new QPlainTextEdit(FRight);
    FInfo->setReadOnly(true);
    FInfo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    FInfo->setPlainText(QString::fromStdString(kInstructions).replace("\r\n", "\n"));
    FInfo->setGeometry(12, 544, 326, 211);
    FBtnSave = button("保存外部模板", 12, 765, 326, 38, &TExternalEditorForm::Save);

    FStatus = new QStatusBar(this);
    FStatus->setSizeGripEnabled(false);
    outer->addWidget(FStatus);
    SetStatus(kFirstStatus);
}

bool TExternalEditorForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == FRight && event->type() == QEvent::Resize) LayoutRightPanel();
    return QDialog::eventFilter(watched, event);
}

// The task list and the instructions stretch; the save button stays at the bottom.
void TExternalEditorForm::LayoutRightPanel() {
    const int w = FRight->width(), h = FRight->height();
    const int saveTop = std::max(h - 48, 600);
    FTasks->setGeometry(12, 112, std::max(w - 29, 100), 316);
    FInfo->setGeometry(12, 544, std::max(w - 29, 100), std::max(saveTop - 10 - 544, 40));
    FBtnSave->setGeometry(12, saveTop, std::max(w - 29, 100), 38);
}

QWidget* TExternalEditorForm::PaintSurface() const { return FPaint; }

std::string TExternalEditorForm::StatusText() const { return FStatus->currentMessage().toStdString(); }

void TExternalEditorForm::SetStatus(const std::string& text) { FStatus->showMessage(Q(text)); }

int TExternalEditorForm::SelectedTask() const { return FTasks->currentRow(); }

void TExternalEditorForm::SelectTask(int index) { FTasks->setCurrentRow(index); }

void TExternalEditorForm::RebuildTaskList() {
    const int remembered = FTasks->currentRow();
    FRebuilding = true;
    FTasks->clear();
    for (const std::string& text : ExternalTaskListTexts(*FTemplate)) FTasks->addItem(Q(text));
    FTasks->setCurrentRow(ClampTaskSelection(remembered, FTasks->count()));
    FRebuilding = false;
}

void TExternalEditorForm::UpdateView() {
    if (FBitmap.Empty()) return;
    FPaint->resize(ZoomedSide(FBitmap.Width, FZoom), ZoomedSide(FBitmap.Height, FZoom));
    FZoomLabel->setText(Q(ZoomLabelText(FZoom, FBitmap.Width, FBitmap.Height)));
    FPaint->update();
}

void TExternalEditorForm::SetZoom(double zoom) {
    FZoom = zoom;
    UpdateView();
}

void TExternalEditorForm::ZoomIn() { SetZoom(EditorZoomIn(FZoom)); }
void TExternalEditorForm::ZoomOut() { SetZoom(EditorZoomOut(FZoom)); }

void TExternalEditorForm::ZoomToFit() {
    if (FBitmap.Empty()) return;
    const QSize client = FScroll->viewport()->size();
    SetZoom(EditorFitZoom(client.width(), client.height(), FBitmap.Width, FBitmap.Height));
}

void TExternalEditorForm::ClearCurrentTask() {
    const int task = SelectedTask();
    if (task < 0) return;
    ExternalTaskRect(*FTemplate, task) = {};
    RebuildTaskList();
    FPaint->update();
}

void TExternalEditorForm::ModeChanged() {
    if (FModeCombo->currentIndex() < 0) return;
    FTemplate->ExternalOptionMode = TrimmedCopy(FModeCombo->currentText().toStdString());
    RebuildTaskList();
    SetStatus(ModeChangeText(FTemplate->ExternalOptionMode));
}

void TExternalEditorForm::MouseDown(QPoint point, Qt::MouseButton button) {
    if (button != Qt::LeftButton || SelectedTask() < 0) return;
    FDragging = true;
    FDragStart = FDragEnd = point;
    FPaint->update();
}

void TExternalEditorForm::MouseMove(QPoint point) {
    if (!FDragging) return;
    FDragEnd = point;
    FPaint->update();
}

void TExternalEditorForm::MouseUp(QPoint point) {
    if (!FDragging) return;
    FDragging = false;
    FDragEnd = point;
    const int task = SelectedTask();
    const auto rect = DragToImageRect(FDragStart.x(), FDragStart.y(), FDragEnd.x(), FDragEnd.y(), FZoom,
                                      FBitmap.Width, FBitmap.Height);
    if (!rect || task < 0) {
        FPaint->update();
        return;
    }
    ExternalTaskRect(*FTemplate, task) = *rect;
    RebuildTaskList();
    if (task + 1 < FTasks->count()) SelectTask(task + 1);
    SetStatus(Format("已记录：%s = %d,%d,%d,%d", ExternalTaskLabel(*FTemplate, task).c_str(), rect->Left, rect->Top,
                     rect->Right, rect->Bottom));
    FPaint->update();
}

void TExternalEditorForm::Paint(QWidget& surface) {
    QPainter p(&surface);
    if (!FPicture.isNull()) p.drawImage(surface.rect(), FPicture);
    p.setBrush(Qt::NoBrush);
    const int selected = SelectedTask();
    const auto z = [this](int v) { return RoundHalfEven(v * FZoom); };
    for (int i = 0; i < ExternalTaskCount(*FTemplate); ++i) {
        const TRect& r = ExternalTaskRect(*FTemplate, i);
        if (!IsValidRegion(r)) continue;
        p.setPen(QPen(i == selected ? QColor(220, 0, 0) : QColor(0, 70, 220), i == selected ? 4 : 2));
        p.drawRect(z(r.Left), z(r.Top), z(r.Right) - z(r.Left), z(r.Bottom) - z(r.Top));
    }
    if (FDragging) {
        p.setPen(QPen(QColor(0, 150, 0), 3));
        p.drawRect(QRect(FDragStart, FDragEnd).normalized());
    }
}

void TExternalEditorForm::Deskew() {
    const TRect frame = FTemplate->ExternalFrameRect;
    if (!IsValidRegion(frame)) {
        FPrompts.Information("请先框选“定位矩形外框”，再点击“倾斜校正”。\r\n外框应尽量沿票面表格最外侧的四条长边框选。");
        return;
    }
    TStraightenedPage page;
    if (!StraightenReferencePage(FBitmap, frame, page)) {
        FPrompts.Warning(
            "未能从当前定位外框稳定检测到四条长边。\r\n请把“定位矩形外框”重新框在票面最清楚、最长的矩形表格外框上再试。");
        return;
    }
    FBitmap = std::move(page.Page);
    FPicture = PictureOf(FBitmap);
    FTemplate->ExternalReferenceWidth = FBitmap.Width;
    FTemplate->ExternalReferenceHeight = FBitmap.Height;
    FTemplate->ExternalFrameRect = frame;
    ClearRegionsButFrame(*FTemplate);
    RebuildTaskList();
    SelectTask(FTasks->count() >= 2 ? 1 : 0);
    ZoomToFit();
    SetStatus(Format("整页倾斜/透视校正完成（检测角 %.2f°）。页面内容完整保留，请继续框选各区域。", page.SkewAngle));
    FPaint->update();
}

void TExternalEditorForm::Save() {
    const int missing = FirstUnfinishedTask(*FTemplate);
    if (missing >= 0) {
        FPrompts.Warning("还有未框选的项目：" + ExternalTaskLabel(*FTemplate, missing));
        return;
    }
    if (TrimBlanks(FTitleEdit->text().toStdString()).empty()) FTitleEdit->setText(kExternalDefaultTitle);
    const std::string mode = FModeCombo->currentIndex() >= 0 ? FModeCombo->currentText().toStdString() : "";
    PrepareExternalTemplateForSave(*FTemplate, FTitleEdit->text().toStdString(), mode);
    try {
        WriteExternalTemplate(*FTemplate, FBitmap, FTemplateDir, FTemplateFile);
    } catch (const std::exception& e) {
        FPrompts.Error(e.what());
        return;
    }
    accept();
}

std::unique_ptr<TExternalEditorForm> CreateEditor(QWidget* AOwner, const std::string& ATemplateDir,
                                                  const std::string& ATemplateFile,
                                                  const std::string& AReferenceImage,
                                                  std::unique_ptr<TBallotTemplate> ATemplate,
                                                  IOperatorPrompts& prompts) {
    return std::make_unique<TExternalEditorForm>(AOwner, ATemplateDir, ATemplateFile, AReferenceImage,
                                                 std::move(ATemplate), prompts);
}

namespace {

bool RunEditor(QWidget* AOwner, const std::string& templateDir, const std::string& templateFile,
               const std::string& referenceImage, std::unique_ptr<TBallotTemplate> t, IOperatorPrompts& prompts,
               std::string& savedFile, const TEditorRunner& run) {
    savedFile.clear();
    std::error_code ec;
    fs::create_directories(templateDir, ec);
    if (ec) RaiseFileError("创建文件夹", templateDir, ec.value());
    auto form = CreateEditor(AOwner, templateDir, templateFile, referenceImage, std::move(t), prompts);
    form->setModal(true);
    if (run)
        run(*form);
    else
        form->exec();
    const bool saved = form->result() == QDialog::Accepted;
    if (saved) savedFile = templateFile;
    return saved;
}

}  // namespace

bool NewExternalTemplate(QWidget* AOwner, const std::string& templateDir, const std::string& referenceImage,
                         int writeInCount, int maxSelect, const std::string& title,
                         const std::vector<TCandidateInfo>& candidates, IOperatorPrompts& prompts,
                         std::string& templateFile, const TEditorRunner& run) {
    const std::string id = NewExternalTemplateID();
    auto t = std::make_unique<TBallotTemplate>(
        NewExternalTemplateObject(title, maxSelect, writeInCount, candidates, id.substr(4, 15), id.substr(20)));
    const std::string file = (fs::path(templateDir) / (t->TemplateID + ".ini")).string();
    return RunEditor(AOwner, templateDir, file, referenceImage, std::move(t), prompts, templateFile, run);
}

bool EditExternalTemplate(QWidget* AOwner, const std::string& templateDir, const std::string& templateFileIn,
                          const std::vector<TCandidateInfo>& candidates, IOperatorPrompts& prompts,
                          std::string& templateFile, const TEditorRunner& run) {
    templateFile.clear();
    std::unique_ptr<TBallotTemplate> t = LoadTemplate(templateFileIn);
    CheckExternalTemplateCandidates(*t, candidates);
    std::string reference = ResolveReferenceImage(templateDir, t->ExternalReferenceImage);
    std::error_code ec;
    if (reference.empty() || !fs::is_regular_file(reference, ec)) {
        const auto chosen =
            OpenFileTitled(prompts, AOwner, "原参考图片不存在，请重新选择这张外部选票的标准参考图", kImageFilter);
        if (!chosen) return false;
        reference = *chosen;
    }
    return RunEditor(AOwner, templateDir, templateFileIn, reference, std::move(t), prompts, templateFile, run);
}

}  // namespace korvex
