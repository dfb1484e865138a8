// karaoke screen|window|queue|up-next: the karaoke screen drawn from a record given as JSON, into
// PNG files or into the real window; the queue subcommands are in karaoke_queue_commands.cpp.
#include <cstdio>
#include <string>
#include <vector>

#include "base/json.h"
#include "base/text_file.h"
#include "base/text_parse.h"
#include "karaoke/karaoke_draw.h"
#include "karaoke/karaoke_window.h"
#include "karaoke/lyrics_sources.h"
#include "platform/clock.h"
#include "platform/second_window.h"
#include "platform/text.h"
#include "platform/window.h"
#include "tools/veldmix-tool/commands.h"
#include "tools/veldmix-tool/karaoke_commands.h"

namespace {

constexpr int kMaxRenderSide = 16384;
constexpr unsigned kWindowWaitMs = 16;

struct ScreenInput {
  KaraokeScreenInfo info = DefaultKaraokeScreenInfo();
  KaraokeSettings settings;
  double clock = 0.0;
};

bool Fail(const std::string& text) {
  std::fprintf(stderr, "veldmix-tool karaoke: %s\n", text.c_str());
  return false;
}

std::string Narrow(const std::wstring& s) { return WideToUtf8(s); }

// Reads the member when present; false (with a message) when it has the wrong kind.
bool Number(const JsonValue& object, const wchar_t* key, double* out) {
  const JsonValue* v = JsonFind(object, key);
  if (!v) return true;
  if (v->kind != 2) return Fail("\"" + Narrow(key) + "\" must be a number");
  *out = v->number;
  return true;
}
bool Integer(const JsonValue& object, const wchar_t* key, int32_t* out) {
  double d = *out;
  if (!Number(object, key, &d)) return false;
  if (d != static_cast<double>(static_cast<int32_t>(d))) return Fail("\"" + Narrow(key) + "\" must be a whole number");
  *out = static_cast<int32_t>(d);
  return true;
}
bool Float(const JsonValue& object, const wchar_t* key, float* out) {
  double d = *out;
  if (!Number(object, key, &d)) return false;
  *out = static_cast<float>(d);
  return true;
}
bool Flag(const JsonValue& object, const wchar_t* key, bool* out) {
  const JsonValue* v = JsonFind(object, key);
  if (!v) return true;
  if (v->kind != 1) return Fail("\"" + Narrow(key) + "\" must be true or false");
  *out = v->number != 0;
  return true;
}
bool Text(const JsonValue& object, const wchar_t* key, std::wstring* out) {
  const JsonValue* v = JsonFind(object, key);
  if (!v) return true;
  if (v->kind != 3) return Fail("\"" + Narrow(key) + "\" must be a string");
  *out = v->string;
  return true;
}
// A colour as 0xRRGGBB: a number, or a "#RRGGBB" string.
bool Colour(const JsonValue& object, const wchar_t* key, uint32_t* out) {
  const JsonValue* v = JsonFind(object, key);
  if (!v) return true;
  if (v->kind == 2 && v->number >= 0 && v->number <= 0xFFFFFF && v->number == static_cast<uint32_t>(v->number)) {
    *out = static_cast<uint32_t>(v->number);
    return true;
  }
  int64_t value = 0;
  if (v->kind == 3 && v->string.size() == 7 && v->string[0] == L'#') {
    std::wstring hex = v->string.substr(1);
    bool ok = true;
    for (wchar_t c : hex) ok = ok && ((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F'));
    if (ok) {
      value = std::stoll(hex, nullptr, 16);
      *out = static_cast<uint32_t>(value);
      return true;
    }
  }
  return Fail("\"" + Narrow(key) + "\" must be 0xRRGGBB as a number or a \"#RRGGBB\" string");
}

bool ReadInput(const std::string& file, ScreenInput* input) {
  bool unreadable = false;
  const std::wstring text = ReadTextFile(PathFromBytes(file), &unreadable);
  if (unreadable) return Fail("\"" + file + "\" can't be read");
  JsonValue root;
  if (!JsonParse(text, &root) || root.kind != 5) return Fail("\"" + file + "\" is not a JSON object");
  KaraokeScreenInfo& i = input->info;
  if (!Integer(root, L"mode", &i.mode) || !Text(root, L"path", &i.path) || !Number(root, L"position", &i.position) ||
      !Flag(root, L"playing", &i.playing) || !Number(root, L"duration", &i.duration) ||
      !Number(root, L"beatLength", &i.beatLength) || !Text(root, L"title", &i.title) ||
      !Text(root, L"artist", &i.artist) || !Text(root, L"singer", &i.singer) ||
      !Text(root, L"nextSinger", &i.nextSinger) || !Text(root, L"nextSong", &i.nextSong) ||
      !Float(root, L"beatPulse", &i.beatPulse) || !Float(root, L"bassLevel", &i.bassLevel) ||
      !Colour(root, L"accent1", &i.accent1) || !Colour(root, L"accent2", &i.accent2) ||
      !Number(root, L"clock", &input->clock))
    return false;
  if (const JsonValue* later = JsonFind(root, L"laterSingers")) {
    if (later->kind != 4) return Fail("\"laterSingers\" must be a list of names");
    for (const JsonValue& name : later->items) {
      if (name.kind != 3) return Fail("\"laterSingers\" must be a list of names");
      i.laterSingers.push_back(name.string);
    }
  }
  if (const JsonValue* k = JsonFind(root, L"karaoke")) {
    if (k->kind != 5) return Fail("\"karaoke\" must be an object of [Karaoke] keys");
    KaraokeSettings& s = input->settings;
    if (!Integer(*k, L"Background", &s.Background) || !Text(*k, L"BackgroundFile", &s.BackgroundFile) ||
        !Integer(*k, L"Dim", &s.Dim) || !Flag(*k, L"Blur", &s.Blur) || !Integer(*k, L"Palette", &s.Palette) ||
        !Integer(*k, L"TextSize", &s.TextSize) || !Flag(*k, L"Countdown", &s.Countdown) ||
        !Flag(*k, L"ShowNext", &s.ShowNext) || !Text(*k, L"Message", &s.Message))
      return false;
  }
  if (!i.path.empty()) {
    Lyrics found = FindLyrics(i.path);
    if (found.kind != LyricsKind::None) i.lyrics = std::make_shared<const Lyrics>(std::move(found));
  }
  return true;
}

// OUT.png with "-N" before the extension.
std::wstring NumberedPath(const std::wstring& path, size_t n) {
  const size_t slash = path.find_last_of(L'/');
  const size_t dot = path.find_last_of(L'.');
  const bool hasExtension = dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash);
  const std::wstring suffix = L"-" + std::to_wstring(n);
  return hasExtension ? path.substr(0, dot) + suffix + path.substr(dot) : path + suffix;
}

bool RenderOne(const std::wstring& out, int w, int h, const ScreenInput& input) {
  std::wstring error;
  const bool ok = w == 1280 && h == 720
                      ? RenderKaraokeScreenToBitmap(out, input.info, input.settings, input.clock, &error)
                      : RenderKaraokeScreenPng(out, w, h, input.info, input.settings, input.clock, &error);
  if (!ok) return Fail("\"" + WideToUtf8(out) + "\": " + WideToUtf8(error));
  std::printf("%s\n", WideToUtf8(out).c_str());
  return true;
}

// karaoke screen INFO.json OUT.png [--size WxH] [--at T1,T2,...]
int RunScreen(const std::vector<std::string>& args) {
  if (args.size() < 2) {
    std::fprintf(stderr, "usage: veldmix-tool karaoke screen INFO.json OUT.png [--size WxH] [--at T1,T2,...]\n");
    return 2;
  }
  int w = 1280, h = 720;
  std::vector<double> times;
  for (size_t a = 2; a < args.size(); a += 2) {
    if (a + 1 >= args.size()) return Fail(args[a] + " needs a value"), 2;
    const std::string& value = args[a + 1];
    if (args[a] == "--size") {
      const size_t x = value.find('x');
      int64_t pw = 0, ph = 0;
      if (x == std::string::npos || !ParseInteger(value.substr(0, x), &pw, 1, kMaxRenderSide) ||
          !ParseInteger(value.substr(x + 1), &ph, 1, kMaxRenderSide))
        return Fail("--size wants WxH, each 1 to 16384"), 2;
      w = static_cast<int>(pw);
      h = static_cast<int>(ph);
    } else if (args[a] == "--at") {
      size_t from = 0;
      while (from <= value.size()) {
        const size_t comma = std::min(value.find(',', from), value.size());
        double t = 0;
        if (!ParseNumber(value.substr(from, comma - from), &t)) return Fail("--at wants seconds separated by commas"), 2;
        times.push_back(t);
        from = comma + 1;
      }
    } else {
      return Fail("unknown option " + args[a]), 2;
    }
  }
  ScreenInput input;
  if (!ReadInput(args[0], &input)) return 1;
  const std::wstring out = PathFromBytes(args[1]);
  if (times.empty()) return RenderOne(out, w, h, input) ? 0 : 1;
  for (size_t n = 0; n < times.size(); ++n) {
    input.info.position = times[n];
    if (!RenderOne(NumberedPath(out, n + 1), w, h, input)) return 1;
  }
  return 0;
}

// karaoke window INFO.json: the real window fed from the record until it is closed (F9, Esc in a
// window, its close button) or a stop signal.
int RunWindow(const std::vector<std::string>& args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: veldmix-tool karaoke window INFO.json\n");
    return 2;
  }
  ScreenInput input;
  if (!ReadInput(args[0], &input)) return 1;
  std::wstring error;
  if (!StartWindowing(&error)) return Fail("no display (" + WideToUtf8(error) + ")"), 1;
  OpenKaraokeWindow();
  if (!IsKaraokeScreenOpen()) {
    StopWindowing();
    return Fail("the karaoke window could not be opened"), 1;
  }
  std::printf("open%s\n", KaraokeScreenFullScreen() ? " full" : "");
  std::fflush(stdout);
  const double started = MonotonicSeconds();
  const double startPosition = input.info.position;
  WindowEvent event;
  while (IsKaraokeScreenOpen()) {
    KaraokeScreenInfo info = input.info;
    if (info.playing) info.position = startPosition + (MonotonicSeconds() - started);
    PushKaraokeScreenInfo(info, input.settings);
    if (!NextWindowEvent(&event, kWindowWaitMs)) break;
    PumpSecondWindows();
  }
  CloseKaraokeWindow();
  StopWindowing();
  return 0;
}

constexpr ToolCommand kKaraokeSubcommands[] = {
    {"screen", "INFO.json OUT.png [--size WxH] [--at T1,...]", "draw the karaoke screen from a record into PNGs",
     RunScreen},
    {"window", "INFO.json", "open the karaoke screen window fed from a record", RunWindow},
    {"queue", "IN.tsv OUT.tsv", "load a karaoke queue file and save it again", RunKaraokeQueue},
    {"up-next", "FILE.tsv [N]", "the next N singers (default 5) of a karaoke queue file", RunKaraokeUpNext},
};

int RunKaraoke(const std::vector<std::string>& args) {
  if (!args.empty())
    for (const ToolCommand& sub : kKaraokeSubcommands)
      if (args[0] == sub.name) return sub.run(std::vector<std::string>(args.begin() + 1, args.end()));
  std::fprintf(stderr, "usage:\n");
  for (const ToolCommand& sub : kKaraokeSubcommands)
    std::fprintf(stderr, "  veldmix-tool karaoke %-7s %-46s %s\n", sub.name, sub.usage, sub.summary);
  return 2;
}

}  // namespace

const ToolCommand kKaraokeScreenCommands[] = {
    {"karaoke", "screen|window|queue|up-next ...", "the karaoke screen from a record, its window, the queue file", RunKaraoke},
};
const int kKaraokeScreenCommandCount = static_cast<int>(sizeof kKaraokeScreenCommands / sizeof kKaraokeScreenCommands[0]);
