#pragma once
// The character dictionary as a decoder table and greedy CTC decoding of the
// model's per-step class scores.
#include <cstdint>
#include <string>
#include <vector>

namespace scrivane {

// Index 0 the CTC blank (empty), 1 ... N the dictionary lines, N + 1 a space.
using DecoderTable = std::vector<std::string>;

struct RecognitionResult {
  std::string text;  // dictionary bytes, passed through unchanged
  double score = 0.0;
};

// Lines split at "\n", one trailing "\r" removed; raises EEngineError
// "character dictionary is empty" for an empty file.
DecoderTable ParseDecoderTable(const std::string& bytes);
// Raises "cannot open character_dict.txt" when the file cannot be read.
DecoderTable LoadDecoderTable(const std::string& path);

// scores: T rows of C floats. Raises "decoder table size n != model class count c".
RecognitionResult CtcGreedyDecode(const float* scores, std::int64_t steps, std::int64_t classes,
                                  const DecoderTable& table);

}  // namespace scrivane
