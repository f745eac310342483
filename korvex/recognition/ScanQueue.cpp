#include "recognition/ScanQueue.h"

#include <algorithm>
#include <filesystem>

#include "imaging/ImageFiles.h"
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

std::vector<std::unique_ptr<TScanItem>> NewScanItems(const std::string& fileName) {
    int pages = 1;
    try {
        pages = std::max(1, CountImageFilePages(fileName));
    } catch (const std::exception&) {
        // unreadable: one item, refused with the reason when recognised
    }
    std::vector<std::unique_ptr<TScanItem>> items;
    for (int page = 0; page < pages; ++page) {
        items.push_back(NewScanItem(fileName));
        items.back()->PageIndex = page;
        items.back()->PageCount = pages;
    }
    return items;
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
    std::string name = std::filesystem::path(item.FileName).filename().string();
    if (item.PageCount > 1) name += Format("（第 %d/%d 页）", item.PageIndex + 1, item.PageCount);
    return Format("%4.4d  %s  %s", position, item.Status.c_str(), name.c_str());
}

}  // namespace korvex
