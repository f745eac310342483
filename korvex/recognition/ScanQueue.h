#pragma once
// The scan queue's entries: an image file, its status, and the template and
// recognition of its last successful recognition.
#include <memory>
#include <string>
#include <vector>

#include "model/uBallotTypes.h"

namespace korvex {

inline constexpr const char* kStatusWaiting = "待识别";
inline constexpr const char* kStatusRecognized = "已识别";
inline constexpr const char* kStatusNeedsReview = "待复核";
inline constexpr const char* kStatusFailed = "识别失败";
inline constexpr const char* kStatusCommitted = "已入库";

// Where one template cell lies in the scan: its four corners (top left, top
// right, bottom right, bottom left) in scan pixels.
struct TCellOutline {
    char Kind = 'C';     // 'C' candidate, 'W' write-in
    int Index = 0;       // position in Candidates / WriteIns
    bool NameCell = false;
    double X[4] = {0, 0, 0, 0};
    double Y[4] = {0, 0, 0, 0};
};

struct TScanItem {
    std::string FileName;  // full path
    int PageIndex = 0;     // the page of a multi-page file (TIFF), from 0
    int PageCount = 1;     // the file's pages when it was queued
    std::string Status = kStatusWaiting;
    std::unique_ptr<TBallotTemplate> Template;
    std::unique_ptr<TBallotRecognition> Recognition;
    std::vector<TCellOutline> Cells;  // of the last successful recognition

    bool IsCommitted() const;
};

// What one recognition run hands back: both objects on success, else the error text.
struct TRecognitionOutcome {
    bool Success = false;
    std::string ErrorText;
    std::unique_ptr<TBallotTemplate> Template;
    std::unique_ptr<TBallotRecognition> Recognition;
    std::vector<TCellOutline> Cells;
};

// A new item for the file, its path made absolute.
std::unique_ptr<TScanItem> NewScanItem(const std::string& fileName);
// One item per page of the file, in page order: several for a multi-page
// TIFF, else one. A file that cannot be read gives one item, whose
// recognition then reports why.
std::vector<std::unique_ptr<TScanItem>> NewScanItems(const std::string& fileName);

// Takes a run's outcome into the item: on success the new template and
// recognition replace the old ones and the status follows NeedReview; on
// failure the item keeps its old result and is marked failed.
void ApplyRecognitionOutcome(TScanItem& item, TRecognitionOutcome outcome);

// "%4.4d  %s  %s": 1-based position, status, file name without folder; a page
// of a multi-page file adds "（第 k/n 页）".
std::string QueueLine(int position, const TScanItem& item);

}  // namespace korvex
