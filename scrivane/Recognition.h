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

// Environment, options and session on one model file, released in reverse
// order of creation. `tuned` sets the recognition job's options (highest graph
// optimisation, one intra-op thread); otherwise the runtime's defaults stay.
class ModelSession {
public:
  ModelSession(const std::string& modelPath, const char* logId, bool tuned);
  OrtSession* Get() const { return FSession.get(); }
  struct Shapes {
    std::vector<std::int64_t> input;   // input 0, open dimensions -1
    std::vector<std::int64_t> output;  // output 0
  };
  Shapes ReadShapes() const;

private:
  EnvHandle FEnv;
  OptionsHandle FOptions;
  SessionHandle FSession;
};

// Wall-clock milliseconds of the two costly steps, for measurements.
struct RecognitionTimings {
  double sessionMs = 0.0;  // environment, options and session creation
  double runMs = 0.0;      // the model run
};

// Locates the engine files, decodes the image and runs the model once.
RecognitionResult RunRecognition(const std::string& imagePath);
RecognitionResult RunRecognitionWith(const EngineFiles& files, const std::string& imagePath,
                                     RecognitionTimings* timings = nullptr);

}  // namespace scrivane
