#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "scrivane/CtcDecode.h"
#include "scrivane/EngineErrors.h"

namespace scrivane {
namespace {

struct TableCase {
  const char* name;
  std::string bytes;
  DecoderTable expected;
};

TEST(DecoderTable, ParsesDictionaryLines) {
  const TableCase cases[] = {
      {"three lines", "a\nb\nc\n", {"", "a", "b", "c", " "}},
      {"last line without newline", "a\nb\nc", {"", "a", "b", "c", " "}},
      {"windows line ends", "a\r\nb\r\nc\r\n", {"", "a", "b", "c", " "}},
      {"only one CR removed", "a\r\r\nb", {"", "a\r", "b", " "}},
      {"blank line is an empty class", "a\n\nb\n", {"", "a", "", "b", " "}},
      {"single newline is one empty line", "\n", {"", "", " "}},
      {"blank kept as a class", "a\n \nb", {"", "a", " ", "b", " "}},
      {"blanks around text kept", " x \n", {"", " x ", " "}},
      {"byte-order mark stays in the first line", "\xEF\xBB\xBFz\n", {"", "\xEF\xBB\xBFz", " "}},
      {"utf-8 passed through", "张\n伟", {"", "张", "伟", " "}},
  };
  for (const TableCase& c : cases) EXPECT_EQ(ParseDecoderTable(c.bytes), c.expected) << c.name;
}

TEST(DecoderTable, EmptyFileIsRefused) {
  try {
    ParseDecoderTable("");
    FAIL() << "empty dictionary accepted";
  } catch (const EEngineError& e) {
    EXPECT_STREQ(e.what(), "character dictionary is empty");
  }
}

TEST(DecoderTable, LoadsFromFileAndReportsUnreadableOne) {
  test::ScratchFolder folder;
  test::WriteFile(folder / "dict.txt", std::string("x\r\ny\r\n"));
  EXPECT_EQ(LoadDecoderTable((folder / "dict.txt").string()), (DecoderTable{"", "x", "y", " "}));
  for (const std::string& bad : {(folder / "missing.txt").string(), folder.Path().string()}) {
    try {
      LoadDecoderTable(bad);
      FAIL() << bad;
    } catch (const EEngineError& e) {
      EXPECT_STREQ(e.what(), "cannot open character_dict.txt");
    }
  }
}

// Scores for a 5-class table where step t has winner best[t] with score w[t]
// and every other class a small score.
std::vector<float> Steps(const std::vector<int>& best, const std::vector<float>& w, int classes = 5) {
  std::vector<float> s(best.size() * std::size_t(classes), 0.01f);
  for (std::size_t t = 0; t < best.size(); ++t) s[t * classes + std::size_t(best[t])] = w[t];
  return s;
}

const DecoderTable kAbc = {"", "a", "b", "c", " "};

TEST(CtcGreedyDecode, CollapsesRepeatsAndDropsBlanks) {
  const std::vector<float> w = {0.9f, 0.8f, 0.7f, 0.6f, 0.5f, 0.4f, 0.3f, 0.2f};
  const auto s = Steps({1, 1, 0, 1, 2, 2, 4, 0}, w);
  const RecognitionResult r = CtcGreedyDecode(s.data(), 8, 5, kAbc);
  EXPECT_EQ(r.text, "aab ");
  EXPECT_DOUBLE_EQ(r.score, (double(0.9f) + double(0.6f) + double(0.5f) + double(0.3f)) / 4);
}

TEST(CtcGreedyDecode, EmptyResults) {
  const auto blanks = Steps({0, 0, 0}, {0.9f, 0.9f, 0.9f});
  RecognitionResult r = CtcGreedyDecode(blanks.data(), 3, 5, kAbc);
  EXPECT_EQ(r.text, "");
  EXPECT_EQ(r.score, 0.0);
  r = CtcGreedyDecode(nullptr, 0, 5, kAbc);  // T = 0
  EXPECT_EQ(r.text, "");
  EXPECT_EQ(r.score, 0.0);
}

TEST(CtcGreedyDecode, TiesKeepTheLowestIndexAndNanNeverWins) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    const char* name;
    std::vector<float> scores;  // one step of 5 classes
    std::string text;
  };
  const Case cases[] = {
      {"blank ties a character", {0.5f, 0.5f, 0.0f, 0.0f, 0.0f}, ""},
      {"two characters tie", {0.1f, 0.2f, 0.4f, 0.4f, 0.0f}, "b"},
      {"NaN among the scores", {0.1f, nan, 0.3f, 0.2f, 0.0f}, "b"},
      {"NaN blank score keeps the blank", {nan, 0.9f, 0.3f, 0.2f, 0.0f}, ""},
      {"space class emitted", {0.1f, 0.0f, 0.0f, 0.0f, 0.7f}, " "},
  };
  for (const Case& c : cases) EXPECT_EQ(CtcGreedyDecode(c.scores.data(), 1, 5, kAbc).text, c.text) << c.name;
}

TEST(CtcGreedyDecode, RepeatAfterBlankOrOtherClassIsEmittedAgain) {
  const auto s = Steps({3, 0, 3, 2, 3, 3}, {0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f});
  EXPECT_EQ(CtcGreedyDecode(s.data(), 6, 5, kAbc).text, "ccbc");
}

TEST(CtcGreedyDecode, TableSizeMustMatchClassCount) {
  const DecoderTable table = ParseDecoderTable("a\nb\nc");
  const std::vector<float> s(6, 0.0f);
  try {
    CtcGreedyDecode(s.data(), 1, 6, table);
    FAIL() << "mismatch accepted";
  } catch (const EEngineError& e) {
    EXPECT_STREQ(e.what(), "decoder table size 5 != model class count 6");
  }
}

}  // namespace
}  // namespace scrivane
