#include "recognition/WriteInRules.h"

#include "model/TextUtil.h"

namespace korvex {

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
            ok = ctx.OCR->Recognize(name, text, confidence);
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
