#include <cstdio>

#include "base/text_parse.h"
#include "engine/builtin_sounds.h"
#include "engine/wav_file.h"
#include "platform/text.h"
#include "tools/veldmix-tool/commands.h"

namespace {

// builtin N OUT.wav: renders built-in sampler sound N (0..7) and writes it as a 16-bit WAV.
int RunBuiltinCommand(const std::vector<std::string>& args) {
  if (args.size() != 2) {
    std::fprintf(stderr, "usage: veldmix-tool builtin N OUT.wav\n");
    return 2;
  }
  int64_t n = -1;
  if (!ParseInteger(args[0], &n, 0, kBuiltinSoundCount - 1)) {
    std::fprintf(stderr, "veldmix-tool builtin: sound number must be 0 to %d, not \"%s\"\n",
                 kBuiltinSoundCount - 1, args[0].c_str());
    return 2;
  }
  std::wstring name;
  const TrackPtr sound = MakeBuiltinSound(static_cast<int32_t>(n), &name);
  std::wstring why;
  if (!WriteWavFile(PathFromBytes(args[1]), sound->samples.data(), sound->frames,
                    static_cast<uint32_t>(sound->sampleRate), &why)) {
    std::fprintf(stderr, "veldmix-tool builtin: cannot write \"%s\" (%s)\n", args[1].c_str(), WideToUtf8(why).c_str());
    return 1;
  }
  std::printf("%s: %llu frames at %d Hz\n", WideToUtf8(name).c_str(),
              static_cast<unsigned long long>(sound->frames), sound->sampleRate);
  return 0;
}

}  // namespace

const ToolCommand kSoundCommands[] = {
    {"builtin", "N OUT.wav", "write built-in sampler sound N (0-7) as a WAV file", RunBuiltinCommand},
};
const int kSoundCommandCount = static_cast<int>(sizeof kSoundCommands / sizeof kSoundCommands[0]);
