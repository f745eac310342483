#include <cstdlib>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "scrivane/EngineErrors.h"
#include "scrivane/ResultFile.h"

namespace scrivane {
namespace {

TEST(ResultFile, PlaintextLayoutAndScoreFormatting) {
  struct Case {
    std::string text;
    double score;
    std::string plaintext;
  };
  const Case cases[] = {
      {"", 0.0, "|0.000000"},
      {"张伟", 0.25, "张伟|0.250000"},
      {"a", 1.0, "a|1.000000"},
      {"b", 0.9999996, "b|1.000000"},
      {"x|y", 0.5, "x|y|0.500000"},
      {"c", 1e-7, "c|0.000000"},
  };
  for (const Case& c : cases) EXPECT_EQ(BuildResultPlaintext({c.text, c.score}), c.plaintext);
  EXPECT_EQ(FormatFixed(0.25, 9), "0.250000000");
  EXPECT_EQ(FormatFixed(0.0, 9), "0.000000000");
}

TEST(ResultFile, CipherLengthFollowsPkcs7) {
  for (std::size_t n : {0u, 1u, 9u, 15u, 16u, 17u, 31u, 32u}) {
    const auto cipher = EncryptResult(std::string(n, 'q'));
    ASSERT_TRUE(cipher.has_value());
    EXPECT_EQ(cipher->size(), 16 * (n / 16 + 1)) << n;
  }
}

// Decrypts with the openssl command line, an implementation independent of
// the engine's own EVP calls.
std::string DecryptWithOpenssl(const std::filesystem::path& file, const std::filesystem::path& plain) {
  const std::string command =
      "openssl enc -d -aes-256-cbc -K 7c19e04b5a2f83d6c0417e9b25fa6d3811c84e07b96a2d5fe3089c74b1d26a5e "
      "-iv 5e0b7a19c3d48f26a1e7093bd4c65f82 -in '" + file.string() + "' -out '" + plain.string() + "'";
  if (std::system(command.c_str()) != 0) return "(openssl failed)";
  return test::ReadFile(plain);
}

TEST(ResultFile, FileDecryptsToExactlyThePlaintext) {
  test::ScratchFolder folder;
  const auto out = folder / "result.dat";
  struct Case {
    RecognitionResult result;
    std::size_t fileSize;
  };
  const Case cases[] = {
      {{"", 0.0}, 16},          // "|0.000000": 9 bytes
      {{"abcdefg", 0.5}, 32},   // exactly 16 bytes: a whole block of padding
      {{"王小明", 0.987654321}, 32},
  };
  for (const Case& c : cases) {
    WriteEncryptedResult(out.string(), c.result);
    EXPECT_EQ(std::filesystem::file_size(out), c.fileSize) << c.result.text;
    EXPECT_EQ(DecryptWithOpenssl(out, folder / "plain"), BuildResultPlaintext(c.result));
  }
}

TEST(ResultFile, SameResultGivesIdenticalBytesAndReplacesOldFile) {
  test::ScratchFolder folder;
  const auto out = folder / "result.dat";
  test::WriteFile(out, std::string(100, 'z'));
  WriteEncryptedResult(out.string(), {"欧阳娜娜", 0.75});
  const std::string first = test::ReadFile(out);
  EXPECT_EQ(first.size(), 32u);
  WriteEncryptedResult(out.string(), {"欧阳娜娜", 0.75});
  EXPECT_EQ(test::ReadFile(out), first);
}

TEST(ResultFile, FailuresToCreateOrWriteAreReported) {
  test::ScratchFolder folder;
  auto message = [](const std::string& path) {
    try {
      WriteEncryptedResult(path, {"a", 0.5});
    } catch (const EEngineError& e) {
      return std::string(e.what());
    }
    return std::string("(written)");
  };
  EXPECT_EQ(message((folder / "no" / "such" / "dir.dat").string()), "cannot create encrypted output");
  EXPECT_EQ(message(folder.Path().string()), "cannot create encrypted output");
  EXPECT_EQ(message("/dev/full"), "cannot write encrypted output");
}

}  // namespace
}  // namespace scrivane
