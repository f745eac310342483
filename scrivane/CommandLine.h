#pragma once
// The engine's command line, its exit codes and the two jobs.
#include <cstdio>
#include <string>
#include <vector>

namespace scrivane {

extern const char kAccessToken[];

namespace exit_code {
constexpr int kOk = 0;
constexpr int kUsage = 2;
constexpr int kModelMissing = 3;
constexpr int kDictionaryMissing = 4;
constexpr int kSelfTestRuntime = 10;
constexpr int kSelfTestOther = 11;
constexpr int kRuntime = 20;
constexpr int kOther = 21;
// POSIX keeps the low 8 bits of an exit status: 1001 arrives as 233, 1002 as 234.
constexpr int kBadToken = 1001;
constexpr int kMissingPath = 1002;
}  // namespace exit_code

enum class JobKind { jkSelfTest, jkUsage, jkBadToken, jkMissingPath, jkRecognition };

struct ParsedCommandLine {
  JobKind kind = JobKind::jkUsage;
  std::string token, inputPath, outputPath;
};

// args: the arguments after the program name, compared byte by byte.
ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args);

struct Streams {
  std::FILE* out;
  std::FILE* err;
};

int RunSelfTest(const Streams& streams);
int RunRecognitionJob(const ParsedCommandLine& job, const Streams& streams);
// The whole program: parse, run the job, return the exit code.
int ScrivaneMain(const std::vector<std::string>& args, const Streams& streams);

}  // namespace scrivane
