#include <cstdio>
#include <string>
#include <vector>

#include "karaoke/lrc.h"
#include "karaoke/lyrics.h"
#include "karaoke/lyrics_sources.h"
#include "platform/text.h"
#include "tools/veldmix-tool/commands.h"

namespace {

void PrintWide(const std::wstring& text) { std::fputs(WideToUtf8(text).c_str(), stdout); }

// lyrics find TRACK: the kind, the source text, then the words as LRC (or the CD+G size).
int RunFind(const std::vector<std::string>& args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: veldmix-tool lyrics find TRACK\n");
    return 2;
  }
  const Lyrics lyrics = FindLyrics(Utf8ToWide(args[0]));
  if (lyrics.kind == LyricsKind::None) {
    std::fprintf(stderr, "veldmix-tool lyrics: No words found for this track\n");
    return 1;
  }
  std::printf("kind: %s\nsource: %s\n", LyricsKindName(lyrics.kind), WideToUtf8(lyrics.source).c_str());
  if (lyrics.cdg) std::printf("cdg: %zu bytes\n", lyrics.cdg->size());
  if (!lyrics.lines.empty()) PrintWide(WriteLrc(lyrics));
  return 0;
}

// lyrics cache-path TRACK
int RunCachePath(const std::vector<std::string>& args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: veldmix-tool lyrics cache-path TRACK\n");
    return 2;
  }
  PrintWide(LyricsCachePath(Utf8ToWide(args[0])) + L"\n");
  return 0;
}

// lyrics save TRACK FILE.lrc: the file's timed words become the track's cache file.
int RunSave(const std::vector<std::string>& args) {
  if (args.size() != 2) {
    std::fprintf(stderr, "usage: veldmix-tool lyrics save TRACK FILE.lrc\n");
    return 2;
  }
  const std::wstring track = Utf8ToWide(args[0]);
  const Lyrics lyrics = ParseLrc(ReadLyricsText(Utf8ToWide(args[1])));
  if (!IsTimedLyrics(lyrics.kind) || lyrics.lines.empty()) {
    std::fprintf(stderr, "veldmix-tool lyrics: \"%s\" holds no timed lines — only timed lyrics are saved\n",
                 args[1].c_str());
    return 1;
  }
  if (!SaveLyrics(track, lyrics)) {
    std::fprintf(stderr, "veldmix-tool lyrics: couldn't write \"%s\"\n", WideToUtf8(LyricsCachePath(track)).c_str());
    return 1;
  }
  PrintWide(LyricsCachePath(track) + L"\n");
  return 0;
}

// The lyrics subcommands; the online lookup and automatic timing add their rows here.
const ToolCommand kLyricsSubcommands[] = {
    {"find", "TRACK", "the words found on this computer: kind, source, LRC", RunFind},
    {"cache-path", "TRACK", "the track's file in the lyrics cache", RunCachePath},
    {"save", "TRACK FILE.lrc", "store an LRC file's timed words in the track's cache", RunSave},
};

int RunLyrics(const std::vector<std::string>& args) {
  if (!args.empty())
    for (const ToolCommand& sub : kLyricsSubcommands)
      if (args[0] == sub.name) return sub.run(std::vector<std::string>(args.begin() + 1, args.end()));
  std::fprintf(stderr, "usage:\n");
  for (const ToolCommand& sub : kLyricsSubcommands)
    std::fprintf(stderr, "  veldmix-tool lyrics %-10s %-16s %s\n", sub.name, sub.usage, sub.summary);
  return 2;
}

}  // namespace

const ToolCommand kLyricsCommands[] = {
    {"lyrics", "find|cache-path|save TRACK ...", "find, locate or store a track's lyrics", RunLyrics},
};
const int kLyricsCommandCount = static_cast<int>(sizeof kLyricsCommands / sizeof kLyricsCommands[0]);
