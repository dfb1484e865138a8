#pragma once
// ONNX Runtime reached through its C API, with the library loaded at run time (dlopen). Only this
// module sees the runtime's header; callers get opaque sessions and the runtime's own messages
// (UTF-8 bytes). Everything here is for one caller at a time (the stem engine holds its lock).
#include <cstddef>
#include <cstdint>
#include <string>

// The runtime library's file name, as it lies beside the program.
inline constexpr const wchar_t* kOnnxRuntimeFileName = L"libonnxruntime.so.1";

enum class OnnxLoadResult { Ready, LibraryFailed, WrongVersion };

// Loads the runtime library at `path` and asks its OrtGetApiBase for the API table of
// `apiVersion`, with the runtime's telemetry off for the process (it sends nothing and stores no
// device identifier). Once per process: later calls return the first outcome whatever the path.
// LibraryFailed also when this build has no runtime header (the runtime could not be fetched).
OnnxLoadResult LoadOnnxRuntime(const std::wstring& path, uint32_t apiVersion);

// Creates the process's one runtime environment: logging at error level under `logId`, the
// language projection of the runtime's C++ wrapper, telemetry off. Needs LoadOnnxRuntime's Ready.
// Idempotent once it succeeded. False with the runtime's message in *error.
bool CreateOnnxEnvironment(const char* logId, std::string* error);

struct OnnxSession;  // one loaded model and the names of its first input and first output

struct OnnxSessionSetup {
  bool useGpu = false;     // the DirectML provider, which the Linux runtime does not have
  int intraOpThreads = 1;  // CPU: threads of one operator
};

// Loads a model file into a session with graph optimisation "all". GPU: memory pattern off,
// sequential execution and the DirectML provider; on a runtime without it the runtime's own
// message comes back. Null on failure with the message in *error. Needs the environment.
OnnxSession* CreateOnnxSession(const std::wstring& modelPath, const OnnxSessionSetup& setup,
                               std::string* error);
void ReleaseOnnxSession(OnnxSession* session);

enum class OnnxRunStatus { Ok, Failed, WrongOutputSize, WrongOutputType };

// Runs the session once on one float tensor of `shape` (rank values) that wraps `input` without a
// copy (the runtime only reads it; `input` holds the product of the shape floats) and copies the
// first output into output[0..count). WrongOutputSize / WrongOutputType: the output is not
// `count` floats, and `output` is untouched. Failed: the runtime's message in *error.
OnnxRunStatus RunOnnxSession(OnnxSession* session, const int64_t* shape, size_t rank,
                             const float* input, float* output, size_t count, std::string* error);
