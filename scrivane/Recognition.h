#pragma once
// Running the recognition model on one image, and the model facts the
// self-test reports.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "scrivane/CtcDecode.h"
#include "scrivane/EngineFiles.h"
#include "scrivane/OrtApi.h"

namespace scrivane {

// Owns one runtime object and releases it through its release slot.
template <typename T, void (*(ort::Api::*Release))(T*)>
struct OrtReleaser {
  void operator()(T* p) const {
    if (p != nullptr) (ort::TheApi().*Release)(p);
  }
};
template <typename T, void (*(ort::Api::*Release))(T*)>
using OrtHandle = std::unique_ptr<T, OrtReleaser<T, Release>>;

using EnvHandle = OrtHandle<OrtEnv, &ort::Api::ReleaseEnv>;
using OptionsHandle = OrtHandle<OrtSessionOptions, &ort::Api::ReleaseSessionOptions>;
using SessionHandle = OrtHandle<OrtSession, &ort::Api::ReleaseSession>;

class OptimisedModelCache;

// Environment, options and session on one model file, released in reverse
// order of creation.
class ModelSession {
public:
  explicit ModelSession(const char* logId);
  // Opens the session with the runtime's default options (the self-test).
  void OpenDefault(const std::string& modelPath);
  // Opens the session with one intra-op thread and the given optimisation
  // level; saveTo, when not empty, receives the optimised graph.
  void Open(const std::string& modelPath, int optimisationLevel, const std::string& saveTo = "");
  OrtSession* Get() const { return FSession.get(); }
  struct Shapes {
    std::vector<std::int64_t> input;   // input 0, open dimensions -1
    std::vector<std::int64_t> output;  // output 0
  };
  Shapes ReadShapes() const;

private:
  void Replace(const std::string& modelPath, OptionsHandle options);

  EnvHandle FEnv;
  OptionsHandle FOptions;
  SessionHandle FSession;
};

// Where a recognition job's session came from.
enum class ModelSource {
  msCachedOptimised,  // the cached optimised model, loaded with optimisation off
  msPlainCached,      // the plain model, its optimised graph now saved in the cache
  msPlain             // the plain model at the highest optimisation, nothing cached
};

// Opens the recognition session: the cached optimised model when the cache
// has one for this model, else the plain model (saving its optimised graph
// for the next job when the cache can be written). A cached model that the
// runtime refuses is replaced. Errors of the plain model are raised.
ModelSource OpenRecognitionModel(ModelSession& session, const std::string& modelPath, OptimisedModelCache& cache);

// Wall-clock milliseconds of the two costly steps, for measurements.
struct RecognitionTimings {
  double sessionMs = 0.0;  // environment, options and session creation
  double runMs = 0.0;      // the model run
  ModelSource source = ModelSource::msPlain;
};

// Locates the engine files, decodes the image and runs the model once.
RecognitionResult RunRecognition(const std::string& imagePath);
RecognitionResult RunRecognitionWith(const EngineFiles& files, const std::string& imagePath,
                                     RecognitionTimings* timings = nullptr);

}  // namespace scrivane
