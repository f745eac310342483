#include "uExternalOCR.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "imaging/ImageFiles.h"
#include "OcrProcess.h"
#include "OcrText.h"
#include "OcrWorkFolder.h"
#include "ResultCipher.h"
#include "model/Errors.h"
#include "model/ProgramFolder.h"
#include "model/TextUtil.h"
#include "model/uBallotTypes.h"
#include "templates/IniDocument.h"

namespace korvex {

namespace fs = std::filesystem;

namespace {

constexpr const char* kSection = "OCR";
constexpr const char* kEngineFileName = "Scrivane";
constexpr const char* kAccessToken = "QK71C-3D5E8B20-9A1F-4C6B-8E2D-57B0C4A9F613";
constexpr const char* kExternalDefaultArguments = "\"{image}\" \"{outputbase}\" -l chi_sim --psm 7";
constexpr const char* kBridgeFiles[] = {"libonnxruntime.so.1", "model.onnx", "character_dict.txt"};
constexpr int kNativeDefaultTimeoutMS = 30000;
constexpr int kExternalDefaultTimeoutMS = 120000;
constexpr int kKillGraceMS = 2000;
constexpr double kConfidenceWithoutScore = 0.85;
// Far above any name; keeps a runaway program from filling memory.
constexpr std::size_t kMaxResultBytes = 1u << 20;

std::string NativeDefaultArguments() {
    return std::string("--token=") + kAccessToken + " --in=\"{image}\" --out=\"{output}\"";
}

// Something other than a folder exists at the path (links followed).
bool FileExistsAt(const fs::path& path) {
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    return !ec && fs::exists(st) && !fs::is_directory(st);
}

std::string SystemErrorText(const char* format, int err) { return Format(format, err, std::strerror(err)); }

// Reads a whole regular file of at most kMaxResultBytes. Opened without
// blocking: a FIFO in its place would wait for a writer for ever.
std::string ReadResultBytes(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) RaiseFileError("无法读取", path, errno);
    struct TCloser {
        int fd;
        ~TCloser() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) RaiseFileError("无法读取", path, errno);
    if (!S_ISREG(st.st_mode)) throw EFileError("结果不是普通文件：" + path);
    if (static_cast<std::uint64_t>(st.st_size) > kMaxResultBytes)
        throw EFileError(Format("结果文件超过 %zu 字节：", kMaxResultBytes) + path);
    std::string bytes;
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            RaiseFileError("无法读取", path, errno);
        }
        if (got == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(got));
        if (bytes.size() > kMaxResultBytes)
            throw EFileError(Format("结果文件超过 %zu 字节：", kMaxResultBytes) + path);
    }
    return bytes;
}

// A decimal number with "." as separator, whatever the locale.
bool ParseScore(std::string_view text, double& value) {
    if (text.size() > 1 && text[0] == '+' && text[1] != '+' && text[1] != '-') text.remove_prefix(1);
    if (text.empty()) return false;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value, std::chars_format::general);
    return ec == std::errc() && ptr == end;
}

}  // namespace

TExternalOCR::TExternalOCR(std::string AConfigFile) : FConfigFile(std::move(AConfigFile)) {}

bool TExternalOCR::IsAvailable(std::string& Description) {
    TResolvedOCRBackend backend;
    const bool ok = ResolveBackend(backend);
    Description = ok ? FBackendDescription : FLastError;
    return ok;
}

bool TExternalOCR::SelfTest(std::string& Detail) {
    TResolvedOCRBackend backend;
    if (!ResolveBackend(backend)) {
        Detail = FLastError;
        return false;
    }
    if (FBackendKind != obNativeBridge) {
        Detail = FBackendDescription + "；命令文件存在（未定义统一自检协议）。";
        return true;
    }
    const TOCRRunResult run = RunOCRProcess(backend.CommandPath, "--selftest", backend.TimeoutMS);
    if (run.Success) {
        FLastError.clear();
        Detail = "Scrivane 自检通过。\r\n" + FBackendDescription;
        return true;
    }
    FLastError = run.Message;
    Detail = "Scrivane 自检失败：" + run.Message + "\r\n" + SelfTestAdvice(run);
    return false;
}

