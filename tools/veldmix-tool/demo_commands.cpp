#include <charconv>
#include <cstdio>
#include <string>
#include <vector>

#include "base/text_parse.h"
#include "engine/wav_file.h"
#include "platform/text.h"
#include "settings/demo_tracks.h"
#include "tools/veldmix-tool/commands.h"

namespace {

// demo N OUT.wav: demo track N (1 or 2) rendered and written as 16-bit stereo WAV.
int RunDemo(const std::vector<std::string>& args) {
  int64_t number = 0;
  bool ok = args.size() == 2;
  if (ok) {
    ok = ParseInteger(args[0], &number, 1, static_cast<int64_t>(DemoTrackSpecs.size()));
  }
  if (!ok) {
    std::fprintf(stderr, "usage: veldmix-tool demo N OUT.wav   (N is 1 to %zu)\n", DemoTrackSpecs.size());
    return 2;
  }
  const DemoTrackSpec& spec = DemoTrackSpecs[static_cast<size_t>(number - 1)];
  const DemoAudio audio = RenderDemoTrack(spec);
  std::wstring why;
  if (!WriteWavFile(PathFromBytes(args[1]), audio.samples.data(), audio.frames, kDemoSampleRate, &why)) {
    std::fprintf(stderr, "veldmix-tool demo: couldn't write \"%s\" (%s)\n", args[1].c_str(), WideToUtf8(why).c_str());
    return 1;
  }
  std::printf("%s: %zu frames at %u Hz\n", WideToUtf8(spec.title).c_str(), audio.frames, kDemoSampleRate);
  return 0;
}

// demo-tracks FOLDER: the demo-track job into FOLDER, as the tour's button runs it.
int RunDemoTracks(const std::vector<std::string>& args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: veldmix-tool demo-tracks FOLDER\n");
    return 2;
  }
  const std::wstring folder = PathFromBytes(args[0]);
  std::wstring error;
  std::vector<std::wstring> made;
  if (!MakeDemoTracks(folder, &made, &error)) {
    std::fprintf(stderr, "veldmix-tool demo-tracks: %s\n", WideToUtf8(error).c_str());
    return 1;
  }
  for (const std::wstring& path : made) std::printf("%s\n", PathToBytes(path).c_str());
  return 0;
}

}  // namespace

extern const ToolCommand kDemoCommands[] = {
    {"demo", "N OUT.wav", "writes demo track N (1 or 2) as a WAV file", RunDemo},
    {"demo-tracks", "FOLDER", "makes both demo tracks in FOLDER (MP3, tagged; WAV when MP3 fails)", RunDemoTracks},
};
extern const int kDemoCommandCount = sizeof(kDemoCommands) / sizeof(kDemoCommands[0]);
