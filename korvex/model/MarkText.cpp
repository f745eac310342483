#include "Errors.h"
#include "TextUtil.h"
#include "uBallotTypes.h"

namespace korvex {

std::string MarkStateToText(TMarkState state) {
    switch (state) {
        case msBlank: return "空白";
        case msApprove: return "O";
        case msReject: return "X";
        case msUnknown: break;
    }
    return "?";
}

TMarkState TextToMarkState(std::string_view text) {
    const std::string upper = AsciiUpper(text);
    const std::string_view t = TrimBlanks(upper);
    if (t.empty() || t == "空白") return msBlank;
    if (t == "O" || t == "\u25CB" || t == "\u3007") return msApprove;
    if (t == "X" || t == "\u00D7") return msReject;
    return msUnknown;
}

std::string MarkStateToDbCode(TMarkState state) {
    switch (state) {
        case msBlank: return " ";
        case msApprove: return "O";
        case msReject: return "X";
        case msUnknown: break;
    }
    throw EKorvexError("存在未确认的符号，不能入库。");
}

}  // namespace korvex
