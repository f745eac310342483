// The cache of optimised models: the real engine and runtime on the real
// model, with the cache in a private folder per test.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <optional>

#include "TestSupport.h"
#include "scrivane/CommandLine.h"
#include "scrivane/ModelCache.h"
#include "scrivane/OrtApi.h"
#include "scrivane/Recognition.h"

namespace scrivane {
namespace {

namespace fs = std::filesystem;
const fs::path kBuiltEngine = SCRIVANE_EXE;
const std::string kToken = std::string("--token=") + kAccessToken;

// Points XDG_CACHE_HOME at a fresh folder for the life of the object.
class PrivateCache {
public:
  PrivateCache() {
    if (const char* old = std::getenv("XDG_CACHE_HOME")) FOld = old;
    ::setenv("XDG_CACHE_HOME", FBase.Path().c_str(), 1);
  }
  ~PrivateCache() {
    if (FOld) ::setenv("XDG_CACHE_HOME", FOld->c_str(), 1);
    else ::unsetenv("XDG_CACHE_HOME");
  }
  fs::path Folder() const { return FBase / "Scrivane"; }
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(Folder(), ec)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  // The one optimised model in the folder, "" unless there is exactly one.
  fs::path Optimised() const {
    fs::path found;
    int count = 0;
    for (const std::string& name : Entries())
      if (name.size() > 5 && name.substr(name.size() - 5) == ".onnx") found = Folder() / name, ++count;
    return count == 1 ? found : fs::path();
  }
  fs::path Manifest() const {
    for (const std::string& name : Entries())
      if (name.size() > 9 && name.substr(name.size() - 9) == ".manifest") return Folder() / name;
    return {};
  }

private:
  test::ScratchFolder FBase;
  std::optional<std::string> FOld;
};

// A copy of the engine with its own copy of the model (so it can be replaced).
class EngineCopy {
public:
  EngineCopy() {
    const fs::path built = kBuiltEngine.parent_path();
    fs::copy_file(kBuiltEngine, FFolder / "Scrivane");
    fs::create_symlink(built / "libonnxruntime.so.1", FFolder / "libonnxruntime.so.1");
    fs::create_symlink(built / "character_dict.txt", FFolder / "character_dict.txt");
    fs::copy_file(built / "model.onnx", FFolder / "model.onnx");
    test::WriteFile(FFolder / "name.bmp", test::EncodeBmp24(test::RenderText("欧阳娜娜")));
  }
  fs::path operator/(const std::string& name) const { return FFolder / name; }
  test::ProcessResult Recognize() const {
    return test::RunProcess((FFolder / "Scrivane").string(),
                            {kToken, "--in=" + (FFolder / "name.bmp").string(), "--out=" + (FFolder / "r.dat").string()});
  }

private:
  test::ScratchFolder FFolder;
};

TEST(ModelCache, Sha256OfAFile) {
  test::ScratchFolder folder;
  test::WriteFile(folder / "abc", std::string("abc"));
  EXPECT_EQ(FileSha256((folder / "abc").string()),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  test::WriteFile(folder / "empty", std::string());
  EXPECT_EQ(FileSha256((folder / "empty").string()),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(FileSha256((folder / "none").string()), std::nullopt);
  EXPECT_EQ(FileSha256(folder.Path().string()), std::nullopt);
}

TEST(ModelCache, FolderFromTheEnvironment) {
  const char* oldXdg = std::getenv("XDG_CACHE_HOME");
  const char* oldHome = std::getenv("HOME");
  const std::string keepXdg = oldXdg ? oldXdg : "", keepHome = oldHome ? oldHome : "";
  ::setenv("XDG_CACHE_HOME", "/x/cache", 1);
  ::setenv("HOME", "/h", 1);
  EXPECT_EQ(DefaultModelCacheFolder(), "/x/cache/Scrivane");
  ::setenv("XDG_CACHE_HOME", "relative", 1);  // not absolute: ignored
  EXPECT_EQ(DefaultModelCacheFolder(), "/h/.cache/Scrivane");
  ::unsetenv("XDG_CACHE_HOME");
  ::unsetenv("HOME");
  EXPECT_EQ(DefaultModelCacheFolder(), "");
  if (oldXdg) ::setenv("XDG_CACHE_HOME", keepXdg.c_str(), 1);
  if (oldHome) ::setenv("HOME", keepHome.c_str(), 1);
}

TEST(ModelCache, FirstJobSavesTheOptimisedModelLaterJobsReadTheSameName) {
  const PrivateCache cache;
  const EngineCopy engine;
  const test::ProcessResult first = engine.Recognize();
  ASSERT_EQ(first.exitStatus, 0) << first.err;
  EXPECT_EQ(first.out.rfind("TEXT=欧阳娜娜\n", 0), 0u) << first.out;
  const fs::path optimised = cache.Optimised();
  ASSERT_FALSE(optimised.empty()) << "entries: " << cache.Entries().size();
  EXPECT_EQ(optimised.filename().string(),
            *FileSha256((engine / "model.onnx").string()) + "-ort" + ort::RuntimeVersion() + "-extended.onnx");
  EXPECT_EQ(cache.Entries().size(), 2u) << "the optimised model and its manifest, nothing half-written";
  const auto written = fs::last_write_time(optimised);

  for (int run = 0; run < 2; ++run) {
    const test::ProcessResult again = engine.Recognize();
    EXPECT_EQ(again.exitStatus, 0) << again.err;
    EXPECT_EQ(again.out, first.out) << "name and score as from the plain model";
  }
  EXPECT_EQ(fs::last_write_time(optimised), written) << "the optimised model was written again";
  EXPECT_EQ(cache.Entries().size(), 2u);
  struct stat st {};
  ASSERT_EQ(::stat(cache.Folder().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(ModelCache, DamagedOrUnusableCacheFallsBackToThePlainModel) {
  struct Case {
    const char* name;
    void (*damage)(const PrivateCache&);
  };
  const Case cases[] = {
      {"optimised model overwritten",
       [](const PrivateCache& c) { test::WriteFile(c.Optimised(), std::string("not a model")); }},
      {"optimised model cut in half",
       [](const PrivateCache& c) { fs::resize_file(c.Optimised(), fs::file_size(c.Optimised()) / 2); }},
      {"optimised model removed", [](const PrivateCache& c) { fs::remove(c.Optimised()); }},
      {"manifest overwritten", [](const PrivateCache& c) { test::WriteFile(c.Manifest(), std::string("x\n")); }},
      {"a folder in the optimised model's place",
       [](const PrivateCache& c) {
         const fs::path p = c.Optimised();
         fs::remove(p);
         fs::create_directory(p);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const PrivateCache cache;
    const EngineCopy engine;
    const test::ProcessResult first = engine.Recognize();
    ASSERT_EQ(first.exitStatus, 0) << first.err;
    ASSERT_FALSE(cache.Optimised().empty());
    c.damage(cache);
    const test::ProcessResult r = engine.Recognize();
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, first.out);
    EXPECT_EQ(r.err, "");
  }
}

TEST(ModelCache, NoCacheFolderStillReadsTheName) {
  const PrivateCache cache;
  test::WriteFile(cache.Folder(), std::string("a file where the folder should be"));
  const EngineCopy engine;
  const test::ProcessResult r = engine.Recognize();
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out.rfind("TEXT=欧阳娜娜\n", 0), 0u) << r.out;
}

TEST(ModelCache, ReplacedModelNeverUsesTheOldOptimisedModel) {
  const PrivateCache cache;
  const EngineCopy engine;
  ASSERT_EQ(engine.Recognize().exitStatus, 0);
  ASSERT_FALSE(cache.Optimised().empty());
  // Another model in its place: one Identity node, whose output has the
  // wrong shape. Were the old optimised model used, the name would be read.
  const fs::path model = engine / "model.onnx";
  fs::remove(model);
  test::WriteFile(model, test::OneNodeModel(false));
  const test::ProcessResult r = engine.Recognize();
  EXPECT_EQ(r.exitStatus, 21) << r.out;
  EXPECT_EQ(r.err, "Scrivane error: unexpected output shape\n");
  // The real model back (a new file, same bytes): read again.
  fs::remove(model);
  fs::copy_file(kBuiltEngine.parent_path() / "model.onnx", model);
  const test::ProcessResult back = engine.Recognize();
  EXPECT_EQ(back.exitStatus, 0) << back.err;
  EXPECT_EQ(back.out.rfind("TEXT=欧阳娜娜\n", 0), 0u) << back.out;
}

TEST(ModelCache, RecordedButUnloadableOptimisedModelIsReplaced) {
  const PrivateCache cache;
  const EngineFiles files = EngineFilesIn(kBuiltEngine.parent_path().string());
  test::ScratchFolder images;
  const fs::path image = images / "name.bmp";
  test::WriteFile(image, test::EncodeBmp24(test::RenderText("张伟")));
  RecognitionTimings timings;
  EXPECT_EQ(RunRecognitionWith(files, image.string(), &timings).text, "张伟");
  EXPECT_EQ(timings.source, ModelSource::msPlainCached);
  EXPECT_EQ(RunRecognitionWith(files, image.string(), &timings).text, "张伟");
  EXPECT_EQ(timings.source, ModelSource::msCachedOptimised);

  // A damaged file recorded as the optimised model, with its identity intact:
  // the runtime refuses it, and the plain model takes over.
  OptimisedModelCache store(DefaultModelCacheFolder(), files.modelPath, ort::RuntimeVersion());
  const fs::path garbage = cache.Folder() / "garbage";
  test::WriteFile(garbage, std::string(1000, '\x42'));
  ASSERT_TRUE(store.Adopt(garbage.string()));
  ASSERT_TRUE(store.Lookup().has_value());
  EXPECT_EQ(RunRecognitionWith(files, image.string(), &timings).text, "张伟");
  EXPECT_EQ(timings.source, ModelSource::msPlainCached);
  EXPECT_EQ(RunRecognitionWith(files, image.string(), &timings).text, "张伟");
  EXPECT_EQ(timings.source, ModelSource::msCachedOptimised);
}

}  // namespace
}  // namespace scrivane
