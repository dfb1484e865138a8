// veldmix-tool render SCRIPT OUT.wav: an offline render of the real mixer from a script.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/render_script.h"
#include "engine/wav_file.h"
#include "platform/files.h"
#include "platform/text.h"
#include "tools/veldmix-tool/commands.h"

namespace {

constexpr size_t kMaxScriptBytes = size_t(1) << 20;

constexpr const char kRenderHelp[] =
    "usage: veldmix-tool render SCRIPT OUT.wav\n"
    "Renders the mix described by SCRIPT through the real mixer and writes a 16-bit stereo WAV.\n"
    "\n"
    "Script: one statement per line; '#' starts a comment. Decks are A-D; times are seconds.\n"
    "  rate HZ                      device rate, 8000..192000 (default 48000)\n"
    "  period FRAMES                frames per render call, 16..8192 (default 480)\n"
    "  duration SECONDS             length of the render, up to 600 (required)\n"
    "  [at SECONDS] COMMAND ARGS    applied before the first period starting at or after SECONDS\n"
    "Commands:\n"
    "  load DECK FILE               any audio file a deck plays (WAV, MP3, FLAC, ...); relative\n"
    "                               to the script's folder; refused while the deck plays\n"
    "  play DECK | pause DECK\n"
    "  seek DECK SECONDS\n"
    "  tempo DECK PERCENT           -50..50\n"
    "  keylock DECK on|off\n"
    "  keyshift DECK SEMITONES      -24..24\n"
    "  eq DECK high|mid|low VALUE   0..1, 0.5 neutral\n"
    "  gain DECK VALUE              0..1, 0.5 = 0 dB\n"
    "  filter DECK VALUE            -1..1, 0 off\n"
    "  fader DECK VALUE             0..1\n"
    "  fx DECK on|off EFFECT        e.g. ECHO, REVERB, FLANGER, AUTO-WAH, DUB ECHO\n"
    "  fx DECK amount EFFECT VALUE  0..1\n"
    "  fx DECK param EFFECT VALUE   beats, 0..64 (0 = default)\n"
    "  xfader VALUE                 0..1\n"
    "  xfcurve linear|cut|power\n"
    "  xfassign DECK left|through|right\n"
    "  loop DECK in|out [SECONDS]   without SECONDS: the deck's position\n"
    "  loop DECK on|off\n"
    "  master VALUE                 master volume 0..1 (0.8 = unity)\n"
    "  stems DECK                   separate the deck's track with the models in \"Models\" beside\n"
    "                               the program (the render waits); every deck with the track\n"
    "                               takes the stems\n"
    "  stemgain DECK vocals|drums|bass|melody VALUE   0..1\n"
    "  kick DECK VALUE | hat DECK VALUE               0..1: KICK / HI-HAT in the drums stem\n"
    "  fx DECK target vocals|drums|bass|melody|all    what the deck effects act on\n"
    "  stempreset DECK none|vocals|instrumental       through the stems once they are attached,\n"
    "                                                 else through the voice band\n"
    "Errors print \"line N: ...\" and exit 1.\n";

std::wstring FolderOf(const std::wstring& path) {
  const size_t slash = path.rfind(L'/');
  return slash == std::wstring::npos ? L"." : path.substr(0, slash == 0 ? 1 : slash);
}

int RunRenderCommand(const std::vector<std::string>& args) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::fputs(kRenderHelp, stdout);
    return 0;
  }
  if (args.size() != 2) {
    std::fputs(kRenderHelp, stderr);
    return 2;
  }
  const std::wstring scriptPath = PathFromBytes(args[0]);
  std::string text;
  switch (ReadBytes(scriptPath, &text, kMaxScriptBytes)) {
    case ReadStatus::Missing:
      std::fprintf(stderr, "veldmix-tool render: %s: no such file\n", args[0].c_str());
      return 1;
    case ReadStatus::Unreadable:
      std::fprintf(stderr, "veldmix-tool render: %s: cannot be read (or is larger than 1 MiB)\n", args[0].c_str());
      return 1;
    case ReadStatus::Ok:
      break;
  }
  RenderScript script;
  std::string error;
  if (!ParseRenderScript(text, FolderOf(scriptPath), script, error)) {
    std::fprintf(stderr, "veldmix-tool render: %s\n", error.c_str());
    return 1;
  }
  std::vector<float> mix;
  if (!RunRenderScript(Engine, script, mix, error)) {
    std::fprintf(stderr, "veldmix-tool render: %s\n", error.c_str());
    return 1;
  }
  std::wstring why;
  if (!WriteWavFile(PathFromBytes(args[1]), mix.data(), mix.size() / 2, static_cast<uint32_t>(script.rate), &why)) {
    std::fprintf(stderr, "veldmix-tool render: %s: the WAV file could not be written (%s)\n", args[1].c_str(),
                 WideToUtf8(why).c_str());
    return 1;
  }
  return 0;
}

}  // namespace

const ToolCommand kRenderCommands[] = {
    {"render", "SCRIPT OUT.wav", "render a mix script through the mixer (render --help: syntax)", RunRenderCommand},
};
const int kRenderCommandCount = static_cast<int>(sizeof kRenderCommands / sizeof kRenderCommands[0]);
