#include <functional>

#include "OcrTestSupport.h"
#include "templates/IniDocument.h"

using namespace korvex;
using namespace ocrtest;

namespace {

const std::string kNativeArgs = std::string("--token=") + kToken + " --in=\"{image}\" --out=\"{output}\"";
const std::string kExternalArgs = "\"{image}\" \"{outputbase}\" -l chi_sim --psm 7";
const std::string kScript = "#!/bin/sh\nexit 0\n";

struct ResolveCase {
    const char* title;
    std::function<void(const OcrTest&)> prepare;  // writes the INI and the programs
    bool ok;
    TOCRBackendKind kind;
    std::string command;    // relative to the program folder; "@" is replaced by the temporary root
    std::string arguments;  // "{home}" stands for the program folder
    int timeout;
    std::string extension;
    std::string error;  // "{home}" stands for the program folder
};

class ResolveBackendTest : public OcrTest, public ::testing::WithParamInterface<ResolveCase> {
public:
    using OcrTest::InstallEngine;
    using OcrTest::PlaceEngineFiles;
    using OcrTest::WriteIni;
    using OcrTest::WriteProgram;
    using OcrTest::Home;
};

std::string Expand(std::string text, const std::string& home) {
    for (std::size_t at; (at = text.find("{home}")) != std::string::npos;) text.replace(at, 6, home);
    return text;
}

const ResolveCase kCases[] = {
    {"NoIniPrefersTheOcrSubfolder",
     [](const OcrTest& t) {
         auto& f = static_cast<const ResolveBackendTest&>(t);
         f.InstallEngine("OCR/Scrivane", kScript);
         f.InstallEngine("Scrivane", kScript);
     },
     true, obNativeBridge, "OCR/Scrivane", kNativeArgs, 30000, ".dat", ""},
    {"NoIniFallsBackToTheProgramFolder",
     [](const OcrTest& t) { static_cast<const ResolveBackendTest&>(t).InstallEngine("Scrivane", kScript); }, true,
     obNativeBridge, "Scrivane", kNativeArgs, 30000, ".dat", ""},
    {"NoIniAndNoEngine", [](const OcrTest&) {}, false, obNone, "", "", 0, "",
     "未找到 Scrivane。请把 Scrivane_dist 的内容复制到 {home}/OCR。"},
    {"AutoInCapitals",
     [](const OcrTest& t) {
         auto& f = static_cast<const ResolveBackendTest&>(t);
         f.WriteIni("Command= AUTO \r\n");
         f.InstallEngine("OCR/Scrivane", kScript);
     },
     true, obNativeBridge, "OCR/Scrivane", kNativeArgs, 30000, ".dat", ""},
    {"AppDirPlaceholderInCapitals",
     [](const OcrTest& t) {
         auto& f = static_cast<const ResolveBackendTest&>(t);
         f.WriteIni("Command={APPDIR}/tools/ocr.sh\r\nArguments=--data {AppDir}/data \"{image}\"\r\n");
         f.WriteProgram(f.Home() / "tools/ocr.sh", kScript);
     },
     true, obConfiguredExternal, "tools/ocr.sh", "--data {home}/data \"{image}\"", 120000, ".dat", ""},
    {"EngineNameInOtherCaseElsewhereChecksThatFolder",
     [](const OcrTest& t) {
         auto& f = static_cast<const ResolveBackendTest&>(t);
         f.WriteIni("Command={appdir}/other/SCRIVANE\r\n");
         f.WriteProgram(f.Home() / "other/SCRIVANE", kScript);
         f.PlaceEngineFiles(f.Home());  // beside Korvex, but not beside the configured engine
     },
     false, obNativeBridge, "", "", 0, "",
     "Scrivane 目录缺少：libonnxruntime.so.1、model.onnx、character_dict.txt。应与 Scrivane 放在同一目录。"},
    {"ModelAndDictionaryMissing",
     [](const OcrTest& t) {
         auto& f = static_cast<const ResolveBackendTest&>(t);
         f.WriteProgram(f.Home() / "OCR/Scrivane", kScript);
         f.PlaceEngineFiles(f.Home() / "OCR", {"model.onnx", "character_dict.txt"});
     },
     false, obNativeBridge, "", "", 0, "",
     "Scrivane 目录缺少：model.onnx、character_dict.txt。应与 Scrivane 放在同一目录。"},
    {"WindowsFileNameCountsAsTheEngine",
     [](const OcrTest& t) {
         auto& f = static_cast<const ResolveBackendTest&>(t);
         f.WriteIni("Command={appdir}/bin/scrivane.EXE\r\n");
         f.InstallEngine("bin/scrivane.EXE", kScript);
     },
     true, obNativeBridge, "bin/scrivane.EXE", kNativeArgs, 30000, ".dat", ""},
    {"ExtensionWithoutDotForTheEngine",
     [](const OcrTest& t) {
         auto& f = static_cast<const ResolveBackendTest&>(t);
         f.WriteIni("TextFileExtension= txt \r\n");
         f.InstallEngine("OCR/Scrivane", kScript);
     },
     true, obNativeBridge, "OCR/Scrivane", kNativeArgs, 30000, ".txt", ""},
    {"NegativeTimeout",
     [](const OcrTest& t) {
         auto& f = static_cast<const ResolveBackendTest&>(t);
         f.WriteIni("TimeoutMS=-5\r\n");
         f.InstallEngine("OCR/Scrivane", kScript);
     },
     true, obNativeBridge, "OCR/Scrivane", kNativeArgs, 30000, ".dat", ""},
    {"TimeoutInLetters",
     [](const OcrTest& t) {
         auto& f = static_cast<const ResolveBackendTest&>(t);
         f.WriteIni("TimeoutMS=soon\r\n");
         f.InstallEngine("OCR/Scrivane", kScript);
     },
     true, obNativeBridge, "OCR/Scrivane", kNativeArgs, 30000, ".dat", ""},
    {"TimeoutAndBlankArgumentsForAnExternalCommand",
     [](const OcrTest& t) {
         auto& f = static_cast<const ResolveBackendTest&>(t);
         f.WriteIni("Command={appdir}/ocr\r\nArguments=    \r\nTimeoutMS=4500\r\nTextFileExtension=.TXT\r\n");
         f.WriteProgram(f.Home() / "ocr", kScript);
     },
     true, obConfiguredExternal, "ocr", kExternalArgs, 4500, ".TXT", ""},
    {"BlankArgumentsForTheEngine",
     [](const OcrTest& t) {
         auto& f = static_cast<const ResolveBackendTest&>(t);
         f.WriteIni("Arguments=   \r\nTextFileExtension=\r\n");
         f.InstallEngine("OCR/Scrivane", kScript);
     },
     true, obNativeBridge, "OCR/Scrivane", kNativeArgs, 30000, ".dat", ""},
    {"MissingCommand",
     [](const OcrTest& t) { static_cast<const ResolveBackendTest&>(t).WriteIni("Command={appdir}/nope/ocr\r\n"); },
     false, obNone, "", "", 0, "", "OCR 命令不存在：{home}/nope/ocr"},
    {"FolderIsNoCommand",
     [](const OcrTest& t) {
         auto& f = static_cast<const ResolveBackendTest&>(t);
         f.WriteIni("Command={appdir}/OCR/Scrivane\r\n");
         fs::create_directories(f.Home() / "OCR/Scrivane");
         f.PlaceEngineFiles(f.Home() / "OCR");
     },
     false, obNone, "", "", 0, "", "OCR 命令不存在：{home}/OCR/Scrivane"},
    {"DotSegmentsAreResolved",
     [](const OcrTest& t) {
         auto& f = static_cast<const ResolveBackendTest&>(t);
         f.WriteIni("Command={appdir}/tools/../bin/./ocr\r\n");
         f.WriteProgram(f.Home() / "bin/ocr", kScript);
         fs::create_directories(f.Home() / "tools");
     },
     true, obConfiguredExternal, "bin/ocr", kExternalArgs, 120000, ".dat", ""},
};

TEST_P(ResolveBackendTest, Resolves) {
    const ResolveCase& c = GetParam();
    c.prepare(*this);
    TExternalOCR ocr(IniPath());
    TResolvedOCRBackend backend;
    const std::string home = Home().string();
    ASSERT_EQ(TExternalOCRTestAccess::Resolve(ocr, backend), c.ok) << ocr.LastError();
    EXPECT_EQ(ocr.BackendKind(), c.kind);
    if (!c.ok) {
        EXPECT_EQ(ocr.LastError(), Expand(c.error, home));
        return;
    }
    const std::string command = (Home() / c.command).string();
    EXPECT_EQ(ocr.LastError(), "");
    EXPECT_EQ(backend.CommandPath, command);
    EXPECT_EQ(backend.Arguments, Expand(c.arguments, home));
    EXPECT_EQ(backend.TimeoutMS, c.timeout);
    EXPECT_EQ(backend.Extension, c.extension);
    EXPECT_EQ(ocr.BackendDescription(), (c.kind == obNativeBridge ? "原生 Scrivane：" : "外部 OCR：") + command);
}

INSTANTIATE_TEST_SUITE_P(Table, ResolveBackendTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.title); });

