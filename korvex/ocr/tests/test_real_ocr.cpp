// The client against real OCR programs: Debian's tesseract through the
// default external arguments, and the built Scrivane engine when it is there.
#include <cstdlib>
#include <map>

#include "ocr/tests/BuiltEngine.h"
#include "NameImage.h"
#include "OcrTestSupport.h"

using namespace korvex;
using korvex::testing::BuiltEngine;
using namespace ocrtest;

namespace {

std::string FindOnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const fs::path candidate = fs::path(dir) / program;
        if (!dir.empty() && ::access(candidate.c_str(), X_OK) == 0) return candidate.string();
    }
    return "";
}

using RealOcrTest = OcrTest;

TEST(NameImage, RendersInk) {
    const TRaster r = RenderName("张伟");
    int dark = 0;
    for (std::size_t i = 0; i < r.Pixels.size(); ++i) dark += r.Pixels[i] < 128;
    EXPECT_GT(dark, 200) << "no glyphs were drawn (is fonts-noto-cjk installed?)";
}

TEST_F(RealOcrTest, TesseractReadsARenderedNameThroughTheDefaultArguments) {
    const std::string tesseract = FindOnPath("tesseract");
    ASSERT_NE(tesseract, "") << "tesseract is missing: install tesseract-ocr and tesseract-ocr-chi-sim";
    const TScopedEnv oneThread("OMP_THREAD_LIMIT", "1");
    WriteIni("Command=" + tesseract + "\r\nTextFileExtension=.txt\r\n");
    TExternalOCR ocr(IniPath());
    std::string description;
    ASSERT_TRUE(ocr.IsAvailable(description)) << description;
    EXPECT_EQ(description, "外部 OCR：" + tesseract);

    for (const char* name : {"张伟", "王小明"}) {
        std::string text;
        double confidence = 0;
        // Cropped close to the ink, as the recognizer hands names over: wide blank
        // margins make the model read extra characters.
        const int width = 40 * static_cast<int>(std::string(name).size() / 3) + 24;
        ASSERT_TRUE(ocr.Recognize(RenderName(name, width, 56), text, confidence)) << ocr.LastError();
        EXPECT_EQ(text, name);
        EXPECT_DOUBLE_EQ(confidence, 0.85);  // tesseract gives no score
    }
    EXPECT_TRUE(WorkFolderEntries().empty());

    std::string detail;
    EXPECT_TRUE(ocr.SelfTest(detail));
    EXPECT_EQ(detail, "外部 OCR：" + tesseract + "；命令文件存在（未定义统一自检协议）。");
}

TEST_F(RealOcrTest, ScrivaneReadsARenderedName) {
    std::string whyNot;
    const std::string engine = BuiltEngine(whyNot);
    if (engine.empty()) GTEST_SKIP() << whyNot;
    WriteIni("Command=" + engine + "\r\n");
    TExternalOCR ocr(IniPath());
    for (const char* name : {"张伟", "王小明", "欧阳娜娜"}) {
        std::string text;
        double confidence = 0;
        // Cropped close to the ink, as the recognizer hands names over: wide blank
        // margins make the model read extra characters.
        const int width = 40 * static_cast<int>(std::string(name).size() / 3) + 24;
        ASSERT_TRUE(ocr.Recognize(RenderName(name, width, 56), text, confidence)) << ocr.LastError();
        EXPECT_EQ(text, name);
        EXPECT_GT(confidence, 0.5);
        EXPECT_LE(confidence, 1.0);
        EXPECT_EQ(ocr.BackendDescription(), "原生 Scrivane：" + engine);
    }
    EXPECT_TRUE(WorkFolderEntries().empty());
}

TEST_F(RealOcrTest, ScrivaneSelfTestPasses) {
    std::string whyNot;
    const std::string engine = BuiltEngine(whyNot);
    if (engine.empty()) GTEST_SKIP() << whyNot;
    WriteIni("Command=" + engine + "\r\n");
    TExternalOCR ocr(IniPath());
    std::string detail;
    EXPECT_TRUE(ocr.SelfTest(detail)) << detail;
    EXPECT_EQ(detail, "Scrivane 自检通过。\r\n原生 Scrivane：" + engine);
    EXPECT_EQ(ocr.LastError(), "");
}

TEST_F(RealOcrTest, ScrivaneWithoutItsModelIsUnavailable) {
    std::string whyNot;
    const std::string engine = BuiltEngine(whyNot);
    if (engine.empty()) GTEST_SKIP() << whyNot;
    // A copy of the installation without the model.
    const fs::path copy = Home() / "OCR";
    fs::create_directories(copy);
    for (const char* name : {"Scrivane", "libonnxruntime.so.1", "character_dict.txt"})
        fs::copy_file(fs::path(engine).parent_path() / name, copy / name);
    TExternalOCR ocr(IniPath());
    std::string description;
    EXPECT_FALSE(ocr.IsAvailable(description));
    EXPECT_EQ(description, "Scrivane 目录缺少：model.onnx。应与 Scrivane 放在同一目录。");
    std::string text;
    double confidence = 1;
    EXPECT_FALSE(ocr.Recognize(RenderName("张伟"), text, confidence));
    EXPECT_EQ(ocr.LastError(), description);
    EXPECT_EQ(text, "");
}

// A copy of the built installation in the program folder's "OCR", with the
// named files replaced by the given contents.
void CopyEngine(const std::string& engine, const fs::path& copy, const std::map<std::string, std::string>& replaced) {
    fs::create_directories(copy);
    for (const char* name : {"Scrivane", "libonnxruntime.so.1", "model.onnx", "character_dict.txt"}) {
        const auto r = replaced.find(name);
        if (r == replaced.end()) fs::copy_file(fs::path(engine).parent_path() / name, copy / name);
        else std::ofstream(copy / name, std::ios::binary) << r->second;
    }
}

TEST_F(RealOcrTest, ScrivaneSelfTestFindsADictionaryOfAnotherSize) {
    std::string whyNot;
    const std::string engine = BuiltEngine(whyNot);
    if (engine.empty()) GTEST_SKIP() << whyNot;
    CopyEngine(engine, Home() / "OCR", {{"character_dict.txt", "a\nb\nc\n"}});
    TExternalOCR ocr(IniPath());
    std::string detail;
    EXPECT_FALSE(ocr.SelfTest(detail));
    EXPECT_EQ(ocr.LastError(),
              "Scrivane/外部OCR返回退出码 11。程序的错误输出：Error: decoder table size 5 != model class count 6625: "
              "character_dict.txt has 3 lines, the model expects 6623 / SELFTEST=FAILED");
    EXPECT_NE(detail.find("模型与字符字典不配套"), std::string::npos) << detail;
}

TEST_F(RealOcrTest, ScrivaneWhoseRuntimeLibraryIsBrokenSaysWhy) {
    std::string whyNot;
    const std::string engine = BuiltEngine(whyNot);
    if (engine.empty()) GTEST_SKIP() << whyNot;
    CopyEngine(engine, Home() / "OCR", {{"libonnxruntime.so.1", "not a library"}});
    TExternalOCR ocr(IniPath());
    std::string detail;
    EXPECT_FALSE(ocr.SelfTest(detail));
    EXPECT_EQ(ocr.LastError().rfind("Scrivane/外部OCR返回退出码 127。程序的错误输出：", 0), 0u) << ocr.LastError();
    EXPECT_NE(ocr.LastError().find("libonnxruntime.so.1"), std::string::npos) << ocr.LastError();
    EXPECT_NE(detail.find("系统无法运行 Scrivane"), std::string::npos) << detail;
}

}  // namespace
