#include "recognition/BallotContext.h"

namespace korvex {

TPointD MapTemplatePoint(const TBallotContext& ctx, double x, double y) {
    if (ctx.Template->TemplateKind == tkExternal) return MapFramePoint(ctx.Frame, ctx.Template->ExternalFrameRect, x, y);
    return MapPagePoint(ctx.PageCorners, x, y);
}

TRaster ExtractCellImage(const TBallotContext& ctx, const TRect& region, int outW, int outH, double fx, double fy) {
    if (ctx.Template->TemplateKind != tkExternal) return WarpStandardRegion(ctx.Raster, ctx.PageCorners, region, outW, outH);
    TRect r = region;
    if (fx > 0 || fy > 0) {
        const int dx = RoundHalfEven(fx * (r.Right - r.Left));
        const int dy = RoundHalfEven(fy * (r.Bottom - r.Top));
        if (r.Right - r.Left > 2 * dx + 8) {
            r.Left += dx;
            r.Right -= dx;
        }
        if (r.Bottom - r.Top > 2 * dy + 8) {
            r.Top += dy;
            r.Bottom -= dy;
        }
    }
    return WarpExternalRegion(ctx.Raster, ctx.Frame, ctx.Template->ExternalFrameRect, r, outW, outH);
}

}  // namespace korvex