using OcrClientTest = OcrTest;

TEST_F(OcrClientTest, RelativeCommandIsTakenFromTheCurrentFolder) {
    WriteProgram(Home() / "bin/ocr", kScript);
    WriteIni("Command=bin/ocr\r\n");
    const fs::path before = fs::current_path();
    fs::current_path(Home());
    TExternalOCR ocr(IniPath());
    TResolvedOCRBackend backend;
    const bool ok = TExternalOCRTestAccess::Resolve(ocr, backend);
    fs::current_path(before);
    ASSERT_TRUE(ok) << ocr.LastError();
    EXPECT_EQ(backend.CommandPath, (Home() / "bin/ocr").string());
}

TEST_F(OcrClientTest, MissingFilesKeepKindAndDescription) {
    WriteProgram(Home() / "OCR/Scrivane", kScript);
    PlaceEngineFiles(Home() / "OCR", {"model.onnx"});
    TExternalOCR ocr(IniPath());
    std::string description;
    EXPECT_FALSE(ocr.IsAvailable(description));
    EXPECT_EQ(description, "Scrivane 目录缺少：model.onnx。应与 Scrivane 放在同一目录。");
    EXPECT_EQ(ocr.LastError(), description);
    EXPECT_EQ(ocr.BackendKind(), obNativeBridge);
    EXPECT_EQ(ocr.BackendDescription(), "原生 Scrivane：" + (Home() / "OCR/Scrivane").string());
}

