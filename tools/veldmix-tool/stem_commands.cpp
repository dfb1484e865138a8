#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "engine/audio_file.h"
#include "engine/stems.h"
#include "engine/wav_file.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/text.h"
#include "tools/veldmix-tool/commands.h"

namespace {

constexpr auto kProgressPoll = std::chrono::milliseconds(50);
const wchar_t* const kStemFiles[kStemModelCount] = {L"vocals.wav", L"drums.wav", L"bass.wav"};

// Set by SIGINT or SIGTERM: the separation stops at its next chunk.
std::atomic<bool> gCancel{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void CancelOnSignal(int) { gCancel.store(true); }

// One stem as a 16-bit stereo WAV file's bytes.
std::string StemWavBytes(const std::vector<int16_t>& stem, uint64_t frames, uint32_t rate) {
  std::string bytes(kWavHeaderBytes + frames * kWavBytesPerFrame, '\0');
  auto* out = reinterpret_cast<uint8_t*>(bytes.data());
  BuildWavHeader(out, rate, frames);
  out += kWavHeaderBytes;
  for (uint64_t i = 0; i < 2 * frames; ++i) {
    const auto v = static_cast<uint16_t>(stem[i]);
    out[2 * i] = static_cast<uint8_t>(v);
    out[2 * i + 1] = static_cast<uint8_t>(v >> 8);
  }
  return bytes;
}

// stems FILE OUTDIR: decodes FILE, separates it with the models beside the program and writes
// OUTDIR/vocals.wav, drums.wav and bass.wav, all or none. Progress goes to stderr; SIGINT or
// SIGTERM cancels the separation, which then writes nothing.
int RunStemsCommand(const std::vector<std::string>& args) {
  if (args.size() != 2) {
    std::fprintf(stderr, "usage: veldmix-tool stems FILE OUTDIR\n");
    return 2;
  }
  std::atomic<float> progress{0.0f};
  std::wstring error;
  const TrackPtr track = DecodeFile(PathFromBytes(args[0]), &progress, &error, false);
  if (!track) {
    std::fprintf(stderr, "veldmix-tool stems: %s: %s\n", args[0].c_str(), WideToUtf8(error).c_str());
    return 1;
  }
  if (track->frames > kWavMaxFrames || track->sampleRate < 1 ||
      static_cast<uint32_t>(track->sampleRate) > kWavMaxSampleRate) {
    std::fprintf(stderr, "veldmix-tool stems: %s: too long or an unusable rate for a WAV file\n", args[0].c_str());
    return 1;
  }

  std::signal(SIGINT, CancelOnSignal);
  std::signal(SIGTERM, CancelOnSignal);
  std::atomic<bool> done{false};
  StemDataPtr stems;
  bool usedGpu = false;
  progress.store(0.0f);
  std::thread worker([&] {
    stems = SeparateStems(*track, progress, gCancel, error, &usedGpu);
    done.store(true);
  });
  int shown = -1;
  while (!done.load()) {
    const int percent = static_cast<int>(progress.load() * 100.0f);
    if (percent != shown) std::fprintf(stderr, "stems: %d%%\n", shown = percent);
    std::this_thread::sleep_for(kProgressPoll);
  }
  worker.join();
  if (!stems) {
    // A cancel that came before the separation began leaves the error empty.
    if (error.empty() && gCancel.load()) error = L"Cancelled";
    std::fprintf(stderr, "veldmix-tool stems: %s\n", WideToUtf8(error).c_str());
    return 1;
  }

  const std::wstring folder = PathFromBytes(args[1]);
  if (!CreateFolderTree(folder)) {
    std::fprintf(stderr, "veldmix-tool stems: cannot create \"%s\"\n", args[1].c_str());
    return 1;
  }
  const std::vector<int16_t>* parts[kStemModelCount] = {&stems->vocals, &stems->drums, &stems->bass};
  for (int i = 0; i < kStemModelCount; ++i) {
    std::wstring why;
    const std::wstring path = JoinPath(folder, kStemFiles[i]);
    if (!WriteBytesAtomic(path, StemWavBytes(*parts[i], stems->frames, static_cast<uint32_t>(track->sampleRate)), &why)) {
      for (int j = 0; j < i; ++j) DeleteFileAt(JoinPath(folder, kStemFiles[j]));
      std::fprintf(stderr, "veldmix-tool stems: cannot write \"%s\": %s\n", WideToUtf8(path).c_str(),
                   WideToUtf8(why).c_str());
      return 1;
    }
  }
  std::printf("vocals.wav drums.wav bass.wav: %llu frames at %d Hz on the %s\n",
              static_cast<unsigned long long>(stems->frames), track->sampleRate, usedGpu ? "GPU" : "CPU");
  return 0;
}

}  // namespace

const ToolCommand kStemCommands[] = {
    {"stems", "FILE OUTDIR", "separate FILE into vocals, drums and bass WAV files in OUTDIR", RunStemsCommand},
};
const int kStemCommandCount = static_cast<int>(sizeof kStemCommands / sizeof kStemCommands[0]);
