// Printing through a real CUPS queue: a private cupsd with a CUPS-PDF printer
// set as the default destination. Skips with the reason when the machine
// cannot run one.
#include <gtest/gtest.h>

#include <cups/cups.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "model/Errors.h"
#include "model/tests/TempFolder.h"
#include "templates/uBallotFonts.h"
#include "templates/uBallotPrinting.h"
#include "templates/uStandardLayout.h"

using namespace korvex;
namespace fs = std::filesystem;

namespace {

std::unique_ptr<TBallotTemplate> Template() {
    std::vector<TCandidateInfo> list;
    for (int i = 0; i < 5; ++i) list.push_back({i + 1, "候选人" + std::to_string(i + 1), false});
    return GenerateStandardTemplateWithID(list, "打印测试", 3, 1, "20261210-101500-0CCC0CCC");
}

std::string Capture(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

bool Exists(const char* path) { return access(path, X_OK) == 0; }

// A cupsd of its own, listening on a socket in a temporary folder.
class TPrivateCups {
public:
    explicit TPrivateCups(const TempFolder& folder) : root_(folder.Path()) {
        for (const char* sub : {"etc", "spool", "tmp", "cache", "state"}) fs::create_directories(root_ / sub);
        fs::permissions(root_ / "tmp", fs::perms::all | fs::perms::sticky_bit);
        socket_ = (root_ / "cups.sock").string();
        std::ofstream(root_ / "etc/cupsd.conf") << "Listen " << socket_ << "\nLogLevel warn\nWebInterface No\nBrowsing No\n"
                                                << "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                                                << "<Location /admin>\n  Order allow,deny\n  Allow all\n</Location>\n"
                                                << "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n";
        std::ofstream(root_ / "etc/cups-files.conf")
            << "ServerRoot " << (root_ / "etc").string() << "\nRequestRoot " << (root_ / "spool").string()
            << "\nTempDir " << (root_ / "tmp").string() << "\nCacheDir " << (root_ / "cache").string()
            << "\nStateDir " << (root_ / "state").string() << "\nErrorLog " << (root_ / "error_log").string()
            << "\nAccessLog " << (root_ / "access_log").string() << "\nPageLog " << (root_ / "page_log").string()
            << "\nServerBin /usr/lib/cups\nDataDir /usr/share/cups\nSystemGroup root\n";
        pid_ = fork();
        if (pid_ == 0) {
            const std::string conf = (root_ / "etc/cupsd.conf").string(), files = (root_ / "etc/cups-files.conf").string();
            execl("/usr/sbin/cupsd", "cupsd", "-f", "-c", conf.c_str(), "-s", files.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 100 && !fs::exists(socket_); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ~TPrivateCups() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool Running() const { return pid_ > 0 && fs::exists(socket_); }
    const std::string& Socket() const { return socket_; }
    std::string Log() const { return TempFolder::Read((root_ / "error_log").string()); }

private:
    fs::path root_;
    std::string socket_;
    pid_t pid_ = -1;
};

class PrintQueueTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        EnsureGuiApplication();
    }
};

}  // namespace

TEST_F(PrintQueueTest, WithoutAPrinterPrintingFailsWithAMessage) {
    TempFolder folder;
    const std::string socket = folder.File("no-server.sock");
    setenv("CUPS_SERVER", socket.c_str(), 1);
    cupsSetServer(socket.c_str());
    try {
        PrintBallot(*Template(), 1);
        FAIL() << "printing without a printer succeeded";
    } catch (const EKorvexError& e) {
        EXPECT_STREQ(e.what(), "没有找到默认打印机。请先安装打印机并将其设为默认打印机。");
    }
}

TEST_F(PrintQueueTest, ThreeCopiesAreOneJobOfThreePagesOnTheDefaultCupsPdfQueue) {
    const char* ppd = "/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd";
    if (!Exists("/usr/sbin/cupsd") || !Exists("/usr/sbin/lpadmin") || !Exists("/usr/lib/cups/backend/cups-pdf") ||
        access(ppd, R_OK) != 0 || !Exists("/usr/bin/pdfinfo"))
        GTEST_SKIP() << "needs cups, printer-driver-cups-pdf and poppler-utils";
    if (geteuid() != 0) GTEST_SKIP() << "the CUPS-PDF backend only runs under a cupsd started as root";
    TempFolder folder;
    TPrivateCups cups(folder);
    if (!cups.Running()) GTEST_SKIP() << "cupsd did not start: " << cups.Log();
    setenv("CUPS_SERVER", cups.Socket().c_str(), 1);
    cupsSetServer(cups.Socket().c_str());
    const std::string host = " -h '" + cups.Socket() + "' ";
    ASSERT_EQ(std::system(("/usr/sbin/lpadmin" + host + "-p KorvexPDF -E -v cups-pdf:/ -P " + ppd + " 2>/dev/null").c_str()), 0);
    ASSERT_EQ(std::system(("/usr/sbin/lpadmin" + host + "-d KorvexPDF").c_str()), 0);

    const auto started = fs::file_time_type::clock::now() - std::chrono::seconds(2);
    PrintBallot(*Template(), 3);

    // One job, completed; cups-pdf writes it to ~/PDF of the job's user.
    std::string completed;
    for (int i = 0; i < 600; ++i) {
        completed = Capture("lpstat" + host + "-W completed -o KorvexPDF");
        if (!completed.empty()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_FALSE(completed.empty()) << cups.Log();
    EXPECT_EQ(std::count(completed.begin(), completed.end(), '\n'), 1) << completed;
    EXPECT_TRUE(Capture("lpstat" + host + "-o KorvexPDF").empty());  // nothing left pending

    const fs::path outFolder = fs::path(getpwuid(geteuid())->pw_dir) / "PDF";
    fs::path pdf;
    for (int i = 0; i < 100 && pdf.empty(); ++i) {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(outFolder, error))
            if (entry.path().filename().string().ends_with("job_1.pdf") &&
                entry.last_write_time() >= started)
                pdf = entry.path();
        if (pdf.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_FALSE(pdf.empty()) << "no PDF from cups-pdf in " << outFolder << "\n" << cups.Log();
    const std::string info = Capture("pdfinfo '" + pdf.string() + "'");
    fs::remove(pdf);
    const std::size_t at = info.find("Pages:");
    ASSERT_NE(at, std::string::npos) << info;
    EXPECT_EQ(std::atoi(info.c_str() + at + 6), 3);
}