TEST_F(OcrClientTest, IsAvailableDescribesTheBackendAndFollowsIniEdits) {
    InstallEngine("OCR/Scrivane", kScript);
    TExternalOCR ocr(IniPath());
    EXPECT_EQ(ocr.BackendKind(), obNone);
    std::string description;
    ASSERT_TRUE(ocr.IsAvailable(description));
    EXPECT_EQ(description, "原生 Scrivane：" + (Home() / "OCR/Scrivane").string());

    WriteIni("Command={appdir}/gone\r\n");  // read afresh at the next call
    EXPECT_FALSE(ocr.IsAvailable(description));
    EXPECT_EQ(description, "OCR 命令不存在：" + (Home() / "gone").string());
    EXPECT_EQ(ocr.BackendKind(), obNone);
    EXPECT_EQ(ocr.BackendDescription(), "");
}

TEST_F(OcrClientTest, UnreadableIniIsAFailureNotAnException) {
    fs::create_directories(Home());
    WriteFile(IniPath(), std::string(TIniDocument::kMaxFileBytes + 1, ';'));
    TExternalOCR ocr(IniPath());
    std::string description;
    EXPECT_FALSE(ocr.IsAvailable(description));
    EXPECT_NE(description.find(IniPath()), std::string::npos) << description;
}

TEST(OcrEngineName, IsNativeBridgeCommand) {
    for (const char* yes : {"/a/Scrivane", "/a/scrivane", "/a/SCRIVANE.exe", "Scrivane.EXE"})
        EXPECT_TRUE(TExternalOCRTestAccess::IsNative(yes)) << yes;
    for (const char* no : {"/Scrivane/ocr", "/a/Scrivane2", "/a/Scrivane.sh", "/a/xScrivane", "/a/"})
        EXPECT_FALSE(TExternalOCRTestAccess::IsNative(no)) << no;
}

TEST_F(OcrClientTest, CheckBridgeFilesNamesTheMissingInOrder) {
    const fs::path dir = Home() / "e";
    std::string missing;
    fs::create_directories(dir);
    EXPECT_FALSE(TExternalOCRTestAccess::CheckFiles((dir / "Scrivane").string(), missing));
    EXPECT_EQ(missing, "libonnxruntime.so.1、model.onnx、character_dict.txt");
    PlaceEngineFiles(dir, {"libonnxruntime.so.1", "character_dict.txt"});
    fs::create_directories(dir / "character_dict.txt");  // a folder is not the file
    EXPECT_FALSE(TExternalOCRTestAccess::CheckFiles((dir / "Scrivane").string(), missing));
    EXPECT_EQ(missing, "libonnxruntime.so.1、character_dict.txt");
    PlaceEngineFiles(dir, {"character_dict.txt"});
    fs::remove(dir / "character_dict.txt");
    WriteFile(dir / "character_dict.txt", "a\n");
    EXPECT_TRUE(TExternalOCRTestAccess::CheckFiles((dir / "Scrivane").string(), missing));
    EXPECT_EQ(missing, "");
}

}  // namespace
