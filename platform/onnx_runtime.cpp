#include "platform/onnx_runtime.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/sanitizers.h"
#include "platform/text.h"
#include "platform/thread_priority.h"

#if __has_include(<onnxruntime_c_api.h>)
#define VELDMIX_HAS_ONNX_HEADER 1
#include <onnxruntime_c_api.h>
#else
#define VELDMIX_HAS_ONNX_HEADER 0
#endif

#if VELDMIX_HAS_ONNX_HEADER

namespace {

// The runtime's API table and environment live until the process ends: releasing them from static
// destructors would race the runtime's own teardown, and nothing is gained at exit.
struct OnnxState {
  std::mutex lock;
  bool tried = false;
  OnnxLoadResult loaded = OnnxLoadResult::LibraryFailed;
  uint32_t apiVersion = 0;
  const OrtApi* api = nullptr;
  OrtEnv* env = nullptr;
  OrtMemoryInfo* cpuMemory = nullptr;
};

OnnxState& State() {
  static OnnxState* state = new OnnxState;  // never destroyed, see above
  return *state;
}

// Takes the message out of a failed status and frees it; true when there was no failure.
bool Check(const OrtApi* api, OrtStatus* status, std::string* error) {
  if (status == nullptr) return true;
  if (error) *error = api->GetErrorMessage(status);
  api->ReleaseStatus(status);
  return false;
}

}  // namespace

struct OnnxSession {
  OrtSession* session = nullptr;
  std::string inputName;
  std::string outputName;
};

