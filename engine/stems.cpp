#include "engine/stems.h"

#include <cmath>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "base/log.h"
#include "engine/engine.h"
#include "engine/wav_file.h"
#include "platform/folders.h"
#include "platform/onnx_runtime.h"
#include "platform/text.h"

const StemModel kStemModels[kStemModelCount] = {
    {.file = L"mdx-vocals.onnx", .geometry = {.nFft = 6144, .hop = 1024, .dimF = 2048, .dimT = 256}},
    {.file = L"mdx-drums.onnx", .geometry = {.nFft = 4096, .hop = 1024, .dimF = 2048, .dimT = 128}},
    {.file = L"mdx-bass.onnx", .geometry = {.nFft = 16384, .hop = 1024, .dimF = 2048, .dimT = 256}},
};

namespace {

// The runtime API version the engine is written against (older runtimes lack its calls).
constexpr uint32_t kStemApiVersion = 24;
constexpr const char* kRuntimeLogId = "Veldmix";
constexpr const wchar_t* kModelsFolder = L"Models";
// Each model's progress stops short of its third; the last 5 % is converting and resampling.
constexpr double kDemixShare = 0.95;

struct StemEngine {
  bool tried = false;
  bool ready = false;
  bool onGpu = false;
  std::wstring error;
  OnnxSession* sessions[kStemModelCount] = {};
};

// Lives until the process ends, as the runtime's sessions do (see platform/onnx_runtime.cpp).
StemEngine& TheStemEngine() {
  static StemEngine* engine = new StemEngine;
  return *engine;
}

std::mutex& SeparationLock() {
  static std::mutex lock;
  return lock;
}

std::mutex gFolderLock;
std::wstring gProgramFolder;

std::wstring ModelPath(const std::wstring& folder, const StemModel& model) {
  return JoinPath(JoinPath(folder, kModelsFolder), model.file);
}

int CpuThreads() {
  const unsigned hardware = std::thread::hardware_concurrency();
  return hardware < 2 ? 1 : static_cast<int>(hardware / 2);
}

// Whether the runtime and the models lie in `folder`; else *error names the runtime when it is
// missing, or every missing model, and the folder they are looked for in. Neither comes with the
// program, so no reinstall brings them. The file names and the folder follow the words, so the
// words translate as a leading part.
bool FilesPresent(const std::wstring& folder, std::wstring* error) {
  const std::wstring runtimeName = kOnnxRuntimeFileName;
  if (!FileExists(JoinPath(folder, runtimeName))) {
    if (error)
      *error = L"Stems need ONNX Runtime, which is not included with Veldmix: put " + runtimeName + L" in " + folder;
    return false;
  }
  std::wstring missing;
  for (const StemModel& model : kStemModels)
    if (!FileExists(ModelPath(folder, model))) missing += (missing.empty() ? L"" : L", ") + std::wstring(model.file);
  if (missing.empty()) return true;
  if (error)
    *error = L"The stem models are not included with Veldmix: put the missing files in " +
             JoinPath(folder, kModelsFolder) + L": " + missing;
  return false;
}

// The engine build of LoadStemEngine; the caller holds the separation lock.
bool LoadStemEngineLocked() {
  StemEngine& engine = TheStemEngine();
  if (engine.tried) return engine.ready;
  const std::wstring folder = StemProgramFolder();
  if (!FilesPresent(folder, &engine.error)) return false;
  engine.tried = true;

  const std::wstring runtimeName = kOnnxRuntimeFileName;
  switch (LoadOnnxRuntime(JoinPath(folder, runtimeName), kStemApiVersion)) {
    case OnnxLoadResult::Ready:
      break;
    case OnnxLoadResult::LibraryFailed:
      engine.error = L"The stem engine (" + JoinPath(folder, runtimeName) + L") couldn't be loaded";
      return false;
    case OnnxLoadResult::WrongVersion:
      engine.error = L"The stem engine (" + JoinPath(folder, runtimeName) + L") is the wrong version";
      return false;
  }
  std::string message;
  bool started = CreateOnnxEnvironment(kRuntimeLogId, &message);
  if (started) {
    engine.onGpu = OpenStemModels(folder, true, &message);
    if (!engine.onGpu) started = OpenStemModels(folder, false, &message);
  }
  if (!started) {
    engine.error = L"The stem engine couldn't start: " + Utf8ToWide(message);
    WriteLog(L"Stems: {}", engine.error);
    return false;
  }
  engine.ready = true;
  engine.error.clear();
  WriteLog(L"Stems: engine ready on the {}", engine.onGpu ? L"GPU (DirectML)" : L"CPU");
  return true;
}

}  // namespace

