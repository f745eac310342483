#include "recognition/WriteInRules.h"

#include <algorithm>

#include "model/TextUtil.h"

namespace korvex {
namespace {

// The name cell cut down to its handwriting plus a white margin: the text
// recogniser reads extra characters into wide blank margins.
TRaster CropToInk(const TRaster& cell, int threshold) {
    int minX = cell.Width, minY = cell.Height, maxX = -1, maxY = -1;
    for (int y = 0; y < cell.Height; ++y) {
        const std::uint8_t* row = cell.Row(y);
        for (int x = 0; x < cell.Width; ++x)
            if (GreyValue(row + 3 * static_cast<std::size_t>(x)) < threshold) {
                minX = std::min(minX, x), maxX = std::max(maxX, x);
                minY = std::min(minY, y), maxY = std::max(maxY, y);
            }
    }
    if (maxX < 0) return cell;
    const int margin = std::max(4, (maxY - minY + 1) / 5);
    const int left = std::max(0, minX - margin), right = std::min(cell.Width, maxX + 1 + margin);
    const int top = std::max(0, minY - margin), bottom = std::min(cell.Height, maxY + 1 + margin);
    TRaster out(right - left, bottom - top);
    for (int y = top; y < bottom; ++y)
        std::copy(cell.Row(y) + 3 * left, cell.Row(y) + 3 * right, out.Row(y - top));
    return out;
}

}  // namespace

void RecognizeWriteIns(TBallotContext& ctx, TBallotRecognition& recognition) {
    const std::vector<TWriteInTemplate>& slots = ctx.Template->WriteIns;
    // Pass 1: the mark cells.
    for (std::size_t i = 0; i < slots.size(); ++i) {
        const TMarkReading reading = ClassifyMarkCell(ExtractCellImage(ctx, slots[i].MarkRect, 180, 100, 0.06, 0.06));
        TWriteInVoteResult& w = recognition.WriteIns[i];
        w = TWriteInVoteResult{};
        w.Mark = reading.State;
        w.MarkConfidence = reading.Confidence;
        if (reading.State == msUnknown || reading.Confidence < kReviewConfidence) {
            recognition.NeedReview = true;
            if (reading.State == msApprove) w.NameOCRError = "另选人圆圈置信度低，已跳过自动OCR，请人工复核。";
        }
    }
    // Pass 2: the names of reliably circled slots.
    const int crosses = ctx.ReliableCrosses;
    int read = 0;
    for (std::size_t i = 0; i < slots.size(); ++i) {
        TWriteInVoteResult& w = recognition.WriteIns[i];
        if (w.Mark != msApprove || w.MarkConfidence < kReviewConfidence) continue;
        if (crosses == 0) {
            w.NameOCRError = "正式候选人中没有可靠的反对票X，按规则未执行另选人OCR。";
            recognition.NeedReview = true;
            continue;
        }
        const TRaster name = ExtractCellImage(ctx, slots[i].NameRect, 420, 110, 0.02, 0.02);
        w.HasNameInk = RegionInkRatio(name, 190) > 0.01;
        if (!w.HasNameInk) {
            w.NameOCRError = "另选人已圈选O，但姓名区未检测到有效笔迹，未执行OCR。";
            recognition.NeedReview = true;
            continue;
        }
        if (read >= crosses) {
            w.NameOCRError = Format("另选人数超过可靠反对票数量（X=%d），本项未执行OCR。", crosses);
            recognition.NeedReview = true;
            continue;
        }
        ++read;
        std::string text, error;
        double confidence = 0.0;
        w.NameOCRAttempted = true;
        if (!ctx.OCR) {
            ctx.OCR = std::make_unique<TExternalOCR>(ctx.ConfigFile);
            ctx.OCRAvailable = ctx.OCR->IsAvailable(ctx.OCRDescription);
        }
        w.NameOCRBackend = ctx.OCRDescription;
        bool ok = false;
        if (ctx.OCRAvailable) {
            ok = ctx.OCR->Recognize(CropToInk(name, 190), text, confidence);
            w.NameOCRBackend = ctx.OCR->BackendDescription();
            if (!ok) error = ctx.OCR->LastError();
        } else {
            error = ctx.OCR->LastError();
        }
        if (error.empty() && !ok) error = "OCR未返回可用姓名。";
        w.Name = text;
        w.NameConfidence = confidence;
        w.NameOCRError = error;
        if (!ok || TrimBlanks(text).empty() || confidence < kReviewConfidence) recognition.NeedReview = true;
    }
}

}  // namespace korvex
