#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "OcrTestSupport.h"
#include "ocr/OcrProcess.h"

using namespace korvex;
using namespace ocrtest;

namespace {

using OcrProcessTest = OcrTest;

struct ExitCase {
    const char* script;
    bool success;
    int exitCode;
    const char* message;
};

TEST_F(OcrProcessTest, ExitCodesBecomeMessages) {
    const ExitCase cases[] = {
        {"exit 0", true, 0, ""},
        {"exit 3", false, 3, "Scrivane/外部OCR返回退出码 3。"},
        // A POSIX exit status keeps its low 8 bits: the engine's 1001 arrives as 233.
        {"exit 1001", false, 233, "Scrivane/外部OCR返回退出码 233。"},
        {"kill -9 $$", false, -9, "Scrivane/外部OCR返回退出码 -9。"},
        {"kill -TERM $$", false, -15, "Scrivane/外部OCR返回退出码 -15。"},
    };
    for (const ExitCase& c : cases) {
        const std::string program = WriteProgram(Home() / "prog", std::string("#!/bin/sh\n") + c.script + "\n");
        const TOCRRunResult r = TExternalOCRTestAccess::Run(program, "", 10000);
        EXPECT_EQ(r.Success, c.success) << c.script;
        EXPECT_EQ(r.ExitCode, c.exitCode) << c.script;
        EXPECT_EQ(r.Message, c.message) << c.script;
    }
}

TEST_F(OcrProcessTest, ChildGetsSplitArgumentsItsFolderAndStreams) {
    // A descriptor the test leaves open across exec: the child must not get it.
    const int leak = ::open(IniPath().c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(leak, 0);
    const fs::path report = Home() / "report.txt";
    const std::string program = WriteProgram(
        Home() / "bin dir/prog",
        "#!/bin/sh\n"
        "f0=$(readlink /proc/$$/fd/0); f1=$(readlink /proc/$$/fd/1); f2=$(readlink /proc/$$/fd/2)\n"
        "{ echo \"$#\"; for a in \"$@\"; do echo \"[$a]\"; done; pwd;\n"
        "  echo \"$f0\"; echo \"$f1\"; echo \"$f2\";\n"
        "  if [ -e /proc/$$/fd/" + std::to_string(leak) + " ]; then echo leaked; else echo closed; fi;\n"
        "  cut -d' ' -f5 /proc/$$/stat; echo $$; } > '" + report.string() + "'\n");
    const TOCRRunResult r =
        TExternalOCRTestAccess::Run(program, R"(--token=T --in="/t/a b.bmp"  --out="/t/x\"y.dat" "")", 10000);
    ::close(leak);
    ASSERT_TRUE(r.Success) << r.Message;

    std::istringstream lines(ReadText(report));
    std::vector<std::string> got;
    for (std::string line; std::getline(lines, line);) got.push_back(line);
    ASSERT_EQ(got.size(), 12u) << ReadText(report);
    EXPECT_EQ(got[0], "4");
    EXPECT_EQ(got[1], "[--token=T]");
    EXPECT_EQ(got[2], "[--in=/t/a b.bmp]");
    EXPECT_EQ(got[3], "[--out=/t/x\"y.dat]");
    EXPECT_EQ(got[4], "[]");
    EXPECT_EQ(got[5], (Home() / "bin dir").string());
    EXPECT_EQ(got[6], "/dev/null");
    EXPECT_EQ(got[7], "/dev/null");
    EXPECT_EQ(got[8].rfind("pipe:", 0), 0u) << "standard error is collected: " << got[8];
    EXPECT_EQ(got[9], "closed");
    EXPECT_EQ(got[10], got[11]) << "the child leads its own process group";
}

TEST_F(OcrProcessTest, BlankArgumentTextPassesNoArguments) {
    const fs::path report = Home() / "count.txt";
    const std::string program = WriteProgram(Home() / "prog", "#!/bin/sh\necho $# > '" + report.string() + "'\n");
    ASSERT_TRUE(TExternalOCRTestAccess::Run(program, "  \t ", 10000).Success);
    EXPECT_EQ(ReadText(report), "0\n");
}

// Gone, or a zombie nobody has reaped yet: either way it runs no more.
bool HasEnded(pid_t pid) {
    for (int i = 0; i < 200; ++i) {
        if (::kill(pid, 0) != 0 && errno == ESRCH) return true;
        const std::string stat = TempFolder::Read("/proc/" + std::to_string(pid) + "/stat");
        const std::size_t close = stat.rfind(')');
        if (close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z') return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST_F(OcrProcessTest, TimeOutKillsTheWholeProcessGroup) {
    const fs::path pids = Home() / "pids.txt";
    const std::string program = WriteProgram(
        Home() / "slow",
        "#!/bin/sh\nsleep 30 &\necho $$ $! > '" + pids.string() + "'\nwait\n");
    const TOCRRunResult r = TExternalOCRTestAccess::Run(program, "", 1000);
    EXPECT_FALSE(r.Success);
    EXPECT_EQ(r.ExitCode, 124);
    EXPECT_EQ(r.Message, "OCR 超时（1000 毫秒），进程已终止。");

    std::istringstream in(ReadText(pids));
    pid_t shell = 0, sleeper = 0;
    ASSERT_TRUE(in >> shell >> sleeper) << "the program did not start in time";
    EXPECT_TRUE(HasEnded(shell));
    EXPECT_TRUE(HasEnded(sleeper)) << "the program's own child survived the time-out";
}

TEST_F(OcrProcessTest, FailureMessageEndsWithTheProgramsLastErrorLines) {
    struct Case {
        const char* script;
        std::string message;
    };
    const Case cases[] = {
        {"for i in $(seq 1 2000); do echo \"noise $i\" >&2; done; echo 'ONNX Runtime error: bad model' >&2; exit 20",
         "Scrivane/外部OCR返回退出码 20。程序的错误输出：noise 1999 / noise 2000 / ONNX Runtime error: bad model"},
        {"printf 'a\\tb\\r\\n\\n  \\nc\\033[31m\\n' >&2; exit 1", "Scrivane/外部OCR返回退出码 1。程序的错误输出：a b / c [31m"},
        {"echo 'still working' >&2; sleep 30", "OCR 超时（300 毫秒），进程已终止。程序的错误输出：still working"},
        {"echo 'fine' >&2; exit 0", ""},
        {"exit 4", "Scrivane/外部OCR返回退出码 4。"},
    };
    for (const Case& c : cases) {
        const std::string program = WriteProgram(Home() / "prog", std::string("#!/bin/sh\n") + c.script + "\n");
        const TOCRRunResult r = TExternalOCRTestAccess::Run(program, "", 300);
        EXPECT_EQ(r.Message, c.message) << c.script;
    }
}

TEST_F(OcrProcessTest, ErrorOutputOfAProgramThatLeavesItOpenDoesNotHoldTheCall) {
    // The program's own child keeps the pipe open after the program ended.
    const std::string program =
        WriteProgram(Home() / "prog", "#!/bin/sh\n(sleep 5; echo late >&2) &\necho 'early' >&2\nexit 3\n");
    const auto start = std::chrono::steady_clock::now();
    const TProcessOutcome r = RunProcessWithTimeout(program, {program}, Home().string(), 10000, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    EXPECT_EQ(r.End, peExited);
    EXPECT_EQ(r.Code, 3);
    EXPECT_EQ(r.ErrorOutput, "early\n");
}

// Gone from the process table: ended and reaped.
bool IsReaped(pid_t pid) {
    for (int i = 0; i < 500; ++i) {
        if (::kill(pid, 0) != 0 && errno == ESRCH) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST_F(OcrProcessTest, ChildOutlivingTheGracePeriodIsReapedLater) {
    // No grace at all: the killed child has not ended yet when the call returns.
    const std::string program = WriteProgram(Home() / "slow", "#!/bin/sh\nexec sleep 30\n");
    const TProcessOutcome r = RunProcessWithTimeout(program, {program}, Home().string(), 200, 0);
    EXPECT_EQ(r.End, peTimedOut);
    ASSERT_GT(r.Pid, 0);
    EXPECT_TRUE(IsReaped(r.Pid)) << "the killed child stays a zombie";
}

TEST_F(OcrProcessTest, StartFailureNamesTheSystemError) {
    const std::string notExecutable = WriteFile(Home() / "prog", "#!/bin/sh\nexit 0\n", 0644);
    const TOCRRunResult r = TExternalOCRTestAccess::Run(notExecutable, "", 10000);
    EXPECT_FALSE(r.Success);
    EXPECT_EQ(r.ExitCode, -1);
    EXPECT_EQ(r.Message, "无法启动 OCR 进程（系统错误 13：Permission denied）。");

    const std::string noInterpreter = WriteProgram(Home() / "prog2", "#!/nonexistent/sh\nexit 0\n");
    EXPECT_EQ(TExternalOCRTestAccess::Run(noInterpreter, "", 10000).Message,
              "无法启动 OCR 进程（系统错误 2：No such file or directory）。");
}

}  // namespace
