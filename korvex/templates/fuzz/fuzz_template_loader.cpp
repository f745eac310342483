// Feeds arbitrary bytes to the INI reader and the template loader: a bad file
// may fail with an operator message, but must never crash or run away.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "model/Errors.h"
#include "templates/IniDocument.h"
#include "templates/uBallotTemplate.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto doc = korvex::TIniDocument::FromText(text);
    const auto reparsed = korvex::TIniDocument::FromText(doc.ToText());
    if (reparsed.ToText() != doc.ToText()) __builtin_trap();  // writing is stable
    try {
        (void)korvex::TemplateFromDocument(doc);
    } catch (const korvex::EKorvexError&) {
    }
    return 0;
}
