#include <gtest/gtest.h>

#include "scrivane/CommandLine.h"
#include "scrivane/EngineFiles.h"

namespace scrivane {
namespace {

const std::string kToken = std::string("--token=") + kAccessToken;

TEST(CommandLine, AccessTokenValue) {
  EXPECT_STREQ(kAccessToken, "QK71C-3D5E8B20-9A1F-4C6B-8E2D-57B0C4A9F613");
  EXPECT_EQ(std::string(kAccessToken).size(), 42u);
}

TEST(CommandLine, ParsesJobsAndRefusals) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    JobKind kind;
    std::string in, out;
  };
  const Case cases[] = {
      {"self-test", {"--selftest"}, JobKind::jkSelfTest, "", ""},
      {"self-test in capitals", {"--SELFTEST"}, JobKind::jkUsage, "", ""},
      {"self-test with a blank", {"--selftest "}, JobKind::jkUsage, "", ""},
      {"self-test and one more", {"--selftest", "x"}, JobKind::jkUsage, "", ""},
      {"self-test and three more", {"--selftest", "a", "b", "c"}, JobKind::jkUsage, "", ""},
      {"self-test and two more", {"--selftest", "--in=a", "--out=b"}, JobKind::jkBadToken, "a", "b"},
      {"no argument", {}, JobKind::jkUsage, "", ""},
      {"one other argument", {"--help"}, JobKind::jkUsage, "", ""},
      {"two arguments", {kToken, "--in=a"}, JobKind::jkUsage, "", ""},
      {"four arguments", {kToken, "--in=a", "--out=b", "--out=c"}, JobKind::jkUsage, "", ""},
      {"recognition", {kToken, "--in=a.bmp", "--out=r.dat"}, JobKind::jkRecognition, "a.bmp", "r.dat"},
      {"any order", {"--out=r.dat", "--in=a.bmp", kToken}, JobKind::jkRecognition, "a.bmp", "r.dat"},
      {"paths with blanks and '='", {kToken, "--in=/t/a b=c.bmp", "--out=/t/r d.dat"}, JobKind::jkRecognition,
       "/t/a b=c.bmp", "/t/r d.dat"},
      {"later argument replaces", {"--in=a", kToken, "--in=b"}, JobKind::jkMissingPath, "b", ""},
      {"unknown third argument, right token", {kToken, "--in=a", "--output=b"}, JobKind::jkMissingPath, "a", ""},
      {"unknown third argument, no token", {"--x", "--in=a", "--out=b"}, JobKind::jkBadToken, "a", "b"},
      {"empty input path", {kToken, "--in=", "--out=b"}, JobKind::jkMissingPath, "", "b"},
      {"wrong token with missing path", {"--token=nope", "--in=", "--out="}, JobKind::jkBadToken, "", ""},
      {"empty token", {"--token=", "--in=a", "--out=b"}, JobKind::jkBadToken, "a", "b"},
      {"token with a trailing blank", {kToken + " ", "--in=a", "--out=b"}, JobKind::jkBadToken, "a", "b"},
      {"token in lower case",
       {"--token=qk71c-3d5e8b20-9a1f-4c6b-8e2d-57b0c4a9f613", "--in=a", "--out=b"}, JobKind::jkBadToken, "a", "b"},
      {"prefix in capitals", {kToken, "--IN=a", "--out=b"}, JobKind::jkMissingPath, "", "b"},
      {"token cut short", {kToken.substr(0, kToken.size() - 1), "--in=a", "--out=b"}, JobKind::jkBadToken, "a", "b"},
  };
  for (const Case& c : cases) {
    const ParsedCommandLine parsed = ParseCommandLine(c.args);
    EXPECT_EQ(parsed.kind, c.kind) << c.name;
    EXPECT_EQ(parsed.inputPath, c.in) << c.name;
    EXPECT_EQ(parsed.outputPath, c.out) << c.name;
  }
}

TEST(EngineFiles, FolderOfExecutablePath) {
  struct Case {
    std::string path, folder;
  };
  const Case cases[] = {
      {"/opt/korvex/OCR/Scrivane", "/opt/korvex/OCR"},
      {"/Scrivane", "/"},
      {"/opt//korvex///Scrivane", "/opt//korvex"},
      {"C:\\Korvex\\OCR\\Scrivane.exe", "C:\\Korvex\\OCR"},
      {"\\Scrivane.exe", "\\"},
      {"Scrivane", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(FolderOf(c.path), c.folder) << c.path;
  EXPECT_EQ(EngineFilesIn("/").modelPath, "/model.onnx");
  EXPECT_EQ(EngineFilesIn("/opt/x").dictionaryPath, "/opt/x/character_dict.txt");
}

TEST(EngineFiles, ExistenceCountsAnyEntryAndReportsFailedQueries) {
  EXPECT_TRUE(PathExists("/"));
  EXPECT_TRUE(PathExists("/proc/self/exe"));
  EXPECT_FALSE(PathExists("/no/such/entry"));
  EXPECT_FALSE(PathExists("/etc/passwd/below"));  // ENOTDIR counts as missing
  const std::string tooLong = "/" + std::string(5000, 'x');
  EXPECT_THROW(PathExists(tooLong), std::exception);  // ENAMETOOLONG is an error
}

}  // namespace
}  // namespace scrivane
