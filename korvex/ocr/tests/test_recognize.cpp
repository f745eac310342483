#include <unistd.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cctype>
#include <future>
#include <random>
#include <sys/file.h>

#include "OcrTestSupport.h"
#include "model/Errors.h"
#include "ocr/ResultCipher.h"

using namespace korvex;
using namespace ocrtest;

namespace {

std::uint32_t Le32(const std::string& b, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(b[at])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}

class RecognizeTest : public OcrTest {
protected:
    // A stand-in engine in "OCR" that records its paths, keeps a copy of its
    // input and then runs body.
    void InstallRecordingEngine(const std::string& body) {
        InstallEngine("OCR/Scrivane",
                      EngineScript("printf '%s\\n%s\\n%s\\n' \"$tok\" \"$in\" \"$out\" > '" + Seen("paths.txt") +
                                   "'\ncp \"$in\" '" + Seen("input.bmp") + "'\n" + body));
    }
    // A stand-in external program with the default external arguments: $1 image, $2 output base.
    void InstallExternal(const std::string& body) {
        WriteProgram(Home() / "tools/ocr", "#!/bin/sh\n" + body + "\n");
    }
    std::string Seen(const std::string& name) const { return (Home() / name).string(); }
    std::vector<std::string> SeenPaths() const {
        std::istringstream in(ReadText(Seen("paths.txt")));
        std::vector<std::string> lines;
        for (std::string l; std::getline(in, l);) lines.push_back(l);
        return lines;
    }

    bool Run(const TRaster& bmp = SampleRaster()) {
        TExternalOCR ocr(IniPath());
        text_ = "stale";
        confidence_ = -1;
        const bool ok = ocr.Recognize(bmp, text_, confidence_);
        error_ = ocr.LastError();
        return ok;
    }

