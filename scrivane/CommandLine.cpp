#include "scrivane/CommandLine.h"

#include <algorithm>
#include <cstdint>

#include "scrivane/EngineErrors.h"
#include "scrivane/EngineFiles.h"
#include "scrivane/Recognition.h"
#include "scrivane/ResultFile.h"

namespace scrivane {

const char kAccessToken[] = "QK71C-3D5E8B20-9A1F-4C6B-8E2D-57B0C4A9F613";

namespace {

bool TakeAfter(const std::string& arg, const char* prefix, std::string& target) {
  const std::string p(prefix);
  if (arg.compare(0, p.size(), p) != 0) return false;
  target = arg.substr(p.size());
  return true;
}

void Write(std::FILE* stream, const std::string& text) { std::fwrite(text.data(), 1, text.size(), stream); }

}  // namespace

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args) {
  ParsedCommandLine parsed;
  if (args.size() == 1 && args[0] == "--selftest") {
    parsed.kind = JobKind::jkSelfTest;
    return parsed;
  }
  if (args.size() != 3) return parsed;  // jkUsage
  for (const std::string& arg : args)
    TakeAfter(arg, "--token=", parsed.token) || TakeAfter(arg, "--in=", parsed.inputPath) ||
        TakeAfter(arg, "--out=", parsed.outputPath);
  if (parsed.token != kAccessToken)
    parsed.kind = JobKind::jkBadToken;
  else if (parsed.inputPath.empty() || parsed.outputPath.empty())
    parsed.kind = JobKind::jkMissingPath;
  else
    parsed.kind = JobKind::jkRecognition;
  return parsed;
}

int RunRecognitionJob(const ParsedCommandLine& job, const Streams& streams) {
  try {
    const RecognitionResult result = RunRecognition(job.inputPath);
    WriteEncryptedResult(job.outputPath, result);
    Write(streams.out, "TEXT=" + result.text + "\n");
    Write(streams.out, "SCORE=" + FormatFixed(result.score, 9) + "\n");
    std::fflush(streams.out);
    return exit_code::kOk;
  } catch (const ERuntimeError& e) {
    Write(streams.err, std::string("ONNX Runtime error: ") + e.what() + "\n");
    return exit_code::kRuntime;
  } catch (const std::exception& e) {
    Write(streams.err, std::string("Scrivane error: ") + e.what() + "\n");
    return exit_code::kOther;
  }
}

namespace {

int SelfTestSteps(const Streams& streams) {
  const EngineFiles files = LocateEngineFiles();
  Write(streams.out, "Scrivane x64 self-test\n");
  Write(streams.out, "Model=" + files.modelPath + "\n");
  Write(streams.out, "Dict=" + files.dictionaryPath + "\n");
  if (!PathExists(files.modelPath)) {
    Write(streams.out, "SELFTEST=FAILED model.onnx missing\n");
    return exit_code::kModelMissing;
  }
  if (!PathExists(files.dictionaryPath)) {
    Write(streams.out, "SELFTEST=FAILED character_dict.txt missing\n");
    return exit_code::kDictionaryMissing;
  }
  ModelSession model("KorvexOCRSelfTest");
  model.OpenDefault(files.modelPath);
  const DecoderTable table = LoadDecoderTable(files.dictionaryPath);
  Write(streams.out, "DecoderTableCount=" + std::to_string(table.size()) + "\n");
  const ModelSession::Shapes shapes = model.ReadShapes();
  Write(streams.out, "InputRank=" + std::to_string(shapes.input.size()) + "\n");
  Write(streams.out, "OutputRank=" + std::to_string(shapes.output.size()) + "\n");
  if (!shapes.output.empty() && shapes.output.back() > 0) {
    const std::int64_t classes = shapes.output.back();
    Write(streams.out, "OutputClassCount=" + std::to_string(classes) + "\n");
    // Every recognition would fail on this pair, so the self-test does too.
    if (std::uint64_t(classes) != table.size())
      throw EEngineError("decoder table size " + std::to_string(table.size()) + " != model class count " +
                         std::to_string(classes) + ": character_dict.txt has " + std::to_string(table.size() - 2) +
                         " lines, the model expects " + std::to_string(std::max<std::int64_t>(classes - 2, 0)));
  }
  Write(streams.out, "SELFTEST=OK\n");
  return exit_code::kOk;
}

}  // namespace

int RunSelfTest(const Streams& streams) {
  int code;
  try {
    code = SelfTestSteps(streams);
  } catch (const ERuntimeError& e) {
    std::fflush(streams.out);
    Write(streams.err, std::string("ONNX Runtime error: ") + e.what() + "\nSELFTEST=FAILED\n");
    return exit_code::kSelfTestRuntime;
  } catch (const std::exception& e) {
    std::fflush(streams.out);
    Write(streams.err, std::string("Error: ") + e.what() + "\nSELFTEST=FAILED\n");
    return exit_code::kSelfTestOther;
  }
  std::fflush(streams.out);
  return code;
}

int ScrivaneMain(const std::vector<std::string>& args, const Streams& streams) {
  const ParsedCommandLine parsed = ParseCommandLine(args);
  switch (parsed.kind) {
    case JobKind::jkSelfTest: return RunSelfTest(streams);
    case JobKind::jkUsage:
      Write(streams.err, "usage: Scrivane --token=xxx --in=image.bmp --out=result.dat\n"
                         "       Scrivane --selftest\n");
      return exit_code::kUsage;
    case JobKind::jkBadToken: return exit_code::kBadToken;
    case JobKind::jkMissingPath: return exit_code::kMissingPath;
    case JobKind::jkRecognition: break;
  }
  return RunRecognitionJob(parsed, streams);
}

}  // namespace scrivane