bool TExternalOCR::Recognize(const TRaster& Bmp, std::string& Text, double& Confidence) {
    Text.clear();
    Confidence = 0;
    FLastError.clear();
    TResolvedOCRBackend backend;
    if (!ResolveBackend(backend)) return false;

    const fs::path folder = PrepareWorkFolder();
    const TOcrCallFiles callFiles(folder);  // removes the call's files on every way out
    const std::string& baseName = callFiles.BaseName();
    const std::string imagePath = (folder / (baseName + ".bmp")).string();
    const std::string outputBase = (folder / baseName).string();
    const std::string outputPath = outputBase + backend.Extension;
    const std::string arguments = FillArgumentTemplate(backend.Arguments, imagePath, outputBase, outputPath);

    try {
        SaveInputBitmap(Bmp, imagePath);
    } catch (const std::exception& e) {
        FLastError = std::string("保存 OCR 临时图片失败：") + e.what();
        return false;
    }
    std::error_code ec;
    fs::remove(outputPath, ec);

    const TOCRRunResult run = RunOCRProcess(backend.CommandPath, arguments, backend.TimeoutMS);
    if (!run.Success) {
        FLastError = run.Message;
        return false;
    }
    if (!FileExistsAt(outputPath)) {
        FLastError = "OCR 进程已正常退出，但没有生成结果文件：" + outputPath;
        return false;
    }

    std::string answer;
    try {
        if (!SameText(backend.Extension, ".dat")) {
            answer = DecodeUtf8Lenient(ReadResultBytes(outputPath), true);
        } else if (!DecryptResultFile(outputPath, answer)) {
            return false;
        }
    } catch (const std::exception& e) {
        FLastError = std::string("读取 OCR 结果失败：") + e.what();
        return false;
    }
    answer = TrimmedCopy(answer);
    if (answer.empty()) {
        FLastError = "OCR 返回空结果。";
        return false;
    }
    ParseOCRAnswer(answer, Text, Confidence);
    if (Text.empty()) {
        FLastError = "OCR 结果中姓名为空。";
        return false;
    }
    return true;
}

bool TExternalOCR::ResolveBackend(TResolvedOCRBackend& backend) {
    FLastError.clear();
    FBackendDescription.clear();
    FBackendKind = obNone;
    backend = TResolvedOCRBackend{};
    std::string command;
    std::string arguments;
    std::string extension = ".dat";
    int timeoutMS = 0;

    if (FileExistsAt(FConfigFile)) {
        try {
            const TIniDocument ini = TIniDocument::LoadFile(FConfigFile);
            command = TrimmedCopy(ini.ReadString(kSection, "Command", ""));
            arguments = ini.ReadString(kSection, "Arguments", "");
            extension = TrimmedCopy(ini.ReadString(kSection, "TextFileExtension", ".dat"));
            timeoutMS = ini.ReadInteger(kSection, "TimeoutMS", 0);
        } catch (const std::exception& e) {
            FLastError = e.what();
            return false;
        }
    }

    const std::string appDir = ProgramFolder();
    command = ReplaceAllIgnoreCase(command, "{appdir}", appDir);  // a path, not argument text
    arguments = FillArguments(arguments, {{"{appdir}", appDir}});

    if (command.empty() || SameText(command, "auto")) {
        const fs::path inOcrFolder = fs::path(appDir) / "OCR" / kEngineFileName;
        const fs::path beside = fs::path(appDir) / kEngineFileName;
        if (FileExistsAt(inOcrFolder)) {
            command = inOcrFolder.string();
        } else if (FileExistsAt(beside)) {
            command = beside.string();
        } else {
            FLastError = std::string("未找到 ") + kEngineFileName + "。请把 Scrivane_dist 的内容复制到 " +
                         (fs::path(appDir) / "OCR").string() + "。";
            return false;
        }
    }

    std::error_code ec;
    fs::path full = fs::absolute(fs::path(command), ec);
    if (ec) full = fs::path(command);
    const std::string path = full.lexically_normal().string();
    if (!FileExistsAt(path)) {
        FLastError = "OCR 命令不存在：" + path;
        return false;
    }

    if (extension.empty()) extension = ".dat";
    if (extension.front() != '.') extension.insert(extension.begin(), '.');
    const bool blankArguments = TrimBlanks(arguments).empty();

    if (IsNativeBridgeCommand(path)) {
        FBackendKind = obNativeBridge;
        FBackendDescription = "原生 Scrivane：" + path;
        std::string missing;
        if (!CheckBridgeFiles(path, missing)) {
            FLastError = "Scrivane 目录缺少：" + missing + "。应与 " + kEngineFileName + " 放在同一目录。";
            return false;
        }
        backend.Arguments = blankArguments ? NativeDefaultArguments() : arguments;
        backend.TimeoutMS = timeoutMS > 0 ? timeoutMS : kNativeDefaultTimeoutMS;
    } else {
        FBackendKind = obConfiguredExternal;
        FBackendDescription = "外部 OCR：" + path;
        backend.Arguments = blankArguments ? std::string(kExternalDefaultArguments) : arguments;
        backend.TimeoutMS = timeoutMS > 0 ? timeoutMS : kExternalDefaultTimeoutMS;
    }
    backend.CommandPath = path;
    backend.Extension = extension;
    return true;
}

