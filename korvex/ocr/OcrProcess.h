#pragma once
// Starting an OCR program as a child process and waiting for it under a time limit.
#include <string>
#include <string_view>
#include <vector>

namespace korvex {

// Splits a command line into arguments by the rules of the Windows C runtime,
// for which the argument templates are written: blanks and tabs separate
// arguments, double quotes group, 2n backslashes before a quote give n
// backslashes and a grouping quote, 2n+1 give n backslashes and a literal
// quote, "" inside a group is a literal quote, other backslashes are literal.
// The first argument (the program) only knows grouping quotes.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);
// The same rules for arguments only: every word, the first included.
std::vector<std::string> SplitArguments(std::string_view arguments);
// Each argument with the place [Begin, End) of its text.
struct TArgumentSpan {
    std::size_t Begin = 0, End = 0;
    std::string Value;
};
std::vector<TArgumentSpan> SplitArgumentSpans(std::string_view arguments);

enum TProcessEnd {
    peStartFailed,  // Errno tells why
    peWaitFailed,   // Errno tells why
    peTimedOut,     // killed with its process group after the limit
    peExited,       // Code is the exit status
    peSignalled,    // Code is the signal number
    peStatusUnreadable,  // ended with a status that is neither
};

struct TProcessOutcome {
    TProcessEnd End = peStartFailed;
    int Errno = 0;
    int Code = 0;
    std::string ErrorOutput;  // the last bytes the program wrote to its standard error
    int Pid = 0;              // 0 when it did not start
};

// Keeps this many bytes of the end of the program's standard error.
constexpr std::size_t kKeptErrorOutputBytes = 4096;

// Runs program with the given argument vector (args[0] is the program's own
// name) without a shell: standard input from /dev/null, standard output
// discarded, standard error collected, workDir as working directory, no
// descriptors beyond the standard three, in a process group of its own that
// is killed if this program ends by SIGTERM, SIGINT or SIGHUP. The program
// is killed by the kernel when the calling thread ends (also by SIGKILL).
// Waits at most timeoutMS; on time-out kills the whole group and waits up to
// graceMS more; a program that outlives that is reaped in the background.
TProcessOutcome RunProcessWithTimeout(const std::string& program, const std::vector<std::string>& args,
                                      const std::string& workDir, int timeoutMS, int graceMS);

}  // namespace korvex
