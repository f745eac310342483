#include "OcrTestSupport.h"

using namespace korvex;
using namespace ocrtest;

namespace {

const std::string kHint =
    "如果提示 DLL 初始化/加载失败，请检查最终电脑的 Microsoft VC++ x64 Runtime(处理办法：帮助文件-扫描入库Dll缺失)。";

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

TEST_F(SelfTestTest, FailingEngineGetsTheRuntimeHint) {
    struct {
        const char* failure;
        const char* message;
    } const cases[] = {
        {"exit 3", "Scrivane/外部OCR返回退出码 3。"},
        {"kill -SEGV $$", "Scrivane/外部OCR返回退出码 -11。"},
    };
    for (const auto& c : cases) {
        fs::remove_all(Home() / "OCR");
        InstallEngine("OCR/Scrivane", std::string("#!/bin/sh\n") + c.failure + "\n");
        TExternalOCR ocr(IniPath());
        std::string detail;
        EXPECT_FALSE(ocr.SelfTest(detail));
        EXPECT_EQ(ocr.LastError(), c.message);
        EXPECT_EQ(detail, std::string("Scrivane 自检失败：") + c.message + "\r\n" + kHint);
    }
}

TEST_F(SelfTestTest, SelfTestTimesOut) {
    WriteIni("TimeoutMS=200\r\n");
    InstallEngine("OCR/Scrivane", "#!/bin/sh\nsleep 30\n");
    TExternalOCR ocr(IniPath());
    std::string detail;
    EXPECT_FALSE(ocr.SelfTest(detail));
    EXPECT_EQ(detail, "Scrivane 自检失败：OCR 超时（200 毫秒），进程已终止。\r\n" + kHint);
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
