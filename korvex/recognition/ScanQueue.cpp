#include "recognition/ScanQueue.h"

#include <filesystem>

#include "model/TextUtil.h"

namespace korvex {

bool TScanItem::IsCommitted() const { return SameText(Status, kStatusCommitted); }

std::unique_ptr<TScanItem> NewScanItem(const std::string& fileName) {
    auto item = std::make_unique<TScanItem>();
    std::error_code ec;
    const std::filesystem::path full = std::filesystem::absolute(fileName, ec);
    item->FileName = ec ? fileName : full.lexically_normal().string();
    return item;
}

void ApplyRecognitionOutcome(TScanItem& item, TRecognitionOutcome outcome) {
    if (!outcome.Success || !outcome.Template || !outcome.Recognition) {
        item.Status = kStatusFailed;
        return;
    }
    item.Status = outcome.Recognition->NeedReview ? kStatusNeedsReview : kStatusRecognized;
    item.Recognition = std::move(outcome.Recognition);
    item.Template = std::move(outcome.Template);
    item.Cells = std::move(outcome.Cells);
}

std::string QueueLine(int position, const TScanItem& item) {
    const std::string name = std::filesystem::path(item.FileName).filename().string();
    return Format("%4.4d  %s  %s", position, item.Status.c_str(), name.c_str());
}

}  // namespace korvex
