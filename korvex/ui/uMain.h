#pragma once
// The main window: ballot generation, the scan queue, recognition, review and
// commit. It holds no ballot logic of its own; it calls the libraries.
#include <QMainWindow>
#include <QPixmap>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "model/uBallotTypes.h"
#include "recognition/ReviewRules.h"
#include "recognition/ScanQueue.h"
#include "ui/OperatorPrompts.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QStatusBar;
class QTableWidget;
class QWidget;

namespace korvex {

class TQMDatabase;
class TExternalEditorForm;
class IScanBackend;
class IScanDialogs;

inline constexpr const char* kApplicationTitle = "Varnel选举扫描计票工具";

class TMainForm : public QMainWindow {
public:
    // prompts: null for the real dialogs. The window uses the program folder.
    explicit TMainForm(std::unique_ptr<IOperatorPrompts> prompts = nullptr);
    ~TMainForm() override;

    // The scanner layer used by "WIA批量扫描"; by default SANE and Qt dialogs.
    void SetScanner(std::unique_ptr<IScanBackend> backend, std::unique_ptr<IScanDialogs> dialogs);

    // Actions, as the buttons run them.
    void AddImages();
    void AddImageFiles(const std::vector<std::string>& files);
    void ScanAndRecognize();
    void DeleteSelected();
    void ClearQueue();
    void RecognizeCurrent();
    void RecognizeAll();
    void ZoomInClicked();
    void ZoomOutClicked();
    void ResetZoom();
    void CommitCurrent();
    void AutoCommit();
    void CycleCurrentMark();
    void GenerateBallotAction();
    void PrintBallotAction();
    void NewExternalTemplateAction();
    void EditExternalTemplateAction();
    void EditCandidatesAction();
    void SetMaxSelectAction();
    void ClearResultsAction();
    void OcrSelfTestAction();
    // kind: 0 summary by number, 1 summary by votes, 2 ballot details, 3 detail statistics.
    void ExportAction(int kind);
    void ReportAction(bool byVotes);
    void WordBallotAction();

    // Shared routines.
    void FillRecognitionTemplates();
    std::string SelectedTemplateFile() const;
    void RefreshOCRState();
    std::string OCRStatusText() const;
    void UpdateMaxSelectLabel();
    void RefreshQueueList();
    TScanItem* CurrentScanItem() const;
    void ShowCurrentItem();
    void ShowRecognition(TScanItem& item);
    void ClearRecognitionView();
    void SyncGridToRecognition(TScanItem& item);
    void UpdateReviewMemo();
    void CycleMark(int row);
    void LayoutImage();
    // Redraws the scan with the recognised cells outlined by their marks.
    void RefreshOverlay();

    // State, for the window's own tests.
    TQMDatabase& Database() { return *FDatabase; }
    const std::vector<std::unique_ptr<TScanItem>>& Items() const { return FItems; }
    double ZoomFactor() const { return FZoomFactor; }
    const std::vector<std::string>& RecognitionTemplateFiles() const { return FRecognitionTemplateFiles; }
    std::string StatusText() const;
    QListWidget* QueueList() const { return FList; }
    QTableWidget* Grid() const { return FGrid; }
    QPlainTextEdit* Memo() const { return FMemo; }
    QComboBox* RecognitionTemplateCombo() const { return FCmbRecognitionTemplate; }
    QCheckBox* NonBlankFilter() const { return FChkNonBlank; }
    QCheckBox* LowConfidenceFilter() const { return FChkLowConfidence; }
    QLabel* ZoomLabel() const { return FLblZoom; }
    QLabel* MaxSelectLabel() const { return FLblMaxSelect; }
    QLabel* Picture() const { return FImage; }
    QMenu* PopupMenu() const { return FPopup; }
    const TBallotTemplate* GeneratedTemplate() const { return FGeneratedTemplate.get(); }
    QLineEdit* TitleEdit() const { return FEdTitle; }
    QComboBox* WriteInSlotsCombo() const { return FCmbWriteInSlots; }
    // Prints through this function instead of the default printer (tests print to PDF).
    void SetPrinter(std::function<void(const TBallotTemplate&, int)> printer) { FPrinter = std::move(printer); }
    // Runs the external template editor instead of showing it modally (tests drive it).
    void SetEditorRunner(std::function<void(TExternalEditorForm&)> run) { FEditorRunner = std::move(run); }
    QProgressBar* Progress() const { return FProgress; }
    const QPixmap& ScanPicture() const { return FScanPicture; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildControls();
    void BuildPopupMenu();
    void OpenDatabaseAtStartup();
    bool RecognizeItem(TScanItem& item);
    bool CommitItem(TScanItem& item, bool automatic);
    void SetStatus(const std::string& text);
    void FilterChanged();
    bool GridKey(int key);
    void SetCurrentRowMark(const std::string& markText);
    int SelectedWriteInSlots() const;
    std::string TemplatesFolder() const;
    std::string ConfigFile() const;

    std::unique_ptr<IOperatorPrompts> FPrompts;
    std::unique_ptr<TQMDatabase> FDatabase;
    std::vector<std::unique_ptr<TScanItem>> FItems;
    std::unique_ptr<TBallotTemplate> FGeneratedTemplate;
    bool FOCRAvailable = false;
    std::string FOCRDescription;
    std::vector<std::string> FRecognitionTemplateFiles;
    double FZoomFactor = 1.0;
    std::unique_ptr<IScanBackend> FScanBackend;
    std::unique_ptr<IScanDialogs> FScanDialogs;
    bool FFillingGrid = false;
    std::function<void(const TBallotTemplate&, int)> FPrinter;
    std::function<void(TExternalEditorForm&)> FEditorRunner;

    QStatusBar* FStatus = nullptr;
    QWidget* FTop = nullptr;
    QLineEdit* FEdTitle = nullptr;
    QComboBox* FCmbWriteInSlots = nullptr;
    QLabel* FLblMaxSelect = nullptr;
    QComboBox* FCmbRecognitionTemplate = nullptr;
    QListWidget* FList = nullptr;
    QTableWidget* FGrid = nullptr;
    QPlainTextEdit* FMemo = nullptr;
    QCheckBox* FChkNonBlank = nullptr;
    QCheckBox* FChkLowConfidence = nullptr;
    QLabel* FLblZoom = nullptr;
    QScrollArea* FImageScroll = nullptr;
    QWidget* FImageCanvas = nullptr;
    QLabel* FImage = nullptr;
    QMenu* FPopup = nullptr;
    QProgressBar* FProgress = nullptr;
    QPixmap FScanPicture;  // the current item's image as loaded
    std::vector<QWidget*> FPopupOwners;
};

}  // namespace korvex
