// A caller ended in the middle of an OCR call: the voter's handwriting and
// the engine must not outlive it.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "OcrTestSupport.h"

extern char** environ;

using namespace korvex;
using namespace ocrtest;

namespace {

// Ended: gone, or a zombie that only waits for its new parent to reap it.
bool HasEnded(pid_t pid) {
    for (int i = 0; i < 500; ++i) {
        if (::kill(pid, 0) != 0 && errno == ESRCH) return true;
        const std::string stat = TempFolder::Read("/proc/" + std::to_string(pid) + "/stat");
        const std::size_t close = stat.rfind(')');
        if (close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z') return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

class EndedCallerTest : public OcrTest {
protected:
    // An engine that records its process id and then never answers.
    void InstallWaitingEngine() {
        InstallEngine("OCR/Scrivane", EngineScript("echo $$ > '" + PidFile() + "'\nexec sleep 60"));
    }
    std::string PidFile() const { return (Home() / "engine.pid").string(); }

    // Starts the helper, which reads one name with the waiting engine, and
    // returns once the engine runs.
    pid_t StartCaller() {
        std::vector<char*> argv = {const_cast<char*>(OCR_CALL_HELPER), const_cast<char*>(ini_.c_str()), nullptr};
        // The caller starts with the default action for the signals it is sent,
        // whatever the test runner inherited (background jobs ignore SIGINT).
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        sigset_t defaults;
        sigemptyset(&defaults);
        for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&defaults, signal);
        posix_spawnattr_setsigdefault(&attr, &defaults);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
        pid_t pid = 0;
        EXPECT_EQ(::posix_spawn(&pid, OCR_CALL_HELPER, nullptr, &attr, argv.data(), environ), 0);
        posix_spawnattr_destroy(&attr);
        for (int i = 0; i < 1000 && EnginePid() <= 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return pid;
    }
    pid_t EnginePid() const {
        std::istringstream in(ReadText(PidFile()));
        pid_t pid = 0;
        return in >> pid ? pid : 0;
    }
    // The caller's wait status; a caller still running after 10 s is killed.
    static int WaitFor(pid_t pid) {
        int status = 0;
        for (int i = 0; i < 1000; ++i) {
            if (::waitpid(pid, &status, WNOHANG) == pid) return status;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ADD_FAILURE() << "the caller did not end";
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return status;
    }
    void SetUp() override {
        OcrTest::SetUp();
        WriteIni("TimeoutMS=60000\r\n");
        ini_ = IniPath();
    }

    std::string ini_;
};

TEST_F(EndedCallerTest, TerminatingSignalRemovesTheCallsFilesAndEndsTheEngine) {
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(signal));
        fs::remove(PidFile());
        InstallWaitingEngine();
        const pid_t caller = StartCaller();
        const pid_t engine = EnginePid();
        ASSERT_GT(engine, 0) << "the engine did not start";
        EXPECT_FALSE(WorkFolderEntries().empty()) << "the call's bitmap should exist while it runs";

        ASSERT_EQ(::kill(caller, signal), 0);
        const int status = WaitFor(caller);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << "status " << status;
        EXPECT_TRUE(WorkFolderEntries().empty()) << WorkFolderEntries().front();
        EXPECT_TRUE(HasEnded(engine)) << "the engine runs on";
    }
}

TEST_F(EndedCallerTest, KilledCallersEngineEndsAndItsFilesAreSweptNextTime) {
    InstallWaitingEngine();
    const pid_t caller = StartCaller();
    const pid_t engine = EnginePid();
    ASSERT_GT(engine, 0) << "the engine did not start";
    ASSERT_EQ(::kill(caller, SIGKILL), 0);
    WaitFor(caller);
    EXPECT_TRUE(HasEnded(engine)) << "the engine outlived its killed caller";
    EXPECT_FALSE(WorkFolderEntries().empty()) << "nothing could clean up after SIGKILL";

    // The next call, in another process, finds the dead call's files.
    fs::remove_all(Home() / "OCR");
    InstallEngine("OCR/Scrivane", EngineScript(EncryptToOut("张伟|0.9")));
    TExternalOCR ocr(IniPath());
    std::string text;
    double confidence = 0;
    ASSERT_TRUE(ocr.Recognize(SampleRaster(), text, confidence)) << ocr.LastError();
    EXPECT_EQ(text, "张伟");
    EXPECT_TRUE(WorkFolderEntries().empty()) << WorkFolderEntries().front();
}

}  // namespace
