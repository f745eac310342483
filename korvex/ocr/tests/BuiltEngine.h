#pragma once
// The Scrivane engine built in this tree (KORVEX_BINARY_DIR), for tests that
// run the real engine and skip with a reason when it is not there.
#include <filesystem>
#include <string>

namespace korvex::testing {

// The engine's path when it has its runtime, model and dictionary beside it;
// otherwise "" with the reason in whyNot.
inline std::string BuiltEngine(std::string& whyNot) {
    namespace fs = std::filesystem;
    const fs::path engine = fs::path(KORVEX_BINARY_DIR) / "scrivane" / "Scrivane";
    for (const fs::path& p : {engine, engine.parent_path() / "libonnxruntime.so.1", engine.parent_path() / "model.onnx",
                              engine.parent_path() / "character_dict.txt"}) {
        if (!fs::exists(p)) {
            whyNot = "the Scrivane engine is not built here: " + p.string() + " is missing";
            return "";
        }
    }
    return engine.string();
}

}  // namespace korvex::testing
