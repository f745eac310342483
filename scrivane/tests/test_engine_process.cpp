// The real Scrivane executable on the real model and runtime, started as a
// child process exactly as Korvex starts it.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "scrivane/CommandLine.h"
#include "scrivane/EngineErrors.h"
#include "scrivane/OrtApi.h"
#include "scrivane/ResultFile.h"

namespace scrivane {
namespace {

namespace fs = std::filesystem;
const fs::path kBuiltEngine = SCRIVANE_EXE;
const std::string kToken = std::string("--token=") + kAccessToken;

// Every engine these tests start keeps its optimised model in a private
// folder, not in the cache of the user running the tests.
const test::ScratchFolder kCacheBase;
const bool kPrivateCache = ::setenv("XDG_CACHE_HOME", kCacheBase.Path().c_str(), 1) == 0;

// A copy of the engine in its own folder; the runtime and model are linked
// to the built ones, the dictionary is chosen per test.
class EngineFolder {
public:
  enum Dictionary { dkShipped, dkNone };
  explicit EngineFolder(Dictionary dictionary = dkShipped, bool withModel = true) {
    const fs::path built = kBuiltEngine.parent_path();
    fs::copy_file(kBuiltEngine, Exe());
    fs::create_symlink(built / "libonnxruntime.so.1", FFolder / "libonnxruntime.so.1");
    if (withModel) fs::create_symlink(built / "model.onnx", FFolder / "model.onnx");
    if (dictionary == dkShipped) fs::create_symlink(built / "character_dict.txt", FFolder / "character_dict.txt");
  }
  fs::path Exe() const { return FFolder / "Scrivane"; }
  fs::path operator/(const std::string& name) const { return FFolder / name; }
  test::ProcessResult Run(const std::vector<std::string>& args) const { return test::RunProcess(Exe(), args); }
  test::ProcessResult Recognize(const fs::path& image, const fs::path& result) const {
    return Run({kToken, "--in=" + image.string(), "--out=" + result.string()});
  }

private:
  test::ScratchFolder FFolder;
};

TEST(EngineProcess, ExitCodesOfTheCommandLine) {
  EngineFolder engine;
  const std::string in = "--in=" + (engine / "none.bmp").string(), out = "--out=" + (engine / "r.dat").string();
  struct Case {
    const char* name;
    std::vector<std::string> args;
    int status;
    bool usage;
  };
  const Case cases[] = {
      {"no argument", {}, 2, true},
      {"self-test in capitals", {"--SELFTEST"}, 2, true},
      {"self-test plus one", {"--selftest", "x"}, 2, true},
      {"four arguments", {kToken, in, out, out}, 2, true},
      {"self-test plus two", {"--selftest", in, out}, exit_code::kBadToken & 0xFF, false},
      {"wrong token", {"--token=QK71C", in, out}, exit_code::kBadToken & 0xFF, false},
      {"missing output path", {kToken, in, "--output=x"}, exit_code::kMissingPath & 0xFF, false},
      {"missing image", {kToken, in, out}, 21, false},
  };
  for (const Case& c : cases) {
    const test::ProcessResult r = engine.Run(c.args);
    EXPECT_EQ(r.exitStatus, c.status) << c.name;
    EXPECT_EQ(r.out, "") << c.name;
    if (c.usage) {
      EXPECT_EQ(r.err, "usage: Scrivane --token=xxx --in=image.bmp --out=result.dat\n"
                       "       Scrivane --selftest\n") << c.name;
    } else if (c.status != 21) {
      EXPECT_EQ(r.err, "") << c.name;
    }
  }
  EXPECT_EQ(engine.Run({kToken, in, out}).err, "Scrivane error: WIC cannot open image: 0x2\n");
  EXPECT_FALSE(fs::exists(engine / "r.dat"));
}

TEST(EngineProcess, SelfTestReportsTheModel) {
  EngineFolder engine;
  const test::ProcessResult r = engine.Run({"--selftest"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out, "Scrivane x64 self-test\nModel=" + (engine / "model.onnx").string() +
                       "\nDict=" + (engine / "character_dict.txt").string() +
                       "\nDecoderTableCount=6625\nInputRank=4\nOutputRank=3\nOutputClassCount=6625\nSELFTEST=OK\n");
  EXPECT_EQ(r.err, "");
}

TEST(EngineProcess, MissingFiles) {
  const std::string header = "Scrivane x64 self-test\n";
  {
    EngineFolder engine(EngineFolder::dkNone);
    test::ProcessResult r = engine.Run({"--selftest"});
    EXPECT_EQ(r.exitStatus, 4);
    EXPECT_EQ(r.out, header + "Model=" + (engine / "model.onnx").string() + "\nDict=" +
                         (engine / "character_dict.txt").string() + "\nSELFTEST=FAILED character_dict.txt missing\n");
    test::WriteFile(engine / "name.bmp", test::EncodeBmp24(test::SolidImage(60, 30, 255, 255, 255)));
    r = engine.Recognize(engine / "name.bmp", engine / "r.dat");
    EXPECT_EQ(r.exitStatus, 21);
    EXPECT_EQ(r.err, "Scrivane error: character_dict.txt not found next to Scrivane.exe\n");
    fs::create_directory(engine / "character_dict.txt");  // present but unreadable as a file
    r = engine.Run({"--selftest"});
    EXPECT_EQ(r.exitStatus, 11);
    EXPECT_EQ(r.err, "Error: cannot open character_dict.txt\nSELFTEST=FAILED\n");
  }
  {
    EngineFolder engine(EngineFolder::dkShipped, false);
    test::ProcessResult r = engine.Run({"--selftest"});
    EXPECT_EQ(r.exitStatus, 3);
    EXPECT_NE(r.out.find("\nSELFTEST=FAILED model.onnx missing\n"), std::string::npos) << r.out;
    r = engine.Recognize(engine / "x.bmp", engine / "r.dat");
    EXPECT_EQ(r.exitStatus, 21);
    EXPECT_EQ(r.err, "Scrivane error: model.onnx not found next to Scrivane.exe\n");
    test::WriteFile(engine / "model.onnx", std::string("not a model"));
    r = engine.Run({"--selftest"});
    EXPECT_EQ(r.exitStatus, 10);
    EXPECT_EQ(r.err.rfind("ONNX Runtime error: Load model from ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("\nSELFTEST=FAILED\n"), std::string::npos);
    test::WriteFile(engine / "x.bmp", test::EncodeBmp24(test::SolidImage(60, 30, 255, 255, 255)));
    r = engine.Recognize(engine / "x.bmp", engine / "r.dat");
    EXPECT_EQ(r.exitStatus, 20);
    EXPECT_EQ(r.err.rfind("ONNX Runtime error: Load model from ", 0), 0u) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(fs::exists(engine / "r.dat"));
  }
}

TEST(EngineProcess, DictionaryOfAnotherSizeFailsEveryJobAndTheSelfTest) {
  EngineFolder engine(EngineFolder::dkNone);
  test::WriteFile(engine / "character_dict.txt", std::string("a\nb\nc\n"));
  const test::ProcessResult self = engine.Run({"--selftest"});
  EXPECT_EQ(self.exitStatus, 11);
  EXPECT_NE(self.out.find("DecoderTableCount=5\n"), std::string::npos);
  EXPECT_NE(self.out.find("OutputClassCount=6625\n"), std::string::npos);
  EXPECT_EQ(self.out.find("SELFTEST=OK"), std::string::npos) << self.out;
  EXPECT_EQ(self.err,
            "Error: decoder table size 5 != model class count 6625: character_dict.txt has 3 lines, the model "
            "expects 6623\nSELFTEST=FAILED\n");
  test::WriteFile(engine / "name.bmp", test::EncodeBmp24(test::RenderText("张伟")));
  const test::ProcessResult r = engine.Recognize(engine / "name.bmp", engine / "r.dat");
  EXPECT_EQ(r.exitStatus, 21);
  EXPECT_EQ(r.err, "Scrivane error: decoder table size 5 != model class count 6625\n");
  EXPECT_EQ(r.out, "");
  EXPECT_FALSE(fs::exists(engine / "r.dat"));
}

std::string Decrypt(const fs::path& file, const fs::path& plain) {
  const std::string command =
      "openssl enc -d -aes-256-cbc -K 7c19e04b5a2f83d6c0417e9b25fa6d3811c84e07b96a2d5fe3089c74b1d26a5e "
      "-iv 5e0b7a19c3d48f26a1e7093bd4c65f82 -in '" + file.string() + "' -out '" + plain.string() + "'";
  return std::system(command.c_str()) == 0 ? test::ReadFile(plain) : "(openssl failed)";
}

TEST(EngineProcess, RecognisesRenderedNames) {
  EngineFolder engine;
  struct Case {
    std::string name, format;
  };
  const Case cases[] = {{"张伟", "bmp"}, {"王小明", "bmp"}, {"欧阳娜娜", "png"}, {"李静", "jpg"}, {"中华人民共和国", "bmp"}};
  for (const Case& c : cases) {
    const DecodedImage image = test::RenderText(c.name);
    const fs::path file = engine / ("name." + c.format), result = engine / "result.dat";
    test::WriteFile(file, c.format == "bmp"   ? test::EncodeBmp24(image)
                          : c.format == "png" ? test::EncodePng(image)
                                              : test::EncodeJpeg(image, 92));
    const test::ProcessResult r = engine.Recognize(file, result);
    ASSERT_EQ(r.exitStatus, 0) << c.name << ": " << r.err;
    const std::string plain = Decrypt(result, engine / "plain");
    const std::size_t bar = plain.rfind('|');
    ASSERT_NE(bar, std::string::npos) << plain;
    EXPECT_EQ(plain.substr(0, bar), c.name);
    const double score = std::stod(plain.substr(bar + 1));
    EXPECT_GT(score, 0.5) << c.name;
    EXPECT_LE(score, 1.0) << c.name;
    EXPECT_EQ(plain.size() - bar - 1, 8u) << "six decimals: " << plain;
    // Two lines on standard output, the same text and score to 9 decimals.
    EXPECT_EQ(r.out.rfind("TEXT=" + c.name + "\nSCORE=", 0), 0u) << r.out;
    const std::string scoreText = r.out.substr(r.out.find("SCORE=") + 6);
    EXPECT_EQ(scoreText.size(), 12u) << scoreText;  // "0.ddddddddd\n"
    EXPECT_NEAR(std::stod(scoreText), score, 5e-7);
    EXPECT_EQ(r.err, "");
  }
}

TEST(EngineProcess, OddImagesEndWithoutCrash) {
  EngineFolder engine;
  const std::string text = "这不是图片\n";
  const auto png = test::EncodePng(test::RenderText("王小明"));
  struct Case {
    const char* name;
    fs::path file;
    std::vector<std::uint8_t> bytes;
    int status;
    std::string err;
  };
  const Case cases[] = {
      {"empty file", engine / "empty.bmp", {}, 21, "Scrivane error: WIC cannot open image: 0xE5C00001\n"},
      {"text named .bmp", engine / "text.bmp", std::vector<std::uint8_t>(text.begin(), text.end()), 21,
       "Scrivane error: WIC cannot open image: 0xE5C00001\n"},
      {"truncated PNG", engine / "cut.png", std::vector<std::uint8_t>(png.begin(), png.begin() + std::ptrdiff_t(png.size() / 2)), 21,
       "Scrivane error: WIC CopyPixels failed: 0xE5C00011\n"},
      {"1 x 1", engine / "dot.bmp", test::EncodeBmp24(test::SolidImage(1, 1, 255, 255, 255)), 0, ""},
      {"20000 x 20", engine / "wide.bmp", test::EncodeBmp24(test::SolidImage(20000, 20, 255, 255, 255)), 0, ""},
  };
  for (const Case& c : cases) {
    test::WriteFile(c.file, c.bytes);
    const test::ProcessResult r = engine.Recognize(c.file, engine / "r.dat");
    EXPECT_EQ(r.exitStatus, c.status) << c.name;
    EXPECT_EQ(r.err, c.err) << c.name;
    if (c.status == 0) {
      EXPECT_EQ(r.out, "TEXT=\nSCORE=0.000000000\n") << c.name;
    }
  }
}

TEST(EngineProcess, ResultFileThatCannotBeCreated) {
  EngineFolder engine;
  test::WriteFile(engine / "n.bmp", test::EncodeBmp24(test::RenderText("张伟")));
  const test::ProcessResult r = engine.Recognize(engine / "n.bmp", engine / "no" / "r.dat");
  EXPECT_EQ(r.exitStatus, 21);
  EXPECT_EQ(r.err, "Scrivane error: cannot create encrypted output\n");
  EXPECT_EQ(r.out, "");
}

TEST(EngineProcess, ModelOutputOfAnotherTypeOrShapeIsRejected) {
  EngineFolder engine(EngineFolder::dkShipped, false);
  test::WriteFile(engine / "n.bmp", test::EncodeBmp24(test::RenderText("张伟")));
  struct Case {
    bool cast;
    std::string err;
  };
  const Case cases[] = {{true, "Scrivane error: unexpected ONNX output element type 7 (float expected)\n"},
                        {false, "Scrivane error: unexpected output shape\n"}};
  for (const Case& c : cases) {
    test::WriteFile(engine / "model.onnx", test::OneNodeModel(c.cast));
    const test::ProcessResult r = engine.Recognize(engine / "n.bmp", engine / "r.dat");
    EXPECT_EQ(r.exitStatus, 21) << r.err;
    EXPECT_EQ(r.err, c.err);
    EXPECT_FALSE(fs::exists(engine / "r.dat"));
  }
  // Its 320 "classes" do not match the dictionary, which the self-test reports.
  const test::ProcessResult self = engine.Run({"--selftest"});
  EXPECT_EQ(self.exitStatus, 11) << self.err;
  EXPECT_NE(self.out.find("InputRank=4\nOutputRank=4\nOutputClassCount=320\n"), std::string::npos) << self.out;
  EXPECT_EQ(self.err.rfind("Error: decoder table size 6625 != model class count 320: ", 0), 0u) << self.err;
}

TEST(EngineRuntime, VersionThatTheRuntimeLacksIsAnError) {
  EXPECT_NO_THROW(ort::LoadApi(ort::kApiVersion));
  try {
    ort::LoadApi(1000);
    FAIL() << "API version 1000 accepted";
  } catch (const ERuntimeError& e) {
    EXPECT_NE(std::string(e.what()).find("does not provide API version 1000"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace scrivane
