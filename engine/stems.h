#pragma once
// Stem separation: the stem engine (ONNX Runtime loaded from the program's folder, one session per
// model, built once per process), the model table, and SeparateStems, which turns a Track into
// 16-bit vocals, drums and bass at the track's own rate and length.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "base/track.h"
#include "engine/stem_data.h"
#include "engine/stem_dsp.h"

// The separated stems of one Track. A deck uses it only while its Track pointer and frame count
// equal `track` and `frames`.
struct StemData {
  const Track* track = nullptr;  // identity tag only, not owning
  uint64_t frames = 0;           // the track's frames at separation
  std::vector<int16_t> vocals;   // interleaved stereo, 2 x frames values, full scale 32767
  std::vector<int16_t> drums;
  std::vector<int16_t> bass;
};

// One stem model: its file in "Models" beside the program and its spectrogram.
struct StemModel {
  const wchar_t* file;
  StemDsp::Geometry geometry;
};

inline constexpr int kStemModelCount = 3;  // vocals, drums, bass: the StemData fields in order
inline constexpr int32_t kStemModelRateHz = 44100;
extern const StemModel kStemModels[kStemModelCount];

// Where the runtime library and the "Models" folder are looked for: the program's folder, unless
// SetStemProgramFolder chose another (tests; takes effect until the engine has been built).
std::wstring StemProgramFolder();
void SetStemProgramFolder(const std::wstring& folder);

// Whether the runtime library and the three models exist. On false, *error (when given) names the
// missing runtime, or else every missing model, and the folder where it belongs. Any thread.
bool StemModelsPresent(std::wstring* error);

// Builds the engine once per process: presence check (a failure leaves it unbuilt, so files
// installed later are found), runtime load, environment and sessions (GPU first, then the CPU).
// Later calls return the stored outcome. Takes the separation lock.
bool LoadStemEngine();

// Creates the three sessions from `programFolder`/Models, replacing earlier ones. False with the
// runtime's message in *error at the first session that fails. Under the separation lock.
bool OpenStemModels(const std::wstring& programFolder, bool useGpu, std::string* error);

// Runs model `model` (index into kStemModels) once: the input spectrogram is wrapped without a
// copy, the output copied. On failure *error is "The stem model failed: " and the reason.
bool RunStemModel(int model, const float* input, float* output, std::wstring* error);

// Separates `track` into vocals, drums and bass. Writes progress 0..1 (1/3 per model), reads
// `cancel` between chunks. Empty on failure or cancellation with the reason in `error` ("Cancelled"
// after a cancel; untouched when cancel was set before the start). *usedGpu tells whether the
// engine runs on the GPU. One separation at a time: a second caller waits. Worker thread only.
StemDataPtr SeparateStems(const Track& track, std::atomic<float>& progress, const std::atomic<bool>& cancel,
                          std::wstring& error, bool* usedGpu);