bool TExternalOCR::IsNativeBridgeCommand(const std::string& path) {
    const std::string name = fs::path(path).filename().string();
    return SameText(name, kEngineFileName) || SameText(name, std::string(kEngineFileName) + ".exe");
}

bool TExternalOCR::CheckBridgeFiles(const std::string& enginePath, std::string& missing) {
    missing.clear();
    const fs::path folder = fs::path(enginePath).parent_path();
    for (const char* name : kBridgeFiles) {
        if (FileExistsAt(folder / name)) continue;
        if (!missing.empty()) missing += "、";
        missing += name;
    }
    return missing.empty();
}

TOCRRunResult TExternalOCR::RunOCRProcess(const std::string& commandPath, const std::string& argumentText,
                                          int timeoutMS) {
    TOCRRunResult result;
    // The program path goes to the process as it is; only the arguments are split.
    std::vector<std::string> argv = SplitArguments(argumentText);
    argv.insert(argv.begin(), commandPath);
    const std::string parent = fs::path(commandPath).parent_path().string();
    const std::string workDir = parent.empty() ? std::string(".") : parent;

    const TProcessOutcome outcome = RunProcessWithTimeout(commandPath, argv, workDir, timeoutMS, kKillGraceMS);
    result.Started = outcome.End != peStartFailed;
    result.StartErrno = outcome.End == peStartFailed ? outcome.Errno : 0;
    switch (outcome.End) {
        case peStartFailed:
            result.Message = SystemErrorText("无法启动 OCR 进程（系统错误 %d：%s）。", outcome.Errno);
            break;
        case peWaitFailed:
            result.Message = SystemErrorText("等待 OCR 进程失败（系统错误 %d：%s）。", outcome.Errno);
            break;
        case peStatusUnreadable:
            result.Message = SystemErrorText("无法读取 OCR 退出码（系统错误 %d：%s）。", outcome.Errno);
            break;
        case peTimedOut:
            result.ExitCode = 124;
            result.Message = Format("OCR 超时（%d 毫秒），进程已终止。", timeoutMS);
            break;
        case peExited:
        case peSignalled:
            result.ExitCode = outcome.End == peExited ? outcome.Code : -outcome.Code;
            result.Success = result.ExitCode == 0;
            if (!result.Success) result.Message = Format("Scrivane/外部OCR返回退出码 %d。", result.ExitCode);
            break;
    }
    // Why it failed, in the program's own words.
    if (!result.Success && result.Started) {
        const std::string said = ErrorOutputSummary(outcome.ErrorOutput);
        if (!said.empty()) result.Message += "程序的错误输出：" + said;
    }
    return result;
}

