#include "scrivane/Recognition.h"

#include <chrono>
#include <optional>

#include "scrivane/EngineErrors.h"
#include "scrivane/ImageDecode.h"
#include "scrivane/ModelCache.h"
#include "scrivane/ProcessSetup.h"

namespace scrivane {

using ort::Check;
using ort::TheApi;

namespace {

using MemoryInfoHandle = OrtHandle<OrtMemoryInfo, &ort::Api::ReleaseMemoryInfo>;
using ValueHandle = OrtHandle<OrtValue, &ort::Api::ReleaseValue>;
using TypeInfoHandle = OrtHandle<OrtTypeInfo, &ort::Api::ReleaseTypeInfo>;
using ShapeInfoHandle = OrtHandle<OrtTensorTypeAndShapeInfo, &ort::Api::ReleaseTensorTypeAndShapeInfo>;

// A name string of the session, freed on the allocator that made it.
class AllocatedName {
public:
  AllocatedName(OrtAllocator* allocator, char* text) : FAllocator(allocator), FText(text) {}
  AllocatedName(const AllocatedName&) = delete;
  AllocatedName& operator=(const AllocatedName&) = delete;
  ~AllocatedName() {
    if (FText == nullptr) return;
    if (OrtStatus* status = TheApi().AllocatorFree(FAllocator, FText)) TheApi().ReleaseStatus(status);
  }
  const char* Get() const { return FText; }

private:
  OrtAllocator* FAllocator;
  char* FText;
};

std::vector<std::int64_t> DimensionsOf(const OrtTensorTypeAndShapeInfo* info) {
  std::size_t rank = 0;
  Check(TheApi().GetDimensionsCount(info, &rank));
  std::vector<std::int64_t> dims(rank);
  Check(TheApi().GetDimensions(info, dims.data(), rank));
  return dims;
}

std::vector<std::int64_t> ShapeOf(const OrtTypeInfo* typeInfo) {
  const OrtTensorTypeAndShapeInfo* tensorInfo = nullptr;  // owned by the type info
  Check(TheApi().CastTypeInfoToTensorInfo(typeInfo, &tensorInfo));
  if (tensorInfo == nullptr) throw EEngineError("model input or output is not a tensor");
  return DimensionsOf(tensorInfo);
}

}  // namespace

ModelSession::ModelSession(const char* logId) {
  KeepRuntimeTelemetryOff();
  OrtEnv* env = nullptr;
  Check(TheApi().CreateEnv(ort::kLoggingLevelError, logId, &env));
  FEnv.reset(env);
}

void ModelSession::Replace(const std::string& modelPath, OptionsHandle options) {
  FSession.reset();
  FOptions = std::move(options);
  OrtSession* session = nullptr;
  Check(TheApi().CreateSession(FEnv.get(), modelPath.c_str(), FOptions.get(), &session));
  FSession.reset(session);
}

namespace {
OptionsHandle NewOptions() {
  OrtSessionOptions* options = nullptr;
  Check(TheApi().CreateSessionOptions(&options));
  return OptionsHandle(options);
}
}  // namespace

void ModelSession::OpenDefault(const std::string& modelPath) { Replace(modelPath, NewOptions()); }

void ModelSession::Open(const std::string& modelPath, int optimisationLevel, const std::string& saveTo) {
  const ort::Api& api = TheApi();
  OptionsHandle options = NewOptions();
  Check(api.SetSessionGraphOptimizationLevel(options.get(), optimisationLevel));
  Check(api.SetIntraOpNumThreads(options.get(), 1));
  if (!saveTo.empty()) Check(api.SetOptimizedModelFilePath(options.get(), saveTo.c_str()));
  Replace(modelPath, std::move(options));
}

ModelSource OpenRecognitionModel(ModelSession& session, const std::string& modelPath, OptimisedModelCache& cache) {
  if (const std::optional<std::string> cached = cache.Lookup()) {
    try {
      session.Open(*cached, ort::kGraphOptimizationDisabled);
      return ModelSource::msCachedOptimised;
    } catch (const ERuntimeError&) {
      // Unreadable or damaged: made again from the plain model below.
    }
  }
  const std::string saveTo = cache.PrepareWrite();
  if (!saveTo.empty()) {
    try {
      // Extended optimisation is the highest level whose result runs on any CPU.
      session.Open(modelPath, ort::kGraphOptimizationExtended, saveTo);
      return cache.Commit() ? ModelSource::msPlainCached : ModelSource::msPlain;
    } catch (const ERuntimeError&) {
      cache.Discard();  // the plain model's own error comes from the attempt below
    }
  }
  session.Open(modelPath, ort::kGraphOptimizationAll);
  return ModelSource::msPlain;
}

ModelSession::Shapes ModelSession::ReadShapes() const {
  OrtTypeInfo* raw = nullptr;
  Check(TheApi().SessionGetInputTypeInfo(Get(), 0, &raw));
  TypeInfoHandle inputInfo(raw);
  raw = nullptr;
  Check(TheApi().SessionGetOutputTypeInfo(Get(), 0, &raw));
  TypeInfoHandle outputInfo(raw);
  return {ShapeOf(inputInfo.get()), ShapeOf(outputInfo.get())};
}

namespace {
double MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}
}  // namespace

