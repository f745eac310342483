#pragma once
// The part of ONNX Runtime's C function table the engine uses, declared from
// the table's slot numbers (each slot an 8-byte function pointer). Every
// object type is opaque; a returned status pointer is null on success.
#include <cstddef>
#include <cstdint>
#include <string>

extern "C" {
struct OrtStatus;
struct OrtEnv;
struct OrtSession;
struct OrtSessionOptions;
struct OrtRunOptions;
struct OrtAllocator;
struct OrtMemoryInfo;
struct OrtValue;
struct OrtTypeInfo;
struct OrtTensorTypeAndShapeInfo;

struct OrtApiBase {
  const void* (*GetApi)(std::uint32_t version);  // null when the version is not offered
  const char* (*GetVersionString)();
};

const OrtApiBase* OrtGetApiBase();
}

namespace scrivane::ort {

constexpr std::uint32_t kApiVersion = 29;

constexpr int kLoggingLevelError = 3;
constexpr int kGraphOptimizationDisabled = 0;
constexpr int kGraphOptimizationExtended = 2;  // the highest level whose result does not depend on the CPU
constexpr int kGraphOptimizationAll = 99;
constexpr int kArenaAllocator = 1;
constexpr int kMemTypeDefault = 0;
constexpr int kElementFloat = 1;

// Named entries of the table, read once from their slots.
struct Api {
  int (*GetErrorCode)(const OrtStatus*);
  const char* (*GetErrorMessage)(const OrtStatus*);
  OrtStatus* (*CreateEnv)(int level, const char* logId, OrtEnv** out);
  OrtStatus* (*CreateSession)(const OrtEnv*, const char* modelPath, const OrtSessionOptions*, OrtSession** out);
  OrtStatus* (*Run)(OrtSession*, const OrtRunOptions*, const char* const* inputNames,
                    const OrtValue* const* inputs, std::size_t inputCount, const char* const* outputNames,
                    std::size_t outputCount, OrtValue** outputs);
  OrtStatus* (*CreateSessionOptions)(OrtSessionOptions** out);
  OrtStatus* (*SetSessionGraphOptimizationLevel)(OrtSessionOptions*, int level);
  OrtStatus* (*SetIntraOpNumThreads)(OrtSessionOptions*, int threads);
  // The session writes its optimised graph to this file while it is created.
  OrtStatus* (*SetOptimizedModelFilePath)(OrtSessionOptions*, const char* path);
  OrtStatus* (*SessionGetInputTypeInfo)(const OrtSession*, std::size_t index, OrtTypeInfo** out);
  OrtStatus* (*SessionGetOutputTypeInfo)(const OrtSession*, std::size_t index, OrtTypeInfo** out);
  OrtStatus* (*SessionGetInputName)(const OrtSession*, std::size_t index, OrtAllocator*, char** out);
  OrtStatus* (*SessionGetOutputName)(const OrtSession*, std::size_t index, OrtAllocator*, char** out);
  OrtStatus* (*CreateTensorWithDataAsOrtValue)(const OrtMemoryInfo*, void* data, std::size_t bytes,
                                               const std::int64_t* shape, std::size_t rank, int elementType,
                                               OrtValue** out);
  OrtStatus* (*IsTensor)(const OrtValue*, int* out);
  OrtStatus* (*CastTypeInfoToTensorInfo)(const OrtTypeInfo*, const OrtTensorTypeAndShapeInfo** out);
  OrtStatus* (*GetTensorElementType)(const OrtTensorTypeAndShapeInfo*, int* out);
  OrtStatus* (*GetDimensionsCount)(const OrtTensorTypeAndShapeInfo*, std::size_t* out);
  OrtStatus* (*GetDimensions)(const OrtTensorTypeAndShapeInfo*, std::int64_t* dims, std::size_t length);
  OrtStatus* (*GetTensorTypeAndShape)(const OrtValue*, OrtTensorTypeAndShapeInfo** out);
  OrtStatus* (*CreateCpuMemoryInfo)(int allocatorType, int memType, OrtMemoryInfo** out);
  OrtStatus* (*AllocatorFree)(OrtAllocator*, void* p);
  OrtStatus* (*GetAllocatorWithDefaultOptions)(OrtAllocator** out);
  void (*ReleaseEnv)(OrtEnv*);
  void (*ReleaseStatus)(OrtStatus*);
  void (*ReleaseMemoryInfo)(OrtMemoryInfo*);
  void (*ReleaseSession)(OrtSession*);
  void (*ReleaseValue)(OrtValue*);
  void (*ReleaseTypeInfo)(OrtTypeInfo*);
  void (*ReleaseTensorTypeAndShapeInfo)(OrtTensorTypeAndShapeInfo*);
  void (*ReleaseSessionOptions)(OrtSessionOptions*);
  OrtStatus* (*GetTensorData)(const OrtValue*, const void** out);
};

// The table of the given API version, read from the runtime linked into the
// process. Raises ERuntimeError when the runtime does not offer that version.
Api LoadApi(std::uint32_t version);
// The runtime's version text, e.g. "1.31.1".
std::string RuntimeVersion();
// The API 29 table, loaded on first use and kept for the process.
const Api& TheApi();
// Turns a non-null status into ERuntimeError (message and code), releasing it.
void Check(OrtStatus* status);

}  // namespace scrivane::ort
