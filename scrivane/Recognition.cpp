#include "scrivane/Recognition.h"

#include <chrono>

#include "scrivane/EngineErrors.h"
#include "scrivane/ImageDecode.h"

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

ModelSession::ModelSession(const std::string& modelPath, const char* logId, bool tuned) {
  const ort::Api& api = TheApi();
  OrtEnv* env = nullptr;
  Check(api.CreateEnv(ort::kLoggingLevelError, logId, &env));
  FEnv.reset(env);
  OrtSessionOptions* options = nullptr;
  Check(api.CreateSessionOptions(&options));
  FOptions.reset(options);
  if (tuned) {
    Check(api.SetSessionGraphOptimizationLevel(options, ort::kGraphOptimizationAll));
    Check(api.SetIntraOpNumThreads(options, 1));
  }
  OrtSession* session = nullptr;
  Check(api.CreateSession(env, modelPath.c_str(), options, &session));
  FSession.reset(session);
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
  ModelSession model(files.modelPath, "KorvexOCR", true);
  if (timings) timings->sessionMs = MsSince(started);
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
