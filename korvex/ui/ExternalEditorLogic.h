#pragma once
// The rules of the external template editor without any window: the task
// list, drag rectangles, zoom limits, option modes, the checks before editing
// an existing template and saving with its reference copy.
#include <optional>
#include <string>
#include <vector>

#include "imaging/Raster.h"
#include "model/uBallotTypes.h"

namespace korvex {

inline constexpr const char* kExternalDefaultTitle = "外部固定选票";
inline constexpr const char* kExternalRefsFolder = "ExternalRefs";
inline constexpr int kMinDragSize = 6;
inline constexpr double kEditorMaxZoom = 4.0;
inline constexpr double kEditorMinZoom = 0.1;
inline constexpr double kEditorMaxFitZoom = 2.0;

// The eleven option texts in list order.
const std::vector<std::string>& ExternalOptionModes();
// "1" and "1-标准O×" (letter case ignored).
bool IsSingleCellMode(const std::string& mode);
// The list position of the mode (letter case ignored), 0 when none matches.
int OptionModeIndex(const std::string& mode);
// The status text shown after choosing an option mode.
std::string ModeChangeText(const std::string& mode);

// Left < Right and Top < Bottom.
bool IsValidRegion(const TRect& r);

// 1 + candidates + 2 · write-in slots.
int ExternalTaskCount(const TBallotTemplate& t);
std::string ExternalTaskLabel(const TBallotTemplate& t, int task);
TRect& ExternalTaskRect(TBallotTemplate& t, int task);
const TRect& ExternalTaskRect(const TBallotTemplate& t, int task);
// "✓ " or "□ " followed by the label, one per task.
std::vector<std::string> ExternalTaskListTexts(const TBallotTemplate& t);
// The first task not yet drawn, or −1.
int FirstUnfinishedTask(const TBallotTemplate& t);
// The remembered selection limited to 0 .. count − 1 (0 when none, −1 without tasks).
int ClampTaskSelection(int remembered, int count);

// A drag between two paint-surface points turned into image pixels: each
// coordinate divided by the zoom, rounded and limited to the image; corners
// ordered. Nothing when the rectangle is narrower or lower than 6 pixels.
std::optional<TRect> DragToImageRect(int x0, int y0, int x1, int y1, double zoom, int imageW, int imageH);
// Rounds to the nearest integer, halves to even.
int RoundHalfEven(double v);

double EditorZoomIn(double zoom);
double EditorZoomOut(double zoom);
// Fit into the view's client area less a 24-pixel margin, within 0.1 .. 2.0.
double EditorFitZoom(int clientW, int clientH, int imageW, int imageH);
// Paint-surface side: round(side × zoom), at least 1.
int ZoomedSide(int side, double zoom);
// "显示比例：%.0f%%；参考图：%d × %d".
std::string ZoomLabelText(double zoom, int imageW, int imageH);

// A new external template for the candidates; local time and identifier suffix given.
TBallotTemplate NewExternalTemplateObject(const std::string& title, int maxSelect, int writeInCount,
                                          const std::vector<TCandidateInfo>& candidates,
                                          const std::string& timeStamp, const std::string& idSuffix);
// "EXT-yyyymmdd-hhnnss-XXXXXXXX" from the current local time and a new GUID.
std::string NewExternalTemplateID();

// Raises the editor's refusal when the template is not external or its
// candidates differ from the database's in number, ID or name (letter case ignored).
void CheckExternalTemplateCandidates(const TBallotTemplate& t, const std::vector<TCandidateInfo>& candidates);
// The reference image file: a relative path is taken relative to the
// template folder; "\" and "/" both separate folders.
std::string ResolveReferenceImage(const std::string& templateDir, const std::string& referenceImage);

// After straightening the page every region but the frame is cleared.
void ClearRegionsButFrame(TBallotTemplate& t);

// Fills in the fields the save command sets: title (default when blank),
// option mode, version, kind, code and the write-in count.
void PrepareExternalTemplateForSave(TBallotTemplate& t, const std::string& titleText, const std::string& modeText);
// "ExternalRefs\" + TemplateID + "_ref.bmp".
std::string ReferenceCopyRelativePath(const std::string& templateID);
// Writes the reference copy into the "ExternalRefs" folder, points the
// template at it and writes the template file.
void WriteExternalTemplate(TBallotTemplate& t, const TRaster& reference, const std::string& templateDir,
                           const std::string& templateFile);

}  // namespace korvex
