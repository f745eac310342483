#pragma once
// Shared pieces of the OCR client tests: a private program folder and
// temporary folder per test, INI and stand-in program writers, and access to
// the client's private steps.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "../../model/tests/TempFolder.h"
#include "ocr/uExternalOCR.h"

namespace korvex {

struct TExternalOCRTestAccess {
    static bool Resolve(TExternalOCR& ocr, TResolvedOCRBackend& backend) { return ocr.ResolveBackend(backend); }
    static bool IsNative(const std::string& path) { return TExternalOCR::IsNativeBridgeCommand(path); }
    static bool CheckFiles(const std::string& path, std::string& missing) {
        return TExternalOCR::CheckBridgeFiles(path, missing);
    }
    static TOCRRunResult Run(const std::string& command, const std::string& args, int timeoutMS) {
        return TExternalOCR::RunOCRProcess(command, args, timeoutMS);
    }
    static void SaveBitmap(const TRaster& bmp, const std::string& path) { TExternalOCR::SaveInputBitmap(bmp, path); }
    static bool Decrypt(TExternalOCR& ocr, const std::string& path, std::string& text) {
        return ocr.DecryptResultFile(path, text);
    }
    static void Parse(const std::string& answer, std::string& name, double& confidence) {
        TExternalOCR::ParseOCRAnswer(answer, name, confidence);
    }
};

}  // namespace korvex

namespace ocrtest {

namespace fs = std::filesystem;

inline const char* kToken = "QK71C-3D5E8B20-9A1F-4C6B-8E2D-57B0C4A9F613";
inline const char* kKeyHex = "7c19e04b5a2f83d6c0417e9b25fa6d3811c84e07b96a2d5fe3089c74b1d26a5e";
inline const char* kIvHex = "5e0b7a19c3d48f26a1e7093bd4c65f82";

// Sets (or, given nullopt, removes) an environment variable for the life of the object.
class TScopedEnv {
public:
    TScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) ::setenv(name, value->c_str(), 1);
        else ::unsetenv(name);
    }
    ~TScopedEnv() {
        if (old_) ::setenv(name_, old_->c_str(), 1);
        else ::unsetenv(name_);
    }
    TScopedEnv(const TScopedEnv&) = delete;
    TScopedEnv& operator=(const TScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

// A stand-in engine script: its arguments land in tok, in and out, then body runs.
inline std::string EngineScript(const std::string& body) {
    return "#!/bin/sh\n"
           "for a in \"$@\"; do case \"$a\" in\n"
           "  --token=*) tok=\"${a#--token=}\";; --in=*) in=\"${a#--in=}\";; --out=*) out=\"${a#--out=}\";;\n"
           "esac; done\n" +
           body + "\n";
}

// A shell line that writes answer to "$out", encrypted as the engine does.
inline std::string EncryptToOut(const std::string& answer) {
    return "printf '%s' '" + answer + "' | openssl enc -aes-256-cbc -K " + kKeyHex + " -iv " + kIvHex +
           " -out \"$out\"";
}

class OcrTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = std::make_unique<TempFolder>();
        fs::create_directories(Home());
        fs::create_directories(Tmp());
        home_ = std::make_unique<TScopedEnv>("KORVEX_HOME", Home().string());
        tmpdir_ = std::make_unique<TScopedEnv>("TMPDIR", Tmp().string());
        // The work folder is taken from TMPDIR; a real engine's cache stays private.
        runtimeDir_ = std::make_unique<TScopedEnv>("XDG_RUNTIME_DIR", std::nullopt);
        cacheDir_ = std::make_unique<TScopedEnv>("XDG_CACHE_HOME", (folder_->Path() / "cache").string());
    }
    void TearDown() override {
        cacheDir_.reset();
        runtimeDir_.reset();
        tmpdir_.reset();
        home_.reset();
        folder_.reset();
    }

    fs::path Home() const { return folder_->Path() / "home"; }
    fs::path Tmp() const { return folder_->Path() / "tmp"; }
    fs::path WorkFolder() const { return Tmp() / ("KorvexOCR-" + std::to_string(::geteuid())); }
    std::string IniPath() const { return (Home() / "Korvex.ini").string(); }

    // Writes Korvex.ini with an [OCR] section made of the given lines.
    void WriteIni(const std::string& ocrLines) const {
        std::ofstream(IniPath(), std::ios::binary) << "[SYSTEM]\r\nBDY=5\r\n\r\n[OCR]\r\n" << ocrLines;
    }

    static std::string WriteFile(const fs::path& path, const std::string& bytes, int mode = 0644) {
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
        ::chmod(path.c_str(), static_cast<mode_t>(mode));
        return path.string();
    }
    static std::string WriteProgram(const fs::path& path, const std::string& script) {
        return WriteFile(path, script, 0755);
    }
    // The three files the engine needs beside it, less the ones named in skip.
    static void PlaceEngineFiles(const fs::path& folder, const std::vector<std::string>& skip = {}) {
        for (const char* name : {"libonnxruntime.so.1", "model.onnx", "character_dict.txt"}) {
            bool skipped = false;
            for (const auto& s : skip) skipped = skipped || s == name;
            if (!skipped) WriteFile(folder / name, "x");
        }
    }
    // A stand-in engine with its files, at a path relative to the program folder.
    std::string InstallEngine(const std::string& relativePath, const std::string& script) const {
        const fs::path path = Home() / relativePath;
        PlaceEngineFiles(path.parent_path());
        return WriteProgram(path, script);
    }

    std::vector<std::string> WorkFolderEntries() const {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(WorkFolder(), ec)) names.push_back(e.path().filename().string());
        return names;
    }

    static std::string ReadText(const fs::path& path) { return TempFolder::Read(path.string()); }

    std::unique_ptr<TempFolder> folder_;
    std::unique_ptr<TScopedEnv> home_;
    std::unique_ptr<TScopedEnv> tmpdir_;
    std::unique_ptr<TScopedEnv> runtimeDir_;
    std::unique_ptr<TScopedEnv> cacheDir_;
};

// A small raster whose every pixel differs, so row order and channel order show.
inline korvex::TRaster SampleRaster(int width = 5, int height = 3) {
    korvex::TRaster r(width, height, 255);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = r.Row(y) + 3 * x;
            p[0] = static_cast<std::uint8_t>(10 * x);        // blue
            p[1] = static_cast<std::uint8_t>(100 + 10 * y);  // green
            p[2] = static_cast<std::uint8_t>(200 + x + y);   // red
        }
    return r;
}

}  // namespace ocrtest