OnnxLoadResult LoadOnnxRuntime(const std::wstring& path, uint32_t apiVersion) {
  OnnxState& s = State();
  std::lock_guard<std::mutex> hold(s.lock);
  if (s.tried) return s.loaded;
  s.tried = true;
  // Official builds send usage events to their vendor from threads of their own and keep a device
  // identifier in the user's cache, unless this is set when the library starts: the API's switch
  // comes only after the environment, too late for either.
  setenv("ORT_DISABLE_TELEMETRY", "1", 1);
  // RTLD_LOCAL keeps the runtime's many symbols out of the program's namespace.
  void* library = dlopen(PathToBytes(path).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return s.loaded = OnnxLoadResult::LibraryFailed;
  using GetApiBase = const OrtApiBase* (*)();
  auto getApiBase = reinterpret_cast<GetApiBase>(dlsym(library, "OrtGetApiBase"));
  if (getApiBase == nullptr) return s.loaded = OnnxLoadResult::LibraryFailed;
  const OrtApiBase* base = getApiBase();
  // The table of an older API version is a prefix of this header's table, so asking for the
  // version the caller needs (not the header's) keeps older runtimes usable.
  const OrtApi* api = base ? base->GetApi(apiVersion) : nullptr;
  if (api == nullptr) return s.loaded = OnnxLoadResult::WrongVersion;
  s.api = api;
  s.apiVersion = apiVersion;
  return s.loaded = OnnxLoadResult::Ready;
}

bool CreateOnnxEnvironment(const char* logId, std::string* error) {
  OnnxState& s = State();
  std::lock_guard<std::mutex> hold(s.lock);
  if (s.api == nullptr) {
    if (error) *error = "the runtime is not loaded";
    return false;
  }
  if (s.env != nullptr) return true;
  const OrtApi* api = s.api;
  OrtEnv* env = nullptr;
  if (!Check(api, api->CreateEnv(ORT_LOGGING_LEVEL_ERROR, logId, &env), error)) return false;
  OrtMemoryInfo* memory = nullptr;
  if (!Check(api, api->SetLanguageProjection(env, ORT_PROJECTION_CPLUSPLUS), error) ||
      !Check(api, api->DisableTelemetryEvents(env), error) ||
      !Check(api, api->CreateCpuMemoryInfo(OrtArenaAllocator, OrtMemTypeDefault, &memory), error)) {
    api->ReleaseEnv(env);
    return false;
  }
  s.env = env;
  s.cpuMemory = memory;
  return true;
}

namespace {

// The runtime's worker threads run below normal priority, whichever thread built the session.
OrtCustomThreadHandle StartLowPriorityThread(void*, OrtThreadWorkerFn work, void* param) {
  try {
    auto* thread = new std::thread([work, param] {
      LowerThreadPriority();
      work(param);
    });
    return reinterpret_cast<OrtCustomThreadHandle>(thread);
  } catch (const std::exception&) {
    return nullptr;  // the runtime reports that it could not start its thread
  }
}

void JoinLowPriorityThread(OrtCustomThreadHandle handle) {
  auto* thread = reinterpret_cast<std::thread*>(const_cast<OrtCustomHandleType*>(handle));
  thread->join();
  delete thread;
}

bool ApplySetup(const OrtApi* api, uint32_t apiVersion, OrtSessionOptions* options,
                const OnnxSessionSetup& setup, std::string* error) {
  if (!Check(api, api->SetSessionGraphOptimizationLevel(options, ORT_ENABLE_ALL), error)) return false;
  if (!Check(api, api->SessionOptionsSetCustomCreateThreadFn(options, StartLowPriorityThread), error) ||
      !Check(api, api->SessionOptionsSetCustomJoinThreadFn(options, JoinLowPriorityThread), error)) {
    return false;
  }
  if (!setup.useGpu) {
    // The runtime is built without ThreadSanitizer, which cannot see its pool hand work between
    // threads and would report every handover: checked builds run it on the calling thread.
    if constexpr (kThreadSanitizerBuild) {
      return Check(api, api->SetIntraOpNumThreads(options, 1), error) &&
             Check(api, api->SetInterOpNumThreads(options, 1), error);
    }
    return Check(api, api->SetIntraOpNumThreads(options, setup.intraOpThreads), error);
  }
  if (!Check(api, api->DisableMemPattern(options), error) ||
      !Check(api, api->SetSessionExecutionMode(options, ORT_SEQUENTIAL), error)) {
    return false;
  }
  const void* dml = nullptr;
  if (!Check(api, api->GetExecutionProviderApi("DML", apiVersion, &dml), error)) return false;
  // A runtime that offers DirectML needs its provider header, which only Windows builds carry.
  if (error) *error = "the DirectML execution provider is not supported on this system";
  return false;
}

// The names of the session's first input and output, copied out of the runtime's allocator.
bool ReadIoNames(const OrtApi* api, OrtSession* session, std::string* input, std::string* output,
                 std::string* error) {
  size_t inputs = 0, outputs = 0;
  if (!Check(api, api->SessionGetInputCount(session, &inputs), error) ||
      !Check(api, api->SessionGetOutputCount(session, &outputs), error)) {
    return false;
  }
  if (inputs < 1 || outputs < 1) {
    if (error) *error = "the model has no input or no output";
    return false;
  }
  OrtAllocator* allocator = nullptr;
  if (!Check(api, api->GetAllocatorWithDefaultOptions(&allocator), error)) return false;
  char* name = nullptr;
  if (!Check(api, api->SessionGetInputName(session, 0, allocator, &name), error)) return false;
  *input = name;
  Check(api, api->AllocatorFree(allocator, name), nullptr);
  name = nullptr;
  if (!Check(api, api->SessionGetOutputName(session, 0, allocator, &name), error)) return false;
  *output = name;
  Check(api, api->AllocatorFree(allocator, name), nullptr);
  return true;
}

}  // namespace

OnnxSession* CreateOnnxSession(const std::wstring& modelPath, const OnnxSessionSetup& setup,
                               std::string* error) {
  OnnxState& s = State();
  std::lock_guard<std::mutex> hold(s.lock);
  if (s.env == nullptr) {
    if (error) *error = "the runtime environment does not exist";
    return nullptr;
  }
  const OrtApi* api = s.api;
  OrtSessionOptions* options = nullptr;
  if (!Check(api, api->CreateSessionOptions(&options), error)) return nullptr;
  OrtSession* session = nullptr;
  const bool made = ApplySetup(api, s.apiVersion, options, setup, error) &&
                    Check(api, api->CreateSession(s.env, PathToBytes(modelPath).c_str(), options, &session),
                          error);
  api->ReleaseSessionOptions(options);
  if (!made) return nullptr;
  auto* result = new OnnxSession;
  result->session = session;
  if (!ReadIoNames(api, session, &result->inputName, &result->outputName, error)) {
    api->ReleaseSession(session);
    delete result;
    return nullptr;
  }
  return result;
}

void ReleaseOnnxSession(OnnxSession* session) {
  if (session == nullptr) return;
  const OrtApi* api = State().api;
  if (api && session->session) api->ReleaseSession(session->session);
  delete session;
}

OnnxRunStatus RunOnnxSession(OnnxSession* session, const int64_t* shape, size_t rank,
                             const float* input, float* output, size_t count, std::string* error) {
  OnnxState& s = State();
  const OrtApi* api = s.api;
  if (api == nullptr || session == nullptr || s.cpuMemory == nullptr) {
    if (error) *error = "the runtime is not ready";
    return OnnxRunStatus::Failed;
  }
  size_t elements = 1;
  for (size_t i = 0; i < rank; ++i) elements *= static_cast<size_t>(shape[i]);
  OrtValue* in = nullptr;
  // The runtime never writes an input tensor; its API only lacks the const.
  if (!Check(api,
             api->CreateTensorWithDataAsOrtValue(s.cpuMemory, const_cast<float*>(input),
                                                 elements * sizeof(float), shape, rank,
                                                 ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT, &in),
             error)) {
    return OnnxRunStatus::Failed;
  }
  const char* inName = session->inputName.c_str();
  const char* outName = session->outputName.c_str();
  OrtValue* out = nullptr;
  const bool ran = Check(api, api->Run(session->session, nullptr, &inName, &in, 1, &outName, 1, &out), error);
  api->ReleaseValue(in);
  if (!ran) return OnnxRunStatus::Failed;

  OnnxRunStatus status = OnnxRunStatus::Failed;
  OrtTensorTypeAndShapeInfo* info = nullptr;
  size_t outCount = 0;
  ONNXTensorElementDataType type = ONNX_TENSOR_ELEMENT_DATA_TYPE_UNDEFINED;
  void* data = nullptr;
  if (Check(api, api->GetTensorTypeAndShape(out, &info), error)) {
    const bool described = Check(api, api->GetTensorShapeElementCount(info, &outCount), error) &&
                           Check(api, api->GetTensorElementType(info, &type), error);
    api->ReleaseTensorTypeAndShapeInfo(info);
    if (described) {
      if (outCount != count) {
        status = OnnxRunStatus::WrongOutputSize;
      } else if (type != ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT) {
        status = OnnxRunStatus::WrongOutputType;
      } else if (Check(api, api->GetTensorMutableData(out, &data), error)) {
        if (count > 0) std::copy_n(static_cast<const float*>(data), count, output);
        status = OnnxRunStatus::Ok;
      }
    }
  }
  api->ReleaseValue(out);
  return status;
}

#else  // no runtime header in this build: stems are not available

struct OnnxSession {};

OnnxLoadResult LoadOnnxRuntime(const std::wstring&, uint32_t) { return OnnxLoadResult::LibraryFailed; }

bool CreateOnnxEnvironment(const char*, std::string* error) {
  if (error) *error = "this build has no ONNX Runtime support";
  return false;
}

OnnxSession* CreateOnnxSession(const std::wstring&, const OnnxSessionSetup&, std::string* error) {
  if (error) *error = "this build has no ONNX Runtime support";
  return nullptr;
}

void ReleaseOnnxSession(OnnxSession* session) { delete session; }

OnnxRunStatus RunOnnxSession(OnnxSession*, const int64_t*, size_t, const float*, float*, size_t,
                             std::string* error) {
  if (error) *error = "this build has no ONNX Runtime support";
  return OnnxRunStatus::Failed;
}

#endif
