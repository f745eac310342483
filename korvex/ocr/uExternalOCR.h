#pragma once
// The OCR client: chooses the OCR backend from the [OCR] section of
// "Korvex.ini", checks it, runs it once per write-in name under a time limit
// and reads its answer back. Operations return a success flag and leave the
// reason of a failure in FLastError; they do not raise for OCR failures.
#include <string>

#include "imaging/Raster.h"

namespace korvex {

enum TOCRBackendKind { obNone = 0, obNativeBridge = 1, obConfiguredExternal = 2 };

// The backend as resolved from the configuration for one call.
struct TResolvedOCRBackend {
    std::string CommandPath;   // full path of the program
    std::string Arguments;     // argument template, placeholders not yet filled
    int TimeoutMS = 0;         // time limit of one run
    std::string Extension;     // result file extension, with its leading "."
};

// The outcome of one OCR process run.
struct TOCRRunResult {
    bool Success = false;
    std::string Message;  // empty on success
    int ExitCode = -1;    // 124 on time-out, minus the signal number when killed by one
    bool Started = false;  // the program was started
    int StartErrno = 0;    // why it could not be
};

class TExternalOCR {
public:
    // Stores the path of the INI file; reads nothing yet.
    explicit TExternalOCR(std::string AConfigFile);

    // Resolves the backend. Description receives the backend's description on
    // success and the reason on failure. Starts no process.
    bool IsAvailable(std::string& Description);
    // Runs the native engine's self-test, or only checks that an external
    // command exists.
    bool SelfTest(std::string& Detail);
    // Reads one name from the bitmap. True only with a non-empty Text.
    // Raises EFileError only when the temporary folder cannot be prepared
    // (its files are removed before the error leaves).
    bool Recognize(const TRaster& Bmp, std::string& Text, double& Confidence);

    const std::string& LastError() const { return FLastError; }
    const std::string& BackendDescription() const { return FBackendDescription; }
    TOCRBackendKind BackendKind() const { return FBackendKind; }
    const std::string& ConfigFile() const { return FConfigFile; }

private:
    friend struct TExternalOCRTestAccess;

    bool ResolveBackend(TResolvedOCRBackend& backend);
    static bool IsNativeBridgeCommand(const std::string& path);
    // Missing engine files beside the engine, joined with "、"; empty when none is missing.
    static bool CheckBridgeFiles(const std::string& enginePath, std::string& missing);
    // What to check when the engine's self-test fails, by how it failed.
    static std::string SelfTestAdvice(const TOCRRunResult& run);
    static TOCRRunResult RunOCRProcess(const std::string& commandPath, const std::string& argumentText,
                                       int timeoutMS);
    // Raises EKorvexError when the bitmap is empty or cannot be written.
    static void SaveInputBitmap(const TRaster& bmp, const std::string& path);
    bool DecryptResultFile(const std::string& path, std::string& text);
    static void ParseOCRAnswer(const std::string& answer, std::string& name, double& confidence);

    std::string FConfigFile;
    std::string FLastError;
    std::string FBackendDescription;
    TOCRBackendKind FBackendKind = obNone;
};

}  // namespace korvex
