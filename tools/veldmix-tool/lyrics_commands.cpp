#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "base/text_parse.h"
#include "engine/audio_file.h"
#include "engine/stems.h"
#include "karaoke/auto_timing.h"
#include "karaoke/lrc.h"
#include "karaoke/lyrics.h"
#include "karaoke/lyrics_online.h"
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
  const Lyrics lyrics = FindLyrics(PathFromBytes(args[0]));
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
  PrintWide(LyricsCachePath(PathFromBytes(args[0])) + L"\n");
  return 0;
}

// lyrics save TRACK FILE.lrc: the file's timed words become the track's cache file.
int RunSave(const std::vector<std::string>& args) {
  if (args.size() != 2) {
    std::fprintf(stderr, "usage: veldmix-tool lyrics save TRACK FILE.lrc\n");
    return 2;
  }
  const std::wstring track = PathFromBytes(args[0]);
  const Lyrics lyrics = ParseLrc(ReadLyricsText(PathFromBytes(args[1])));
  if (!IsTimedLyrics(lyrics.kind) || lyrics.lines.empty()) {
    std::fprintf(stderr, "veldmix-tool lyrics: \"%s\" holds no timed lines — only timed lyrics are saved\n",
                 args[1].c_str());
    return 1;
  }
  std::wstring why;
  if (!SaveLyrics(track, lyrics, &why)) {
    std::fprintf(stderr, "veldmix-tool lyrics: couldn't write \"%s\" (%s)\n",
                 WideToUtf8(LyricsCachePath(track)).c_str(), WideToUtf8(why).c_str());
    return 1;
  }
  PrintWide(LyricsCachePath(track) + L"\n");
  return 0;
}

// A whole argument as a finite number of seconds, at least 0.
bool ParseSeconds(const std::string& text, double* seconds) { return ParseNumber(text, seconds, 0.0); }

// The kind and source, then the words as LRC.
void PrintLyrics(const Lyrics& lyrics) {
  std::printf("kind: %s\nsource: %s\n", LyricsKindName(lyrics.kind), WideToUtf8(lyrics.source).c_str());
  if (!lyrics.lines.empty()) PrintWide(WriteLrc(lyrics));
}

// lyrics online ARTIST TITLE SECONDS: the answer of the online lyrics service (the server named by
// $VELDMIX_LRCLIB_SERVER, else the public one).
int RunOnline(const std::vector<std::string>& args) {
  double seconds = 0.0;
  if (args.size() != 3 || !ParseSeconds(args[2], &seconds)) {
    std::fprintf(stderr, "usage: veldmix-tool lyrics online ARTIST TITLE SECONDS\n");
    return 2;
  }
  UiText message;
  const Lyrics lyrics = LookUpLrclib(Utf8ToWide(args[0]), Utf8ToWide(args[1]), seconds, &message);
  if (lyrics.kind == LyricsKind::None) {
    std::fprintf(stderr, "veldmix-tool lyrics: %s\n", WideToUtf8(EnglishText(message)).c_str());
    return 1;
  }
  PrintLyrics(lyrics);
  return 0;
}

constexpr float kStemFullScale = 32767.0f;  // StemData's 16-bit full scale

// The WAV's samples as a 16-bit vocal stem of the track: cut or padded with silence to its length.
bool VocalStem(const std::string& path, const TrackPtr& track, StemData* stems) {
  std::wstring error;
  const TrackPtr vocal = DecodeFile(PathFromBytes(path), nullptr, &error, false);
  if (!vocal) {
    std::fprintf(stderr, "veldmix-tool lyrics: \"%s\": %s\n", path.c_str(), WideToUtf8(error).c_str());
    return false;
  }
  if (vocal->sampleRate != track->sampleRate) {
    std::fprintf(stderr, "veldmix-tool lyrics: the vocal stem runs at %d Hz, the track at %d Hz — they must match\n",
                 vocal->sampleRate, track->sampleRate);
    return false;
  }
  stems->track = track.get();
  stems->frames = track->frames;
  stems->vocals.assign(2 * track->frames, 0);
  const size_t copied = std::min(stems->vocals.size(), vocal->samples.size());
  for (size_t i = 0; i < copied; ++i)
    stems->vocals[i] = static_cast<int16_t>(std::lround(std::clamp(vocal->samples[i], -1.0f, 1.0f) * kStemFullScale));
  return true;
}

// lyrics autotime TEXTFILE TRACK [--vocal WAV]: the file's words timed against the track (and its
// vocal stem), as LRC.
int RunAutoTime(const std::vector<std::string>& args) {
  const bool withVocal = args.size() == 4 && args[2] == "--vocal";
  if (args.size() != 2 && !withVocal) {
    std::fprintf(stderr, "usage: veldmix-tool lyrics autotime TEXTFILE TRACK [--vocal WAV]\n");
    return 2;
  }
  Lyrics lyrics = ParseLrc(ReadLyricsText(PathFromBytes(args[0])));
  if (lyrics.lines.empty()) {
    std::fprintf(stderr, "veldmix-tool lyrics: \"%s\" holds no words\n", args[0].c_str());
    return 1;
  }
  std::wstring error;
  const TrackPtr track = DecodeFile(PathFromBytes(args[1]), nullptr, &error, true);
  if (!track) {
    std::fprintf(stderr, "veldmix-tool lyrics: \"%s\": %s\n", args[1].c_str(), WideToUtf8(error).c_str());
    return 1;
  }
  StemData stems;
  if (withVocal && !VocalStem(args[3], track, &stems)) return 1;
  AutoTimeLyrics(&lyrics, withVocal ? &stems : nullptr, *track);
  PrintLyrics(lyrics);
  return 0;
}

// The lyrics subcommands.
const ToolCommand kLyricsSubcommands[] = {
    {"find", "TRACK", "the words found on this computer: kind, source, LRC", RunFind},
    {"cache-path", "TRACK", "the track's file in the lyrics cache", RunCachePath},
    {"save", "TRACK FILE.lrc", "store an LRC file's timed words in the track's cache", RunSave},
    {"online", "ARTIST TITLE SECONDS", "ask the online lyrics service for a track's words", RunOnline},
    {"autotime", "TEXTFILE TRACK [--vocal WAV]", "guess line starts from the track and its vocal stem", RunAutoTime},
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
    {"lyrics", "find|cache-path|save|online|autotime ...", "find, fetch, time or store a track's lyrics", RunLyrics},
};
const int kLyricsCommandCount = static_cast<int>(sizeof kLyricsCommands / sizeof kLyricsCommands[0]);
