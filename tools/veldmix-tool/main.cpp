// veldmix-tool: run a piece of Veldmix from the shell, without a window.
#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "app/shell_hooks.h"
#include "base/files.h"
#include "platform/text.h"
#include "selftest/selftest_tick.h"
#include "tools/veldmix-tool/commands.h"

namespace {

const std::span<const ToolCommand> kTables[] = {
    {kFoundationCommands, static_cast<size_t>(kFoundationCommandCount)},
    {kSoundCommands, static_cast<size_t>(kSoundCommandCount)},
    {kRenderCommands, static_cast<size_t>(kRenderCommandCount)},
    {kAnalysisCommands, static_cast<size_t>(kAnalysisCommandCount)},
    {kMediaCommands, static_cast<size_t>(kMediaCommandCount)},
    {kLibraryScanCommands, static_cast<size_t>(kLibraryScanCommandCount)},
    {kStreamCommands, static_cast<size_t>(kStreamCommandCount)},
    {kPublishCommands, static_cast<size_t>(kPublishCommandCount)},
    {kVideoRecordCommands, static_cast<size_t>(kVideoRecordCommandCount)},
    {kStemCommands, static_cast<size_t>(kStemCommandCount)},
    {kAudioCommands, static_cast<size_t>(kAudioCommandCount)},
    {kLyricsCommands, static_cast<size_t>(kLyricsCommandCount)},
    {kCdgCommands, static_cast<size_t>(kCdgCommandCount)},
    {kKaraokeScreenCommands, static_cast<size_t>(kKaraokeScreenCommandCount)},
    {kScreenCommands, static_cast<size_t>(kScreenCommandCount)},
    {kDemoCommands, static_cast<size_t>(kDemoCommandCount)},
    {kMenuCommands, static_cast<size_t>(kMenuCommandCount)},
    {kLayoutCommands, static_cast<size_t>(kLayoutCommandCount)},
    {kVideoCommands, static_cast<size_t>(kVideoCommandCount)},
    {kLibraryViewCommands, static_cast<size_t>(kLibraryViewCommandCount)},
    {kVisualCommands, static_cast<size_t>(kVisualCommandCount)},
    {kArtCommands, static_cast<size_t>(kArtCommandCount)},
    {kAiCommands, static_cast<size_t>(kAiCommandCount)},
    {kImportCommands, static_cast<size_t>(kImportCommandCount)},
    {kUpdateCommands, static_cast<size_t>(kUpdateCommandCount)},
};

void PrintHelp(FILE* to) {
  std::fprintf(to, "usage: veldmix-tool COMMAND [ARGS...]\n\ncommands:\n");
  for (auto table : kTables)
    for (const ToolCommand& c : table) std::fprintf(to, "  %-10s %-34s %s\n", c.name, c.usage, c.summary);
}

// A command that wrote the program's files ends non-zero when one of those writes failed, naming
// the file and the cause, whatever it printed before.
int WithWriteFailures(const char* command, int status) {
  if (status != 0 || FailedWriteCount() == 0) return status;
  const FailedWrite last = LastFailedWrite();
  std::fprintf(stderr, "veldmix-tool %s: couldn't write %s (%s)\n", command, WideToUtf8(last.file).c_str(),
               WideToUtf8(last.error).c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  SetProcessLocale();
  InstallShellHooks();
  InstallSelfTestHooks();
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") ||
      !std::strcmp(argv[1], "help")) {
    PrintHelp(argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  std::vector<std::string> args(argv + 2, argv + argc);
  for (auto table : kTables)
    for (const ToolCommand& c : table)
      if (!std::strcmp(c.name, argv[1])) return WithWriteFailures(c.name, c.run(args));
  std::fprintf(stderr, "veldmix-tool: unknown command \"%s\" (see --help)\n", argv[1]);
  return 2;
}
