#include "OcrTestSupport.h"

using namespace korvex;
using namespace ocrtest;

namespace {

const std::string kFiles = "Scrivane、libonnxruntime.so.1、model.onnx 和 character_dict.txt";

class SelfTestTest : public OcrTest {
protected:
    // A stand-in that leaves a marker, passes only for exactly "--selftest"
    // and otherwise ends as the body says.
    std::string InstallSelfTestEngine(const std::string& failure) {
        return InstallEngine("OCR/Scrivane", "#!/bin/sh\necho \"$@\" > '" + Marker() +
                                                 "'\n[ $# -eq 1 ] && [ \"$1\" = --selftest ] && exit 0\n" + failure +
                                                 "\n");
    }
    std::string Marker() const { return (Home() / "started.txt").string(); }
};

TEST_F(SelfTestTest, EngineSelfTestPassesOnExitZero) {
    WriteIni("Arguments=--token=WRONG\r\n");  // not used for the self-test
    const std::string engine = InstallSelfTestEngine("exit 2");
    TExternalOCR ocr(IniPath());
    std::string detail;
    ASSERT_TRUE(ocr.SelfTest(detail)) << detail;
    EXPECT_EQ(detail, "Scrivane 自检通过。\r\n原生 Scrivane：" + engine);
    EXPECT_EQ(ocr.LastError(), "");
    EXPECT_EQ(ReadText(Marker()), "--selftest\n");
}

TEST_F(SelfTestTest, FailingEngineGetsAdviceThatFitsHowItFailed) {
    struct {
        const char* failure;
        const char* message;
        std::string advice;
    } const cases[] = {
        {"exit 3", "Scrivane/外部OCR返回退出码 3。", "Scrivane 找不到模型 model.onnx：请把它放回 Scrivane 所在的目录。"},
        {"exit 4", "Scrivane/外部OCR返回退出码 4。",
         "Scrivane 找不到字符字典 character_dict.txt：请把它放回 Scrivane 所在的目录。"},
        {"echo 'ONNX Runtime error: Protobuf parsing failed.' >&2; echo SELFTEST=FAILED >&2; exit 10",
         "Scrivane/外部OCR返回退出码 10。程序的错误输出：ONNX Runtime error: Protobuf parsing failed. / SELFTEST=FAILED",
         "ONNX Runtime 无法使用模型 model.onnx：文件损坏，或与 libonnxruntime.so.1 的版本不符。"},
        {"exit 11", "Scrivane/外部OCR返回退出码 11。", "模型与字符字典不配套，或 Scrivane 目录中的文件无法读取：请一起复制 " + kFiles + "。"},
        {"exit 127", "Scrivane/外部OCR返回退出码 127。",
         "系统无法运行 Scrivane：它需要的库（如同一目录中的 libonnxruntime.so.1）缺失、损坏或与本机不符。请重新复制 " +
             kFiles + "。"},
        {"kill -SEGV $$", "Scrivane/外部OCR返回退出码 -11。", "Scrivane 被信号 11 终止：请检查 " + kFiles + " 是否完整且版本一致。"},
        {"exit 9", "Scrivane/外部OCR返回退出码 9。", "请检查 " + kFiles + " 是否完整且版本一致。"},
    };
    for (const auto& c : cases) {
        fs::remove_all(Home() / "OCR");
        InstallEngine("OCR/Scrivane", std::string("#!/bin/sh\n") + c.failure + "\n");
        TExternalOCR ocr(IniPath());
        std::string detail;
        EXPECT_FALSE(ocr.SelfTest(detail));
        EXPECT_EQ(ocr.LastError(), c.message);
        EXPECT_EQ(detail, std::string("Scrivane 自检失败：") + c.message + "\r\n" + c.advice);
        EXPECT_EQ(detail.find("DLL"), std::string::npos) << "advice for another system";
    }
}

TEST_F(SelfTestTest, EngineThatCannotBeExecutedGetsAdvice) {
    InstallEngine("OCR/Scrivane", "#!/bin/sh\nexit 0\n");
    ::chmod((Home() / "OCR/Scrivane").c_str(), 0644);
    TExternalOCR ocr(IniPath());
    std::string detail;
    EXPECT_FALSE(ocr.SelfTest(detail));
    EXPECT_EQ(detail, "Scrivane 自检失败：无法启动 OCR 进程（系统错误 13：Permission denied）。\r\n"
                      "Scrivane 不能执行：请检查它有执行权限（chmod +x），所在的文件系统也允许执行程序。");
}

TEST_F(SelfTestTest, SelfTestTimesOut) {
    WriteIni("TimeoutMS=200\r\n");
    InstallEngine("OCR/Scrivane", "#!/bin/sh\nsleep 30\n");
    TExternalOCR ocr(IniPath());
    std::string detail;
    EXPECT_FALSE(ocr.SelfTest(detail));
    EXPECT_EQ(detail, "Scrivane 自检失败：OCR 超时（200 毫秒），进程已终止。\r\n"
                      "Scrivane 在时限内没有结束：请检查电脑是否过忙，或在 Korvex.ini 的 [OCR] 中调大 TimeoutMS。");
}

TEST_F(SelfTestTest, ExternalCommandIsOnlyChecked) {
    const std::string program = WriteProgram(Home() / "tools/ocr", "#!/bin/sh\ntouch '" + Marker() + "'\n");
    WriteIni("Command=" + program + "\r\n");
    TExternalOCR ocr(IniPath());
    std::string detail;
    EXPECT_TRUE(ocr.SelfTest(detail));
    EXPECT_EQ(detail, "外部 OCR：" + program + "；命令文件存在（未定义统一自检协议）。");
    EXPECT_EQ(ocr.BackendKind(), obConfiguredExternal);
    EXPECT_FALSE(fs::exists(Marker())) << "a process was started";
}

TEST_F(SelfTestTest, UnresolvedBackendReportsTheReason) {
    TExternalOCR ocr(IniPath());
    std::string detail;
    EXPECT_FALSE(ocr.SelfTest(detail));
    EXPECT_EQ(detail, "未找到 Scrivane。请把 Scrivane_dist 的内容复制到 " + (Home() / "OCR").string() + "。");
}

TEST_F(SelfTestTest, IsAvailableStartsNoProcess) {
    InstallSelfTestEngine("exit 2");
    TExternalOCR ocr(IniPath());
    std::string description;
    EXPECT_TRUE(ocr.IsAvailable(description));
    EXPECT_FALSE(fs::exists(Marker()));
}

}  // namespace