std::wstring StemProgramFolder() {
  std::lock_guard<std::mutex> hold(gFolderLock);
  return gProgramFolder.empty() ? ProgramFolder() : gProgramFolder;
}

void SetStemProgramFolder(const std::wstring& folder) {
  std::lock_guard<std::mutex> hold(gFolderLock);
  gProgramFolder = folder;
}

bool StemModelsPresent(std::wstring* error) { return FilesPresent(StemProgramFolder(), error); }

bool LoadStemEngine() {
  std::lock_guard<std::mutex> hold(SeparationLock());
  return LoadStemEngineLocked();
}

bool OpenStemModels(const std::wstring& programFolder, bool useGpu, std::string* error) {
  StemEngine& engine = TheStemEngine();
  const OnnxSessionSetup setup{.useGpu = useGpu, .intraOpThreads = CpuThreads()};
  for (int i = 0; i < kStemModelCount; ++i) {
    OnnxSession* session = CreateOnnxSession(ModelPath(programFolder, kStemModels[i]), setup, error);
    if (session == nullptr) return false;
    ReleaseOnnxSession(engine.sessions[i]);
    engine.sessions[i] = session;
  }
  return true;
}

bool RunStemModel(int model, const float* input, float* output, std::wstring* error) {
  const StemDsp::Geometry& g = kStemModels[model].geometry;
  const int64_t shape[4] = {1, StemDsp::kPlanes, g.dimF, g.dimT};
  std::string message;
  const OnnxRunStatus status = RunOnnxSession(TheStemEngine().sessions[model], shape, 4, input, output,
                                              StemDsp::SpectrogramFloats(g), &message);
  std::wstring reason;
  switch (status) {
    case OnnxRunStatus::Ok:
      return true;
    case OnnxRunStatus::Failed:
      reason = Utf8ToWide(message);
      break;
    case OnnxRunStatus::WrongOutputSize:
      reason = L"unexpected output size";
      break;
    case OnnxRunStatus::WrongOutputType:
      reason = L"unexpected output type";
      break;
  }
  if (error) *error = L"The stem model failed: " + reason;
  return false;
}

StemDataPtr SeparateStems(const Track& track, std::atomic<float>& progress, const std::atomic<bool>& cancel,
                          std::wstring& error, bool* usedGpu) {
  AssertNotAudioThread();
  std::lock_guard<std::mutex> hold(SeparationLock());
  progress.store(0.0f);
  if (cancel.load()) return nullptr;
  if (!LoadStemEngineLocked()) {
    error = TheStemEngine().error;
    return nullptr;
  }
  if (usedGpu) *usedGpu = TheStemEngine().onGpu;
  const uint64_t frames = track.frames;
  if (frames == 0 || track.samples.size() / 2 < frames || track.sampleRate < 1) {
    error = L"This track has no audio loaded";
    return nullptr;
  }
  try {
    const bool resample = track.sampleRate != kStemModelRateHz;
    std::vector<float> resampled;
    const float* input = track.samples.data();
    uint64_t frames44 = frames;
    if (resample) {
      frames44 = static_cast<uint64_t>(std::llround(static_cast<double>(frames) * kStemModelRateHz /
                                                    track.sampleRate));
      resampled = StemDsp::Resample(input, frames, track.sampleRate, kStemModelRateHz, frames44);
      input = resampled.data();
    }
    auto stems = std::make_shared<StemData>();
    stems->track = &track;
    stems->frames = frames;
    std::vector<int16_t>* targets[kStemModelCount] = {&stems->vocals, &stems->drums, &stems->bass};
    std::vector<float> separated;
    for (int i = 0; i < kStemModelCount; ++i) {
      std::wstring modelError;
      auto model = [&](const float* in, float* out) { return RunStemModel(i, in, out, &modelError); };
      auto report = [&](double fraction) {
        progress.store(static_cast<float>((i + kDemixShare * fraction) / kStemModelCount));
      };
      if (!StemDsp::Demix(kStemModels[i].geometry, input, frames44, model, cancel, report, separated)) {
        error = cancel.load() ? L"Cancelled" : modelError;
        return nullptr;
      }
      if (resample) {
        separated = StemDsp::Resample(separated.data(), frames44, kStemModelRateHz, track.sampleRate, frames);
      }
      std::vector<int16_t>& stem = *targets[i];
      stem.resize(2 * frames);
      for (uint64_t k = 0; k < 2 * frames; ++k) stem[k] = WavSampleFromFloat(separated[k]);
      progress.store(static_cast<float>(i + 1) / kStemModelCount);
    }
    return stems;
  } catch (const std::bad_alloc&) {
    error = L"There isn't enough memory to separate this track";
    return nullptr;
  }
}
