#pragma once
// The external template editor: on a reference image of a ballot printed
// elsewhere the operator drags the locating frame and every candidate and
// write-in cell; saving writes the template file and a reference copy.
#include <QDialog>
#include <QImage>
#include <QPoint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "imaging/Raster.h"
#include "model/uBallotTypes.h"
#include "ui/OperatorPrompts.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;
class QStatusBar;

namespace korvex {

class TExternalEditorCanvas;

class TExternalEditorForm : public QDialog {
public:
    // Raises when the reference image is missing or cannot be decoded; the
    // template is then dropped with the half-built window.
    TExternalEditorForm(QWidget* AOwner, const std::string& ATemplateDir, const std::string& ATemplateFile,
                        const std::string& AReferenceImage, std::unique_ptr<TBallotTemplate> ATemplate,
                        IOperatorPrompts& prompts);
    ~TExternalEditorForm() override;

    // Commands, as the buttons run them.
    void ZoomIn();
    void ZoomOut();
    void ZoomToFit();
    void ClearCurrentTask();
    void Deskew();
    // Writes the template; on success the window closes with "OK".
    void Save();

    // The paint surface's mouse, in paint-surface coordinates.
    void MouseDown(QPoint point, Qt::MouseButton button);
    void MouseMove(QPoint point);
    void MouseUp(QPoint point);

    // State, for the tests.
    const TBallotTemplate& Template() const { return *FTemplate; }
    const TRaster& Bitmap() const { return FBitmap; }
    double Zoom() const { return FZoom; }
    void SetZoom(double zoom);
    bool Dragging() const { return FDragging; }
    int SelectedTask() const;
    void SelectTask(int index);
    QListWidget* Tasks() const { return FTasks; }
    QLineEdit* TitleEdit() const { return FTitleEdit; }
    QComboBox* ModeCombo() const { return FModeCombo; }
    QLabel* ZoomLabel() const { return FZoomLabel; }
    QScrollArea* ImageView() const { return FScroll; }
    QWidget* PaintSurface() const;
    std::string StatusText() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class TExternalEditorCanvas;
    void BuildControls();
    void RebuildTaskList();
    void UpdateView();
    void ModeChanged();
    void Paint(QWidget& surface);
    void SetStatus(const std::string& text);
    void LayoutRightPanel();

    std::string FTemplateDir;
    std::string FTemplateFile;
    std::unique_ptr<TBallotTemplate> FTemplate;
    TRaster FBitmap;
    QImage FPicture;  // FBitmap as Qt draws it
    IOperatorPrompts& FPrompts;
    QScrollArea* FScroll = nullptr;
    TExternalEditorCanvas* FPaint = nullptr;
    QWidget* FRight = nullptr;
    QListWidget* FTasks = nullptr;
    QLineEdit* FTitleEdit = nullptr;
    QComboBox* FModeCombo = nullptr;
    QPlainTextEdit* FInfo = nullptr;
    QLabel* FZoomLabel = nullptr;
    QStatusBar* FStatus = nullptr;
    QPushButton* FBtnSave = nullptr;
    QPushButton* FBtnZoomIn = nullptr;
    QPushButton* FBtnZoomOut = nullptr;
    QPushButton* FBtnFit = nullptr;
    QPushButton* FBtnClear = nullptr;
    QPushButton* FBtnDeskew = nullptr;
    double FZoom = 1.0;
    bool FDragging = false;
    QPoint FDragStart, FDragEnd;
    bool FRebuilding = false;
};

// Shows the window; it was saved when its result is "OK" (QDialog::Accepted)
// afterwards. The default runs it modally; tests drive the window instead.
using TEditorRunner = std::function<void(TExternalEditorForm&)>;

// Makes a new external template for the formal candidates on the reference
// image. True when the operator saved; templateFile is then the file written.
bool NewExternalTemplate(QWidget* AOwner, const std::string& templateDir, const std::string& referenceImage,
                         int writeInCount, int maxSelect, const std::string& title,
                         const std::vector<TCandidateInfo>& candidates, IOperatorPrompts& prompts,
                         std::string& templateFile, const TEditorRunner& run = {});

// Loads, checks and edits an existing external template. Raises the refusal
// when it is not external or its candidates differ from the database's.
bool EditExternalTemplate(QWidget* AOwner, const std::string& templateDir, const std::string& templateFileIn,
                          const std::vector<TCandidateInfo>& candidates, IOperatorPrompts& prompts,
                          std::string& templateFile, const TEditorRunner& run = {});

// The window, built and loaded; raises as the constructor does.
std::unique_ptr<TExternalEditorForm> CreateEditor(QWidget* AOwner, const std::string& ATemplateDir,
                                                  const std::string& ATemplateFile,
                                                  const std::string& AReferenceImage,
                                                  std::unique_ptr<TBallotTemplate> ATemplate,
                                                  IOperatorPrompts& prompts);

}  // namespace korvex
