#pragma once
// The stem models' signal path: a windowed-sinc resampler to and from 44.1 kHz, the STFT that
// turns a stereo chunk into the models' complex spectrogram and back, and Demix, which runs a
// whole track through a model chunk by chunk with the spectral work spread over threads. The model
// is an opaque callback from one spectrogram buffer to another: nothing here knows the runtime.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace StemDsp {

// One model's spectrogram. Buffer layout (the model's input and output): four planes, left real,
// left imaginary, right real, right imaginary; each plane dimF rows (bin) of dimT values (frame):
// value (plane p, bin f, frame t) at (p * dimF + f) * dimT + t, a [1, 4, dimF, dimT] tensor.
struct Geometry {
  int32_t nFft;  // FFT size, a product of powers of 2 and 3
  int32_t hop;   // samples between STFT frames
  int32_t dimF;  // bins 0..dimF-1 go to the model
  int32_t dimT;  // STFT frames per chunk
};

inline constexpr int32_t kPlanes = 4;
inline constexpr uint64_t kMaxThreads = 8;

// Derived sizes: chunk length L = (dimT - 1) * hop samples; pad = nFft / 2; chunk step
// S = L - 2 * pad (the output frames one chunk contributes); spectrogram = 4 * dimF * dimT floats.
inline int64_t ChunkLength(const Geometry& g) { return int64_t(g.dimT - 1) * g.hop; }
inline int64_t Pad(const Geometry& g) { return g.nFft / 2; }
inline int64_t ChunkStep(const Geometry& g) { return ChunkLength(g) - 2 * Pad(g); }
inline size_t SpectrogramFloats(const Geometry& g) { return size_t(kPlanes) * size_t(g.dimF) * size_t(g.dimT); }
// True when the sizes make sense: nFft >= 2 of only factors 2 and 3, hop >= 1, dimF in
// 1..nFft/2+1, dimT >= 2 and a chunk step of at least one frame (so every frame read is inside L).
bool ValidGeometry(const Geometry& g);

// A model run: fills `output` (SpectrogramFloats) from `input`; false stops the demix.
using Model = std::function<bool(const float* input, float* output)>;
// Progress of a demix as a fraction 0..1.
using Progress = std::function<void(double fraction)>;

// Runs interleaved stereo `input` (frames frames, any rate) through `model` in overlapping chunks.
// `out` is first resized to 2 * frames zeros, then filled with the model's output signal at the
// input's rate and length. True when every chunk went through; false when `cancel` was set (read
// before each batch and each model run) or the model returned false; `out` is then partial.
// The model runs on the calling thread, the STFTs on up to kMaxThreads threads per batch.
// Throws std::bad_alloc when memory runs out. An invalid geometry asserts (false in release).
bool Demix(const Geometry& geometry, const float* input, uint64_t frames, const Model& model,
           const std::atomic<bool>& cancel, const Progress& progress, std::vector<float>& out);

// Band-limited interpolation with a Hann-windowed sinc: 2 * outFrames floats of interleaved
// stereo at outRate. Half-width ceil(32 / fc) input samples, fc = min(outRate / inRate, 1);
// weights are normalised by their sum, which also counts taps beyond the input's ends (so within
// the half-width of either end the output fades). Equal rates copy the input. Zeros for rates
// below 1. Work is split over up to kMaxThreads threads.
std::vector<float> Resample(const float* input, uint64_t inFrames, int32_t inRate, int32_t outRate,
                            uint64_t outFrames);

// Centred STFT of one chunk: left and right are L samples each; frames reach pad samples beyond
// the chunk, mirrored about its first and last sample. Writes SpectrogramFloats values.
void Stft(const Geometry& geometry, const float* left, const float* right, float* spectrogram);
// Windowed overlap-add normalised by the squared window: L samples per channel. Bins at or above
// dimF are zero; the imaginary parts of bin 0 and of the Nyquist bin are dropped.
void Istft(const Geometry& geometry, const float* spectrogram, float* left, float* right);

// In-place complex FFT of re/im (equal length n, a product of 2s and 3s). The forward transform is
// unscaled; the inverse conjugates before and after a forward transform (also unscaled).
void ComplexFft(std::vector<float>& re, std::vector<float>& im, bool inverse);
// The recursive core: transforms n values read at inRe/inIm with `stride` into outRe/outIm
// (contiguous), radix 3 when n is odd, else 2; twiddles of the top-level size N are taken with
// twStride = N / n.
void Fft(const float* inRe, const float* inIm, size_t stride, size_t n, float* outRe, float* outIm,
         const float* twCos, const float* twSin, size_t twStride);

// Per-thread caches, built on first use for a size and kept for the thread's life.
// The periodic Hann window w[k] = 0.5 - 0.5 cos(2 pi k / n).
const std::vector<float>& Window(int32_t n);
struct TwiddleTable {
  std::vector<float> cos, sin;  // of -2 pi k / n for k < n, computed in double
};
const TwiddleTable& Twiddles(int32_t n);

// Runs fn(0) on the calling thread and fn(1..count-1) on one new thread each, then joins all.
// An index whose thread cannot start runs on the calling thread. The first exception thrown by
// any fn is rethrown here after every thread has joined.
void ParallelFor(int32_t count, const std::function<void(int32_t)>& fn);

// Worker threads for one call: the hardware threads capped at kMaxThreads, at least 1.
int32_t WorkerCount();

}  // namespace StemDsp