RecognitionResult RunRecognitionWith(const EngineFiles& files, const std::string& imagePath,
                                     RecognitionTimings* timings) {
  if (!PathExists(files.modelPath)) throw EEngineError("model.onnx not found next to Scrivane.exe");
  if (!PathExists(files.dictionaryPath)) throw EEngineError("character_dict.txt not found next to Scrivane.exe");
  const DecoderTable table = LoadDecoderTable(files.dictionaryPath);
  std::vector<float> tensor = BuildInputTensor(DecodeImageBgr24(imagePath));

  const ort::Api& api = TheApi();
  auto started = std::chrono::steady_clock::now();
  ModelSession model("KorvexOCR");
  OptimisedModelCache cache(DefaultModelCacheFolder(), files.modelPath, ort::RuntimeVersion());
  const ModelSource source = OpenRecognitionModel(model, files.modelPath, cache);
  if (timings) {
    timings->sessionMs = MsSince(started);
    timings->source = source;
  }
  OrtAllocator* allocator = nullptr;  // owned by the runtime
  Check(api.GetAllocatorWithDefaultOptions(&allocator));
  char* raw = nullptr;
  Check(api.SessionGetInputName(model.Get(), 0, allocator, &raw));
  AllocatedName inputName(allocator, raw);
  raw = nullptr;
  Check(api.SessionGetOutputName(model.Get(), 0, allocator, &raw));
  AllocatedName outputName(allocator, raw);

  OrtMemoryInfo* memoryRaw = nullptr;
  Check(api.CreateCpuMemoryInfo(ort::kArenaAllocator, ort::kMemTypeDefault, &memoryRaw));
  MemoryInfoHandle memory(memoryRaw);
  const std::int64_t shape[4] = {1, kTensorChannels, kTensorHeight, kTensorWidth};
  OrtValue* inputRaw = nullptr;
  Check(api.CreateTensorWithDataAsOrtValue(memory.get(), tensor.data(), tensor.size() * sizeof(float), shape, 4,
                                           ort::kElementFloat, &inputRaw));
  ValueHandle input(inputRaw);

  const char* inputNames[1] = {inputName.Get()};
  const char* outputNames[1] = {outputName.Get()};
  const OrtValue* inputs[1] = {input.get()};
  OrtValue* outputs[1] = {nullptr};
  started = std::chrono::steady_clock::now();
  OrtStatus* runStatus = api.Run(model.Get(), nullptr, inputNames, inputs, 1, outputNames, 1, outputs);
  if (timings) timings->runMs = MsSince(started);
  ValueHandle output(outputs[0]);
  Check(runStatus);
  int isTensor = 0;
  if (output) Check(api.IsTensor(output.get(), &isTensor));
  if (!output || isTensor != 1) throw EEngineError("unexpected ONNX output");

  OrtTensorTypeAndShapeInfo* shapeRaw = nullptr;
  Check(api.GetTensorTypeAndShape(output.get(), &shapeRaw));
  ShapeInfoHandle shapeInfo(shapeRaw);
  int elementType = 0;
  Check(api.GetTensorElementType(shapeInfo.get(), &elementType));
  if (elementType != ort::kElementFloat)
    throw EEngineError("unexpected ONNX output element type " + std::to_string(elementType) + " (float expected)");
  const std::vector<std::int64_t> dims = DimensionsOf(shapeInfo.get());
  if (dims.size() != 3 || dims[0] != 1 || dims[1] < 0 || dims[2] < 0) throw EEngineError("unexpected output shape");
  const void* data = nullptr;
  Check(api.GetTensorData(output.get(), &data));
  if (data == nullptr && dims[1] * dims[2] > 0) throw EEngineError("unexpected ONNX output");
  return CtcGreedyDecode(static_cast<const float*>(data), dims[1], dims[2], table);
}

RecognitionResult RunRecognition(const std::string& imagePath) {
  return RunRecognitionWith(LocateEngineFiles(), imagePath);
}

}  // namespace scrivane