void TExternalOCR::SaveInputBitmap(const TRaster& bmp, const std::string& path) {
    if (bmp.Width <= 0 || bmp.Height <= 0) throw EKorvexError("OCR 输入位图为空。");
    if (bmp.Pixels.size() != bmp.Stride() * static_cast<std::size_t>(bmp.Height))
        throw EKorvexError("OCR 输入位图数据不完整。");
    // A 24-bit raster covers the whole white canvas of its own size, so it is written as it is.
    SaveBitmap24(bmp, path);
}

std::string TExternalOCR::SelfTestAdvice(const TOCRRunResult& run) {
    const std::string files = "Scrivane、libonnxruntime.so.1、model.onnx 和 character_dict.txt";
    if (!run.Started) {
        if (run.StartErrno == EACCES) return "Scrivane 不能执行：请检查它有执行权限（chmod +x），所在的文件系统也允许执行程序。";
        if (run.StartErrno == ENOEXEC) return "Scrivane 不是本机可运行的程序：请换用 64 位 Linux 版本。";
        return "请检查 Scrivane 是否完整地复制到了 OCR 目录中。";
    }
    switch (run.ExitCode) {
        case 124: return "Scrivane 在时限内没有结束：请检查电脑是否过忙，或在 Korvex.ini 的 [OCR] 中调大 TimeoutMS。";
        case 127:
            return "系统无法运行 Scrivane：它需要的库（如同一目录中的 libonnxruntime.so.1）缺失、损坏或与本机不符。请重新复制 " +
                   files + "。";
        case 3: return "Scrivane 找不到模型 model.onnx：请把它放回 Scrivane 所在的目录。";
        case 4: return "Scrivane 找不到字符字典 character_dict.txt：请把它放回 Scrivane 所在的目录。";
        case 10: return "ONNX Runtime 无法使用模型 model.onnx：文件损坏，或与 libonnxruntime.so.1 的版本不符。";
        case 11: return "模型与字符字典不配套，或 Scrivane 目录中的文件无法读取：请一起复制 " + files + "。";
        default: break;
    }
    if (run.ExitCode < 0) return Format("Scrivane 被信号 %d 终止：请检查 ", -run.ExitCode) + files + " 是否完整且版本一致。";
    return "请检查 " + files + " 是否完整且版本一致。";
}

bool TExternalOCR::DecryptResultFile(const std::string& path, std::string& text) {
    text.clear();
    if (!FileExistsAt(path)) {
        FLastError = "OCR加密文件不存在：" + path;
        return false;
    }
    const std::string bytes = ReadResultBytes(path);
    if (bytes.empty()) {
        FLastError = "OCR加密文件为空。";
        return false;
    }
    const std::optional<std::string> plain = DecryptOcrResult(bytes);
    if (!plain) return false;  // FLastError stays as it was
    // About one foreign file in 256 passes the padding check by chance; only
    // the engine's own "name|score" in valid UTF-8 is an answer.
    if (!IsEngineAnswer(*plain)) {
        FLastError = "OCR 加密结果不是 Scrivane 的应答（内容不符合“姓名|分数”格式）。";
        return false;
    }
    text = *plain;
    return true;
}

void TExternalOCR::ParseOCRAnswer(const std::string& answer, std::string& name, double& confidence) {
    const std::size_t bar = answer.rfind('|');
    if (bar == std::string::npos) {
        name = answer;
        confidence = kConfidenceWithoutScore;
    } else {
        name = TrimmedCopy(std::string_view(answer).substr(0, bar));
        double score = 0;
        confidence = ParseScore(TrimBlanks(std::string_view(answer).substr(bar + 1)), score)
                         ? score
                         : kConfidenceWithoutScore;
    }
    if (!(confidence >= 0)) confidence = 0;  // negative or not a number
    if (confidence > 1) confidence = 1;
}

}  // namespace korvex
