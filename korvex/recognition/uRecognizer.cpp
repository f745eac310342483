#include "recognition/uRecognizer.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <vector>

#include "imaging/uImageCore.h"
#include "model/Errors.h"
#include "model/TextUtil.h"
#include "recognition/WriteInRules.h"
#include "templates/IniDocument.h"
#include "templates/uBallotTemplate.h"

namespace korvex {
namespace fs = std::filesystem;

namespace {

bool IsOptionModeOne(const std::string& mode) { return mode == "1" || SameText(mode, "1-标准O×"); }

TCellOutline Outline(const TBallotContext& ctx, char kind, std::size_t index, bool nameCell, const TRect& r) {
    TCellOutline o;
    o.Kind = kind;
    o.Index = static_cast<int>(index);
    o.NameCell = nameCell;
    const double xs[4] = {double(r.Left), double(r.Right), double(r.Right), double(r.Left)};
    const double ys[4] = {double(r.Top), double(r.Top), double(r.Bottom), double(r.Bottom)};
    for (int i = 0; i < 4; ++i) {
        const TPointD p = MapTemplatePoint(ctx, xs[i], ys[i]);
        o.X[i] = p.X;
        o.Y[i] = p.Y;
    }
    return o;
}

// Every mark and name cell of the template, placed in the scan.
std::vector<TCellOutline> CellOutlines(const TBallotContext& ctx) {
    std::vector<TCellOutline> cells;
    const TBallotTemplate& t = *ctx.Template;
    for (std::size_t i = 0; i < t.Candidates.size(); ++i) cells.push_back(Outline(ctx, 'C', i, false, t.Candidates[i].MarkRect));
    for (std::size_t i = 0; i < t.WriteIns.size(); ++i) {
        cells.push_back(Outline(ctx, 'W', i, false, t.WriteIns[i].MarkRect));
        cells.push_back(Outline(ctx, 'W', i, true, t.WriteIns[i].NameRect));
    }
    return cells;
}

}  // namespace

std::string FindTemplateFileByCode(const std::string& templatesFolder, std::uint32_t code) {
    std::error_code ec;
    if (!fs::is_directory(templatesFolder, ec)) return "";
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(templatesFolder, ec))
        if (entry.is_regular_file(ec) && SameText(entry.path().extension().string(), ".ini")) files.push_back(entry.path());
    // Name order, so two files with one code always resolve the same way.
    std::sort(files.begin(), files.end());
    const std::string wanted = TemplateCodeText(code);
    for (const fs::path& file : files) {
        try {
            const TIniDocument doc = TIniDocument::LoadFile(file.string());
            if (SameText(doc.ReadString("Template", "TemplateCode", ""), wanted)) return file.string();
        } catch (const EKorvexError&) {
            // a file that cannot be read holds no template to match
        }
    }
    return "";
}

TRecognitionOutcome RecognizeBallot(const std::string& imageFile, const std::string& templatesFolder,
                                    const std::string& configFile, const std::string& manualTemplateFile,
                                    int pageIndex) {
    TRecognitionOutcome outcome;
    TBallotContext ctx;
    ctx.ConfigFile = configFile;
    std::string step;
    try {
        step = "检查图片";
        std::error_code ec;
        if (!fs::is_regular_file(imageFile, ec)) throw EKorvexError("扫描图片不存在。");

        step = "读取图片";
        ctx.Raster = LoadWorkingBitmapPage(imageFile, pageIndex);

        const std::string manual = TrimmedCopy(manualTemplateFile);
        int rotation = 0;
        if (!manual.empty()) {
            step = "加载外部固定模板";
            ctx.Template = LoadTemplate(manual);
            if (ctx.Template->TemplateKind != tkExternal) throw EKorvexError("手工选择的识别模板不是外部固定模板。");
            step = "定位外部模板矩形框";
            if (!FindExternalFrame(ctx.Raster, ctx.Template->ExternalReferenceWidth, ctx.Template->ExternalReferenceHeight,
                                   ctx.Template->ExternalFrameRect, rotation, ctx.Frame))
                throw EKorvexError(
                    "未找到外部模板的定位矩形框。请确认票面方向、完整性，并在模板制作器中重新框选一个四角清楚、横竖边明显的矩形外框。");
        } else {
            step = "寻找四角定位块";
            TCornerSet found;
            if (!FindCornerBlocks(ctx.Raster, found))
                throw EKorvexError("未能找到四个黑色定位块。请检查纸张是否完整、方向是否正确。");
            step = "识别模板码";
            std::string file;
            int k = 0;
            for (; k < 4; ++k) {
                std::uint32_t code = 0;
                if (!ReadTemplateCode(ctx.Raster, OrderCorners(found, k), code)) continue;
                file = FindTemplateFileByCode(templatesFolder, code);
                if (!file.empty()) break;
            }
            if (file.empty()) throw EKorvexError("已找到定位块，但无法识别模板码，或本机没有对应模板文件。");
            // A printed code must lead to a standard template: an external one has no corner blocks to map by.
            const TIniDocument doc = TIniDocument::LoadFile(file);
            if (SameText(TrimBlanks(doc.ReadString("Template", "Type", "Standard")), "External"))
                throw EKorvexError("模板码对应的模板文件是外部固定模板，不能按自产选票识别：" + file);
            step = "加载模板";
            ctx.Template = LoadTemplate(file);
            ctx.PageCorners = OrderCorners(found, k);
            rotation = 90 * k;
        }

        auto recognition = std::make_unique<TBallotRecognition>();
        recognition->ScanUID = ComputePageScanUID(imageFile, pageIndex);
        recognition->ImageFile = fs::absolute(imageFile).lexically_normal().string();
        recognition->TemplateID = ctx.Template->TemplateID;
        recognition->TemplateCode = ctx.Template->TemplateCode;
        recognition->Rotation = rotation;
        recognition->DeskewAngle = ctx.Template->TemplateKind == tkExternal ? ComputeFrameSkewAngle(ctx.Frame) : 0.0;

        step = "识别固定候选人符号";
        const bool external = ctx.Template->TemplateKind == tkExternal;
        const std::string& mode = ctx.Template->ExternalOptionMode;
        const bool zoneMode = external && !IsOptionModeOne(mode);
        for (const TCandidateTemplate& c : ctx.Template->Candidates) {
            TMarkReading reading;
            if (zoneMode) {
                const int width = (!mode.empty() && mode[0] == '3') ? 540 : 360;
                reading = ClassifySplitOptionCell(ExtractCellImage(ctx, c.MarkRect, width, 120, 0.02, 0.06), mode);
            } else {
                reading = ClassifyMarkCell(ExtractCellImage(ctx, c.MarkRect, 180, 100, 0.06, 0.06));
            }
            recognition->Candidates.push_back({c.ID, c.Name, reading.State, reading.Confidence});
            if (reading.State == msReject && reading.Confidence >= kReviewConfidence) ++ctx.ReliableCrosses;
            if (reading.State == msUnknown || reading.Confidence < kReviewConfidence) recognition->NeedReview = true;
        }

        recognition->WriteIns.resize(ctx.Template->WriteIns.size());
        if (!ctx.Template->WriteIns.empty()) {
            step = "识别另选人区域";
            RecognizeWriteIns(ctx, *recognition);
        }

        outcome.Cells = CellOutlines(ctx);
        outcome.Success = true;
        outcome.Recognition = std::move(recognition);
        outcome.Template = std::move(ctx.Template);
    } catch (const std::exception& e) {
        outcome = TRecognitionOutcome{};
        outcome.ErrorText = step + "：" + e.what();
    }
    return outcome;
}

}  // namespace korvex
