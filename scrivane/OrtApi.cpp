#include "scrivane/OrtApi.h"

#include <cstring>
#include <string>

#include "scrivane/EngineErrors.h"

namespace scrivane::ort {

namespace {
template <typename Fn>
void Bind(Fn& field, const void* table, std::size_t slot) {
  const void* entry;
  std::memcpy(&entry, static_cast<const unsigned char*>(table) + slot * sizeof(void*), sizeof entry);
  field = reinterpret_cast<Fn>(const_cast<void*>(entry));
}
}  // namespace

Api LoadApi(std::uint32_t version) {
  const OrtApiBase* base = OrtGetApiBase();
  const void* table = base != nullptr ? base->GetApi(version) : nullptr;
  if (table == nullptr) {
    const char* have = base != nullptr ? base->GetVersionString() : "unknown";
    throw ERuntimeError("ONNX Runtime " + std::string(have) + " does not provide API version " +
                            std::to_string(version),
                        1);
  }
  Api api;
  Bind(api.GetErrorCode, table, 1);
  Bind(api.GetErrorMessage, table, 2);
  Bind(api.CreateEnv, table, 3);
  Bind(api.CreateSession, table, 7);
  Bind(api.Run, table, 9);
  Bind(api.CreateSessionOptions, table, 10);
  Bind(api.SetSessionGraphOptimizationLevel, table, 23);
  Bind(api.SetIntraOpNumThreads, table, 24);
  Bind(api.SetOptimizedModelFilePath, table, 11);
  Bind(api.SessionGetInputTypeInfo, table, 33);
  Bind(api.SessionGetOutputTypeInfo, table, 34);
  Bind(api.SessionGetInputName, table, 36);
  Bind(api.SessionGetOutputName, table, 37);
  Bind(api.CreateTensorWithDataAsOrtValue, table, 49);
  Bind(api.IsTensor, table, 50);
  Bind(api.CastTypeInfoToTensorInfo, table, 55);
  Bind(api.GetTensorElementType, table, 60);
  Bind(api.GetDimensionsCount, table, 61);
  Bind(api.GetDimensions, table, 62);
  Bind(api.GetTensorTypeAndShape, table, 65);
  Bind(api.CreateCpuMemoryInfo, table, 69);
  Bind(api.AllocatorFree, table, 76);
  Bind(api.GetAllocatorWithDefaultOptions, table, 78);
  Bind(api.ReleaseEnv, table, 92);
  Bind(api.ReleaseStatus, table, 93);
  Bind(api.ReleaseMemoryInfo, table, 94);
  Bind(api.ReleaseSession, table, 95);
  Bind(api.ReleaseValue, table, 96);
  Bind(api.ReleaseTypeInfo, table, 98);
  Bind(api.ReleaseTensorTypeAndShapeInfo, table, 99);
  Bind(api.ReleaseSessionOptions, table, 100);
  Bind(api.GetTensorData, table, 378);
  return api;
}

std::string RuntimeVersion() {
  const OrtApiBase* base = OrtGetApiBase();
  const char* version = base != nullptr ? base->GetVersionString() : nullptr;
  return version != nullptr ? version : "unknown";
}

const Api& TheApi() {
  static const Api api = LoadApi(kApiVersion);
  return api;
}

void Check(OrtStatus* status) {
  if (status == nullptr) return;
  const Api& api = TheApi();
  std::string message = api.GetErrorMessage(status);
  int code = api.GetErrorCode(status);
  api.ReleaseStatus(status);
  throw ERuntimeError(message, code);
}

}  // namespace scrivane::ort
