#include <fmt/format.h>

#include <atomic>
#include <cstdio>

#include "base/musical_keys.h"
#include "engine/audio_file.h"
#include "engine/phrases.h"
#include "platform/text.h"
#include "tools/veldmix-tool/commands.h"

namespace {

// analyse FILE: decodes and analyses a file as a deck load does and prints one fact per line.
int RunAnalyseCommand(const std::vector<std::string>& args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: veldmix-tool analyse FILE\n");
    return 2;
  }
  std::atomic<float> progress{0.0f};
  std::wstring error;
  const TrackPtr track = DecodeFile(PathFromBytes(args[0]), &progress, &error, true);
  if (!track) {
    std::fprintf(stderr, "veldmix-tool analyse: %s: %s\n", args[0].c_str(), WideToUtf8(error).c_str());
    return 1;
  }
  fmt::print("frames: {} at {} Hz\n", track->frames, track->sampleRate);
  fmt::print("waveform points: {}\n", track->waveform.size());
  fmt::print("bpm: {:.2f}\n", track->bpm);
  fmt::print("first beat: {:.3f} s\n", track->firstBeat);
  if (track->key < 0) fmt::print("key: none\n");
  else fmt::print("key: {} ({})\n", WideToUtf8(KeyName(track->key, false)), WideToUtf8(KeyName(track->key, true)));
  fmt::print("loudness: {:.2f} dB\n", track->loudness);
  fmt::print("first sound: {:.3f} s\n", track->firstSound);
  std::string phrases;
  for (const Phrase& phrase : AnalyzePhrases(*track))
    phrases += fmt::format(" {}@{}", PhraseKindName(phrase.kind), phrase.beat);
  fmt::print("phrases:{}\n", phrases.empty() ? " none" : phrases);
  return 0;
}

}  // namespace

const ToolCommand kAnalysisCommands[] = {
    {"analyse", "FILE", "decode and analyse a file: tempo, first beat, key, loudness, phrases", RunAnalyseCommand},
};
const int kAnalysisCommandCount = static_cast<int>(sizeof kAnalysisCommands / sizeof kAnalysisCommands[0]);
