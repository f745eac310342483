#include "model/JsonText.h"

#include "model/TextUtil.h"

namespace korvex {

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const unsigned char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) out += Format("\\u%04x", c);
                else out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

}  // namespace korvex
