#include "scrivane/CtcDecode.h"

#include "scrivane/EngineErrors.h"
#include "scrivane/FileBytes.h"

namespace scrivane {

DecoderTable ParseDecoderTable(const std::string& bytes) {
  DecoderTable table{std::string()};
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = bytes.find('\n', start);
    std::size_t next = end == std::string::npos ? bytes.size() : end + 1;
    if (end == std::string::npos) end = bytes.size();
    if (end > start && bytes[end - 1] == '\r') --end;
    table.push_back(bytes.substr(start, end - start));
    start = next;
  }
  if (table.size() == 1) throw EEngineError("character dictionary is empty");
  table.push_back(" ");
  return table;
}

DecoderTable LoadDecoderTable(const std::string& path) {
  std::vector<std::uint8_t> bytes;
  if (ReadFileBytes(path, bytes) != 0) throw EEngineError("cannot open character_dict.txt");
  return ParseDecoderTable(std::string(bytes.begin(), bytes.end()));
}

RecognitionResult CtcGreedyDecode(const float* scores, std::int64_t steps, std::int64_t classes,
                                  const DecoderTable& table) {
  if (std::int64_t(table.size()) != classes)
    throw EEngineError("decoder table size " + std::to_string(table.size()) + " != model class count " +
                       std::to_string(classes));
  RecognitionResult result;
  std::int64_t previous = -1, count = 0;
  double sum = 0.0;
  for (std::int64_t t = 0; t < steps; ++t) {
    const float* row = scores + t * classes;
    std::int64_t best = 0;
    float max = row[0];
    for (std::int64_t k = 1; k < classes; ++k)
      if (row[k] > max) best = k, max = row[k];
    if (best != previous && best != 0) {
      result.text += table[std::size_t(best)];
      sum += double(max);
      ++count;
    }
    previous = best;
  }
  result.score = count > 0 ? sum / double(count) : 0.0;
  return result;
}

}  // namespace scrivane