    std::string text_;
    double confidence_ = 0;
    std::string error_;
};

TEST_F(RecognizeTest, EngineAnswerIsDecryptedAndSplit) {
    InstallRecordingEngine(EncryptToOut("张伟|0.912346"));
    ASSERT_TRUE(Run()) << error_;
    EXPECT_EQ(text_, "张伟");
    EXPECT_DOUBLE_EQ(confidence_, 0.912346);
    EXPECT_EQ(error_, "");

    const std::vector<std::string> paths = SeenPaths();
    ASSERT_EQ(paths.size(), 3u);
    EXPECT_EQ(paths[0], kToken);
    const std::string work = WorkFolder().string() + "/";
    ASSERT_EQ(paths[1].rfind(work, 0), 0u) << paths[1];
    const std::string base = paths[1].substr(work.size(), paths[1].size() - work.size() - 4);
    ASSERT_EQ(base.size(), 12u) << base;
    for (std::size_t i = 0; i < base.size(); ++i)
        EXPECT_TRUE(i == 8 ? base[i] == '-' : std::isxdigit(static_cast<unsigned char>(base[i])) != 0) << base;
    EXPECT_EQ(paths[1], work + base + ".bmp");
    EXPECT_EQ(paths[2], work + base + ".dat");
    EXPECT_TRUE(WorkFolderEntries().empty()) << "temporary files were left behind";
    struct stat st {};
    ASSERT_EQ(::stat(WorkFolder().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // The engine saw the raster as a 24-bit bitmap.
    const std::string bmp = ReadText(Seen("input.bmp"));
    ASSERT_GE(bmp.size(), 54u);
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    EXPECT_EQ(Le32(bmp, 18), 5u);
    EXPECT_EQ(Le32(bmp, 22), 3u);
}

TEST_F(RecognizeTest, NameMayContainTheSeparator) {
    InstallRecordingEngine(EncryptToOut("a|b|0.7"));
    ASSERT_TRUE(Run()) << error_;
    EXPECT_EQ(text_, "a|b");
    EXPECT_DOUBLE_EQ(confidence_, 0.7);
}

TEST_F(RecognizeTest, WrongTokenInHandEditedArgumentsFailsWithTheExitCode) {
    WriteIni("Arguments=--token=WRONG --in=\"{image}\" --out=\"{output}\"\r\n");
    InstallRecordingEngine("[ \"$tok\" = '" + std::string(kToken) + "' ] || exit 1001\n" + EncryptToOut("x|0.9"));
    EXPECT_FALSE(Run());
    EXPECT_EQ(error_, "Scrivane/外部OCR返回退出码 233。");  // 1001 in the low 8 bits of the status
    EXPECT_EQ(text_, "");
    EXPECT_EQ(confidence_, 0);
    EXPECT_TRUE(WorkFolderEntries().empty());
}

TEST_F(RecognizeTest, CleanExitWithoutResultFile) {
    InstallRecordingEngine("exit 0");
    EXPECT_FALSE(Run());
    ASSERT_EQ(SeenPaths().size(), 3u);
    EXPECT_EQ(error_, "OCR 进程已正常退出，但没有生成结果文件：" + SeenPaths()[2]);
}

TEST_F(RecognizeTest, PlainTextInTheEncryptedFileFailsWithoutMessage) {
    InstallRecordingEngine("printf '张伟|0.9' > \"$out\"");
    EXPECT_FALSE(Run());
    EXPECT_EQ(error_, "");
    EXPECT_EQ(text_, "");
    EXPECT_TRUE(WorkFolderEntries().empty());
}

TEST_F(RecognizeTest, TimeOutLeavesNoBitmapAndNoPartialResult) {
    WriteIni("TimeoutMS=300\r\n");
    InstallRecordingEngine("printf 'partial' > \"$out\"\nsleep 30");
    EXPECT_FALSE(Run());
    EXPECT_EQ(error_, "OCR 超时（300 毫秒），进程已终止。");
    ASSERT_EQ(SeenPaths().size(), 3u) << "the engine did not start";
    EXPECT_TRUE(WorkFolderEntries().empty()) << WorkFolderEntries().front();
}

TEST_F(RecognizeTest, EncryptedExtensionInAnyLetterCase) {
    WriteIni("TextFileExtension=DAT\r\n");
    InstallRecordingEngine(EncryptToOut("李四|0.25"));
    ASSERT_TRUE(Run()) << error_;
    EXPECT_EQ(text_, "李四");
    EXPECT_DOUBLE_EQ(confidence_, 0.25);
    EXPECT_EQ(SeenPaths()[2].substr(SeenPaths()[2].size() - 4), ".DAT");
}

TEST_F(RecognizeTest, EngineAnswerCanBeAPlainTextFile) {
    WriteIni("TextFileExtension=txt\r\n");
    InstallRecordingEngine("printf '王小明\\r\\n' > \"$out\"");
    ASSERT_TRUE(Run()) << error_;
    EXPECT_EQ(text_, "王小明");
    EXPECT_DOUBLE_EQ(confidence_, 0.85);
    EXPECT_EQ(SeenPaths()[2].substr(SeenPaths()[2].size() - 4), ".txt");
}

TEST_F(RecognizeTest, ExternalTextFileNeedsItsExtensionConfigured) {
    InstallExternal("printf '李四\\n' > \"$2.txt\"");
    WriteIni("Command={appdir}/tools/ocr\r\n");
    EXPECT_FALSE(Run());
    EXPECT_EQ(error_.rfind("OCR 进程已正常退出，但没有生成结果文件：" + WorkFolder().string() + "/", 0), 0u) << error_;
    EXPECT_EQ(error_.substr(error_.size() - 4), ".dat");
    EXPECT_TRUE(WorkFolderEntries().empty()) << "the program's own file under the call's name stays";

    WriteIni("Command={appdir}/tools/ocr\r\nTextFileExtension=.txt\r\n");
    ASSERT_TRUE(Run()) << error_;
    EXPECT_EQ(text_, "李四");
    EXPECT_DOUBLE_EQ(confidence_, 0.85);
}

struct TextAnswerCase {
    const char* title;
    std::string content;  // bytes of the result file
    bool ok;
    std::string text;
    double confidence;
    std::string error;
};

class TextAnswerTest : public RecognizeTest, public ::testing::WithParamInterface<TextAnswerCase> {};

TEST_P(TextAnswerTest, Reads) {
    const TextAnswerCase& c = GetParam();
    WriteFile(Home() / "answer.bin", c.content);
    InstallExternal("cp '" + Seen("answer.bin") + "' \"$2.txt\"");
    WriteIni("Command={appdir}/tools/ocr\r\nTextFileExtension=.txt\r\n");
    EXPECT_EQ(Run(), c.ok);
    EXPECT_EQ(text_, c.text);
    EXPECT_DOUBLE_EQ(confidence_, c.confidence);
    EXPECT_EQ(error_, c.error);
    EXPECT_TRUE(WorkFolderEntries().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Answers, TextAnswerTest,
    ::testing::Values(
        TextAnswerCase{"ByteOrderMarkAndLineEnd", "\xEF\xBB\xBF王小明\r\n", true, "王小明", 0.85, ""},
        TextAnswerCase{"ScoreAfterTheLastBar", " 赵六 | 0.5 \n", true, "赵六", 0.5, ""},
        TextAnswerCase{"OnlyBlanks", "  \r\n\t\r\n", false, "", 0, "OCR 返回空结果。"},
        TextAnswerCase{"EmptyFile", "", false, "", 0, "OCR 返回空结果。"},
        TextAnswerCase{"LeadingBar", "|0.9", false, "", 0.9, "OCR 结果中姓名为空。"},
        TextAnswerCase{"BrokenBytesAreMarked", "A\xFF\n", true, "A\xEF\xBF\xBD", 0.85, ""}),
    [](const auto& info) { return std::string(info.param.title); });

TEST_F(RecognizeTest, OversizedResultIsAReadFailure) {
    InstallExternal("head -c 1048577 /dev/zero | tr '\\0' 'a' > \"$2.txt\"");
    WriteIni("Command={appdir}/tools/ocr\r\nTextFileExtension=.txt\r\n");
    EXPECT_FALSE(Run());
    EXPECT_EQ(error_.rfind("读取 OCR 结果失败：结果文件超过 1048576 字节：", 0), 0u) << error_;
    EXPECT_TRUE(WorkFolderEntries().empty());
}

TEST_F(RecognizeTest, EmptyBitmapStartsNothing) {
    InstallRecordingEngine(EncryptToOut("x|0.9"));
    EXPECT_FALSE(Run(TRaster()));
    EXPECT_EQ(error_, "保存 OCR 临时图片失败：OCR 输入位图为空。");
    EXPECT_FALSE(fs::exists(Seen("paths.txt"))) << "the engine was started";
    EXPECT_TRUE(WorkFolderEntries().empty());

    TRaster broken(4, 4);
    broken.Pixels.resize(10);  // fewer bytes than its size claims
    EXPECT_FALSE(Run(broken));
    EXPECT_EQ(error_, "保存 OCR 临时图片失败：OCR 输入位图数据不完整。");
    EXPECT_TRUE(WorkFolderEntries().empty());
}

TEST_F(RecognizeTest, UnresolvedBackendFailsWithItsReason) {
    EXPECT_FALSE(Run());
    EXPECT_EQ(error_, "未找到 Scrivane。请把 Scrivane_dist 的内容复制到 " + (Home() / "OCR").string() + "。");
    EXPECT_EQ(text_, "");
    EXPECT_EQ(confidence_, 0);
}

TEST_F(RecognizeTest, ForeignWorkFolderIsRefused) {
    InstallRecordingEngine(EncryptToOut("x|0.9"));
    fs::create_directories(Tmp() / "elsewhere");
    fs::create_directory_symlink(Tmp() / "elsewhere", WorkFolder());
    TExternalOCR ocr(IniPath());
    std::string text;
    double confidence = 0;
    EXPECT_THROW(ocr.Recognize(SampleRaster(), text, confidence), EFileError);
    EXPECT_FALSE(fs::exists(Seen("paths.txt")));
}

TEST_F(RecognizeTest, WorkFolderAndItsParentsAreCreated) {
    const ocrtest::TScopedEnv deeper("TMPDIR", (Tmp() / "a/b").string());
    InstallRecordingEngine(EncryptToOut("x|0.9"));
    ASSERT_TRUE(Run()) << error_;
    EXPECT_TRUE(fs::is_directory(Tmp() / "a/b" / WorkFolder().filename()));
}

TEST_F(RecognizeTest, AnotherUsersFolderDoesNotStopThisUser) {
    // The old shared name, owned by someone else: each user has a folder of his own.
    fs::create_directories(Tmp() / "KorvexOCR");
    ASSERT_EQ(::chown((Tmp() / "KorvexOCR").c_str(), 65534, 65534), 0) << "the tests run as root";
    const std::string otherUsers = (Tmp() / ("KorvexOCR-" + std::to_string(::geteuid() + 1))).string();
    fs::create_directories(otherUsers);
    InstallRecordingEngine(EncryptToOut("张伟|0.9"));
    ASSERT_TRUE(Run()) << error_;
    EXPECT_EQ(text_, "张伟");
    EXPECT_EQ(fs::path(SeenPaths()[1]).parent_path(), WorkFolder());
}

TEST_F(RecognizeTest, PrivateRuntimeFolderIsPreferred) {
    InstallRecordingEngine(EncryptToOut("张伟|0.9"));
    struct Case {
        const char* name;
        int mode;
        bool used;
    };
    for (const Case c : {Case{"private", 0700, true}, Case{"open to others", 0755, false}}) {
        const fs::path runtime = Tmp() / "run" / c.name;
        fs::create_directories(runtime);
        ::chmod(runtime.c_str(), static_cast<mode_t>(c.mode));
        const TScopedEnv env("XDG_RUNTIME_DIR", runtime.string());
        ASSERT_TRUE(Run()) << error_;
        EXPECT_EQ(fs::path(SeenPaths()[1]).parent_path(), c.used ? runtime / "KorvexOCR" : WorkFolder()) << c.name;
    }
}

TEST_F(RecognizeTest, ResultThatIsAFifoFailsAtOnce) {
    InstallRecordingEngine("mkfifo \"$out\"");
    auto call = std::async(std::launch::async, [this] { return Run(); });
    if (call.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        // Open the FIFO for writing, so that the blocked read ends and the test can.
        const int fd = ::open(SeenPaths()[2].c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
        FAIL() << "reading the result blocked on a FIFO";
    }
    EXPECT_FALSE(call.get());
    EXPECT_EQ(error_, "读取 OCR 结果失败：结果不是普通文件：" + SeenPaths()[2]);
    EXPECT_TRUE(WorkFolderEntries().empty());
}

TEST_F(RecognizeTest, FilesOfDeadCallsAreSweptLiveOnesKept) {
    fs::create_directories(WorkFolder());
    ::chmod(WorkFolder().c_str(), 0700);
    const std::vector<std::string> dead = {"0123abcd-456.lock", "0123abcd-456.bmp", "0123abcd-456.dat",
                                           "89abcdef-012.bmp" /* no lock at all */};
    const std::vector<std::string> kept = {"fedcba98-765.lock", "fedcba98-765.bmp", "notes.txt", "0123abcd-4567.bmp"};
    for (const auto& name : dead) WriteFile(WorkFolder() / name, "x");
    for (const auto& name : kept) WriteFile(WorkFolder() / name, "x");
    // A call that is still running holds its lock.
    const int held = ::open((WorkFolder() / "fedcba98-765.lock").c_str(), O_RDONLY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    InstallRecordingEngine(EncryptToOut("张伟|0.9"));
    ASSERT_TRUE(Run()) << error_;
    ::close(held);
    std::vector<std::string> left = WorkFolderEntries();
    std::sort(left.begin(), left.end());
    std::vector<std::string> expected = kept;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(left, expected);
}

TEST_F(RecognizeTest, QuotesBackslashesAndBlanksInTheFolders) {
    // Each placeholder quoted by the default template, unquoted, and inside a
    // longer argument; the program folder and TMPDIR full of special characters.
    const fs::path odd = folder_->Path() / "a \"b\" c\\ 'd' $e";
    const TScopedEnv home("KORVEX_HOME", (odd / "home\\").string());
    const TScopedEnv tmp("TMPDIR", (odd / "tmp \"\\").string());
    const fs::path work = odd / "tmp \"\\" / WorkFolder().filename();
    for (const char* arguments : {"", "--token={appdir} --in={image} --out=\"{output}\"",
                                  "\"--token={appdir}\" \"--in={image}\" --out={output}"}) {
        SCOPED_TRACE(arguments);
        fs::remove_all(odd / "home\\");
        fs::create_directories(odd / "home\\");
        std::ofstream(odd / "home\\/Korvex.ini", std::ios::binary) << "[OCR]\r\nArguments=" << arguments << "\r\n";
        const fs::path engine = odd / "home\\/OCR/Scrivane";
        PlaceEngineFiles(engine.parent_path());
        WriteProgram(engine, EngineScript("printf '%s\\n%s\\n%s\\n' \"$tok\" \"$in\" \"$out\" > '" + Seen("paths.txt") +
                                          "'\n" + EncryptToOut("张伟|0.9")));
        TExternalOCR ocr((odd / "home\\/Korvex.ini").string());
        std::string text;
        double confidence = 0;
        ASSERT_TRUE(ocr.Recognize(SampleRaster(), text, confidence)) << ocr.LastError();
        EXPECT_EQ(text, "张伟");
        const std::vector<std::string> paths = SeenPaths();
        ASSERT_EQ(paths.size(), 3u);
        EXPECT_EQ(paths[0], *arguments ? (odd / "home\\").string() : std::string(kToken));
        EXPECT_EQ(fs::path(paths[1]).parent_path(), work);
        EXPECT_EQ(paths[2].substr(0, paths[2].size() - 4) + ".bmp", paths[1]);
    }
}

// ---- the private steps ----

TEST(OcrInputBitmap, WritesABottomUpPaddedBgrFile) {
    TempFolder folder;
    const std::string path = folder.File("in.bmp");
    const TRaster r = SampleRaster(5, 3);  // 15 bytes a row, padded to 16
    TExternalOCRTestAccess::SaveBitmap(r, path);
    const std::string b = TempFolder::Read(path);
    ASSERT_EQ(b.size(), 54u + 16u * 3u);
    EXPECT_EQ(b.substr(0, 2), "BM");
    EXPECT_EQ(Le32(b, 2), b.size());
    EXPECT_EQ(Le32(b, 10), 54u);
    EXPECT_EQ(Le32(b, 14), 40u);
    EXPECT_EQ(static_cast<unsigned char>(b[28]), 24);  // bits per pixel
    EXPECT_EQ(Le32(b, 30), 0u);                        // uncompressed
    EXPECT_EQ(Le32(b, 34), 48u);
    for (int y = 0; y < 3; ++y) {
        const std::size_t row = 54 + 16 * static_cast<std::size_t>(2 - y);  // bottom row first
        EXPECT_EQ(b.substr(row, 15), std::string(reinterpret_cast<const char*>(r.Row(y)), 15)) << y;
        EXPECT_EQ(b[row + 15], '\0');
    }
}

TEST(OcrInputBitmap, UnwritablePathRaises) {
    EXPECT_THROW(TExternalOCRTestAccess::SaveBitmap(SampleRaster(), "/nonexistent-dir/x.bmp"), EFileError);
    EXPECT_THROW(TExternalOCRTestAccess::SaveBitmap(TRaster(0, 5), "/tmp/never.bmp"), EKorvexError);
    EXPECT_FALSE(fs::exists("/tmp/never.bmp"));
}

class DecryptTest : public ::testing::Test {
protected:
    std::string Encrypt(const std::string& plain) {
        const std::string in = folder_.Write("plain.bin", plain);
        const std::string out = folder_.File("cipher.dat");
        const std::string cmd = std::string("openssl enc -aes-256-cbc -K ") + kKeyHex + " -iv " + kIvHex + " -in '" +
                                in + "' -out '" + out + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
        return out;
    }
    TempFolder folder_;
    TExternalOCR ocr_{"/nonexistent/Korvex.ini"};
};

TEST_F(DecryptTest, ReadsTheEngineFormat) {
    for (const std::string& plain : {std::string("|0.000000"), std::string("1234567|0.25000"), std::string("欧阳娜娜|1.000000")}) {
        const std::string file = Encrypt(plain);
        std::string text;
        ASSERT_TRUE(TExternalOCRTestAccess::Decrypt(ocr_, file, text)) << plain;
        EXPECT_EQ(text, plain);
        EXPECT_EQ(fs::file_size(file), 16 * (plain.size() / 16 + 1));
    }
}

TEST_F(DecryptTest, FailuresAndTheirMessages) {
    std::string text = "x";
    EXPECT_FALSE(TExternalOCRTestAccess::Decrypt(ocr_, folder_.File("none.dat"), text));
    EXPECT_EQ(ocr_.LastError(), "OCR加密文件不存在：" + folder_.File("none.dat"));
    EXPECT_EQ(text, "");

    EXPECT_FALSE(TExternalOCRTestAccess::Decrypt(ocr_, folder_.Write("empty.dat", ""), text));
    EXPECT_EQ(ocr_.LastError(), "OCR加密文件为空。");

    // Damaged files fail the padding check and add no message of their own.
    std::string damaged = TempFolder::Read(Encrypt("张伟|0.912346"));
    damaged.back() = static_cast<char>(damaged.back() ^ 0x5A);
    for (const std::string& bytes : {std::string("short"), std::string(32, 'z'), damaged}) {
        TExternalOCR fresh("/nonexistent/Korvex.ini");
        EXPECT_FALSE(TExternalOCRTestAccess::Decrypt(fresh, folder_.Write("bad.dat", bytes), text));
        EXPECT_EQ(fresh.LastError(), "");
    }
}

TEST_F(DecryptTest, ForeignFilesAreNeverTakenForAnAnswer) {
    // Random files in the result's place: about 1 in 256 end in valid padding
    // by chance, and none of those is the engine's "name|score".
    std::mt19937 random(20240611);
    int paddingPassed = 0, accepted = 0;
    for (int i = 0; i < 20000; ++i) {
        std::string bytes(16 * (1 + random() % 4), '\0');
        for (char& c : bytes) c = static_cast<char>(random());
        paddingPassed += DecryptOcrResult(bytes).has_value();
        TExternalOCR fresh("/nonexistent/Korvex.ini");
        std::string text;
        if (TExternalOCRTestAccess::Decrypt(fresh, folder_.Write("foreign.dat", bytes), text)) {
            ++accepted;
            ADD_FAILURE() << "taken for an answer: " << text;
        } else if (DecryptOcrResult(bytes)) {
            EXPECT_EQ(fresh.LastError(), "OCR 加密结果不是 Scrivane 的应答（内容不符合“姓名|分数”格式）。");
        }
    }
    EXPECT_GT(paddingPassed, 20);
    EXPECT_EQ(accepted, 0);
}

struct ParseCase {
    std::string answer;
    std::string name;
    double confidence;
};

const ParseCase kParseCases[] = {
    {"张伟|0.912346", "张伟", 0.912346},
    {"a|b|0.7", "a|b", 0.7},
    {"王小明", "王小明", 0.85},
    {"名 | 0.5", "名", 0.5},
    {"名|abc", "名", 0.85},
    {"名|", "名", 0.85},
    {"名|1.5", "名", 1},
    {"名|-0.2", "名", 0},
    {"名|+0.25", "名", 0.25},
    {"名|1e-1", "名", 0.1},
    {"名|0,5", "名", 0.85},
    {"名|0.5x", "名", 0.85},
    {"名|nan", "名", 0},
    {"名|inf", "名", 1},
    {"|0.9", "", 0.9},
};

void ExpectParses() {
    for (const ParseCase& c : kParseCases) {
        std::string name;
        double confidence = -1;
        TExternalOCRTestAccess::Parse(c.answer, name, confidence);
        EXPECT_EQ(name, c.name) << c.answer;
        EXPECT_DOUBLE_EQ(confidence, c.confidence) << c.answer;
    }
}

TEST(ParseOCRAnswer, Cases) { ExpectParses(); }

TEST(ParseOCRAnswer, DecimalCommaLocaleStillReadsThePoint) {
    // A German locale compiled into a private folder; the machine may have none installed.
    TempFolder locales;
    const std::string cmd = "localedef -i de_DE -f UTF-8 '" + (locales.Path() / "de_DE.UTF-8").string() + "' 2>/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << "localedef (package locales) is needed for this test";
    const ocrtest::TScopedEnv path("LOCPATH", locales.Path().string());
    const std::string before = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    ASSERT_EQ(std::atof("0.5"), 0.0) << "the locale does not use a decimal comma";
    ExpectParses();
    std::setlocale(LC_ALL, before.c_str());
}

}  // namespace
