#include <cstdio>
#include <ctime>
#include <filesystem>

#include "CliSupport.h"
#include "Commands.h"
#include "database/uBallotDB.h"
#include "model/Errors.h"
#include "model/ProgramFolder.h"
#include "model/JsonText.h"
#include "model/TextUtil.h"
#include "ocr/uExternalOCR.h"
#include "recognition/ReviewRules.h"
#include "recognition/uRecognizer.h"
#include "scanner/DeviceListing.h"
#include "scanner/SaneBackend.h"
#include "scanner/uWiaScanner.h"

namespace korvex::cli {
namespace {

std::string StatusOf(const TRecognitionOutcome& o) {
    if (!o.Success) return kStatusFailed;
    return o.Recognition->NeedReview ? kStatusNeedsReview : kStatusRecognized;
}

std::string Number(double v) { return Format("%.4f", v); }

std::string JsonLine(const std::string& file, int page, const TRecognitionOutcome& o) {
    std::string j = "{\"file\": " + JsonString(file) + ", \"page\": " + std::to_string(page) +
                    ", \"status\": " + JsonString(StatusOf(o)) +
                    ", \"error\": " + JsonString(o.ErrorText);
    // A failed image carries every field too, empty, so that each line has the same shape.
    if (!o.Success)
        return j + ", \"template_id\": \"\", \"rotation\": 0, \"deskew\": " + Number(0) +
               ", \"need_review\": false, \"candidates\": [], \"writeins\": []}";
    {
        const TBallotRecognition& r = *o.Recognition;
        j += ", \"template_id\": " + JsonString(r.TemplateID) + ", \"rotation\": " + std::to_string(r.Rotation) +
             ", \"deskew\": " + Number(r.DeskewAngle) + ", \"need_review\": " + (r.NeedReview ? "true" : "false");
        j += ", \"candidates\": [";
        for (std::size_t i = 0; i < r.Candidates.size(); ++i) {
            const TCandidateVoteResult& c = r.Candidates[i];
            j += (i ? ", " : "") + std::string("{\"id\": ") + std::to_string(c.CandidateID) + ", \"name\": " +
                 JsonString(c.CandidateName) + ", \"mark\": " + JsonString(MarkStateToText(c.Mark)) +
                 ", \"confidence\": " + Number(c.Confidence) + "}";
        }
        j += "], \"writeins\": [";
        for (std::size_t i = 0; i < r.WriteIns.size(); ++i) {
            const TWriteInVoteResult& w = r.WriteIns[i];
            const int slot = i < o.Template->WriteIns.size() ? o.Template->WriteIns[i].SlotNo : static_cast<int>(i + 1);
            j += (i ? ", " : "") + std::string("{\"slot\": ") + std::to_string(slot) + ", \"name\": " +
                 JsonString(w.Name) + ", \"mark\": " + JsonString(MarkStateToText(w.Mark)) +
                 ", \"mark_confidence\": " + Number(w.MarkConfidence) + ", \"name_confidence\": " +
                 Number(w.NameConfidence) + ", \"ocr_attempted\": " + (w.NameOCRAttempted ? "true" : "false") +
                 ", \"error\": " + JsonString(w.NameOCRError) + "}";
        }
        j += "]";
    }
    return j + "}";
}

std::string MarksSummary(const TBallotRecognition& r) {
    std::string s;
    for (const TCandidateVoteResult& c : r.Candidates) s += (s.empty() ? "" : " ") + c.CandidateName + "=" + MarkStateToText(c.Mark);
    for (const TWriteInVoteResult& w : r.WriteIns)
        if (w.Mark != msBlank || !TrimBlanks(w.Name).empty()) s += " 另选[" + w.Name + "]=" + MarkStateToText(w.Mark);
    return s;
}

// One ballot image: a file, or one page of a multi-page file.
struct TBallotImage {
    std::string File;
    int Page = 0;
    int Pages = 1;
    // The file, and for a page of a multi-page file "（第 k/n 页）".
    std::string Label() const { return Pages > 1 ? File + Format("（第 %d/%d 页）", Page + 1, Pages) : File; }
};

// Every page of every file, in order; a file that cannot be read counts as one
// image, refused with the reason when recognised.
std::vector<TBallotImage> BallotImages(const std::vector<std::string>& files) {
    std::vector<TBallotImage> images;
    for (const std::string& file : files)
        for (const auto& item : NewScanItems(file)) images.push_back({file, item->PageIndex, item->PageCount});
    return images;
}

TRecognitionOutcome RecognizeImage(const TBallotImage& image, const TArgs& a) {
    return RecognizeBallot(image.File, TemplatesFolder(), ConfigFile(), a.Value("--template").value_or(""), image.Page);
}

// Dialogs answered without asking: the named device (or the first), its settings as they are.
class TAutoScanDialogs : public IScanDialogs {
public:
    explicit TAutoScanDialogs(std::string device) : device_(std::move(device)) {}
    std::optional<std::string> SelectDevice(const std::vector<TScanDeviceInfo>& devices) override {
        if (!device_.empty()) return device_;
        return devices.front().Name;
    }
    bool ShowSettings(IScanDevice&) override { return true; }
    bool ScanProgress(int page, std::size_t received, std::size_t expected) override {
        if (expected > 0)
            Progress(Format("正在扫描第 %d 页 / scanning page %d: %zu%%", page, page, received * 100 / expected));
        else
            Progress(Format("正在扫描第 %d 页 / scanning page %d", page, page));
        return true;
    }

private:
    std::string device_;
};

}  // namespace

int Recognize(const std::vector<std::string>& args) {
    const TArgs a(args, {"--template"}, {"--json"});
    if (a.Rest().empty()) throw EUsageError("请给出要识别的图片。/ no image given.");
    const bool json = a.Flag("--json");
    const std::vector<TBallotImage> images = BallotImages(a.Rest());
    int failed = 0;
    for (std::size_t i = 0; i < images.size(); ++i) {
        const TBallotImage& image = images[i];
        Progress(Format("正在识别 %zu / %zu ……", i + 1, images.size()));
        const TRecognitionOutcome o = RecognizeImage(image, a);
        EndProgress();
        failed += o.Success ? 0 : 1;
        const std::string label = image.Label();
        if (json) std::printf("%s\n", JsonLine(image.File, image.Page + 1, o).c_str());
        else if (o.Success) std::printf("%s\t%s\t%s\n", StatusOf(o).c_str(), label.c_str(), MarksSummary(*o.Recognition).c_str());
        else std::printf("%s\t%s\t%s\n", StatusOf(o).c_str(), label.c_str(), o.ErrorText.c_str());
        std::fflush(stdout);
    }
    return failed == 0 ? 0 : 3;
}

int Commit(const std::vector<std::string>& args) {
    const TArgs a(args, {"--template"});
    if (a.Rest().empty()) throw EUsageError("请给出要入库的图片。/ no image given.");
    auto db = OpenDatabase();
    int committed = 0, review = 0, refused = 0;
    const std::vector<TBallotImage> images = BallotImages(a.Rest());
    for (std::size_t i = 0; i < images.size(); ++i) {
        const std::string file = images[i].Label();
        Progress(Format("正在识别并入库 %zu / %zu ……", i + 1, images.size()));
        const TRecognitionOutcome o = RecognizeImage(images[i], a);
        EndProgress();
        if (!o.Success) {
            ++refused;
            std::printf("识别失败\t%s\t%s\n", file.c_str(), o.ErrorText.c_str());
            continue;
        }
        const auto blocker = CommitBlocker(*o.Recognition);
        if (o.Recognition->NeedReview || blocker) {
            ++review;
            std::printf("待复核\t%s\n", file.c_str());
            for (const std::string& note : ReviewNotes(*o.Template, *o.Recognition)) std::printf("\t%s\n", note.c_str());
            continue;
        }
        const std::string type = SuggestBallotType(*o.Template, *o.Recognition).BallotType;
        int detailID = 0;
        bool structureChanged = false;
        try {
            db->CommitBallot(o.Template.get(), o.Recognition.get(), type, detailID, structureChanged);
            ++committed;
            std::printf("已入库\t%s\t%s\t明细号 %d\n", file.c_str(), type.c_str(), detailID);
        } catch (const EKorvexError& e) {
            ++refused;
            std::printf("入库失败\t%s\t%s\n", file.c_str(), e.what());
        }
        std::fflush(stdout);
    }
    std::printf("入库 %d 张，待复核 %d 张，失败 %d 张。/ committed %d, review %d, refused %d\n", committed, review,
                refused, committed, review, refused);
    return refused == 0 ? 0 : 3;
}

// Every device with the options that matter for choosing one.
int ListScanners(IScanBackend& backend, const std::string& only) {
    const std::vector<TScanDeviceInfo> devices = backend.ListDevices();
    if (devices.empty()) throw EKorvexError("没有找到可用的扫描仪。请检查扫描仪是否已连接并已安装 SANE 驱动。");
    bool listed = false;
    for (const TScanDeviceInfo& d : devices) {
        if (!only.empty() && d.Name != only) continue;
        listed = true;
        std::printf("%s\t%s\n", d.Name.c_str(), DeviceTitle(d).c_str());
        try {
            const std::unique_ptr<IScanDevice> device = backend.Open(d.Name);
            for (const std::string& line : DescribeDeviceOptions(*device)) std::printf("%s\n", line.c_str());
        } catch (const EKorvexError& e) {
            std::printf("  %s\n", e.what());  // busy or gone: the others are still listed
        }
        std::fflush(stdout);
    }
    if (!listed) throw EKorvexError("没有名为 " + only + " 的扫描仪。");
    return 0;
}

int Scan(const std::vector<std::string>& args) {
    const TArgs a(args, {"--device", "--dpi", "--max-pages"}, {"--recognize", "--list"});
    a.RefuseRest();
    TSaneBackend sane;
    if (a.Flag("--list")) {
        if (a.Value("--dpi") || a.Value("--max-pages") || a.Flag("--recognize"))
            throw EUsageError("--list 只能与 --device 一起使用。/ --list takes only --device.");
        return ListScanners(sane, a.Value("--device").value_or(""));
    }
    const std::string folder = (std::filesystem::path(ProgramPath("Scans")) / LocalTimeText("%Y%m%d_%H%M%S")).string();
    TAutoScanDialogs dialogs(a.Value("--device").value_or(""));
    const TScanBatch batch = ScanBatch(sane, dialogs, folder, a.IntValue("--dpi", 600), a.IntValue("--max-pages", 200));
    EndProgress();
    for (const std::string& f : batch.Files) std::printf("%s\n", f.c_str());
    std::fflush(stdout);
    // A batch cut short keeps its pages (listed above) and says where it stopped.
    if (batch.Ending == TScanBatch::seInterrupted)
        std::fprintf(stderr, "korvex-cli: 扫描在第 %d 页中断 / the scan stopped at page %d: %s\n", batch.FailedPage,
                     batch.FailedPage, batch.Message.c_str());
    int status = batch.Ending == TScanBatch::seInterrupted ? 1 : 0;
    if (a.Flag("--recognize") && !batch.Files.empty()) {
        const int recognized = Recognize(batch.Files);
        if (status == 0) status = recognized;
    }
    return status;
}

int OcrSelfTest(const std::vector<std::string>& args) {
    TArgs(args, {}).RefuseRest();
    TExternalOCR ocr(ConfigFile());
    std::string detail;
    const bool ok = ocr.SelfTest(detail);
    std::printf("%s\n", detail.c_str());
    if (!ok) throw EKorvexError(ocr.LastError().empty() ? detail : ocr.LastError());
    return 0;
}

}  // namespace korvex::cli
