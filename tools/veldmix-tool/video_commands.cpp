// The video mix from the shell: the video-file player at chosen times, and one composed frame of
// scripted sides.
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <string>
#include <vector>

#include "base/text_parse.h"
#include "broadcast/video_compositor.h"
#include "broadcast/video_feed.h"
#include "broadcast/video_player.h"
#include "platform/draw_surface.h"
#include "platform/png_file.h"
#include "platform/text.h"
#include "tools/veldmix-tool/commands.h"

namespace {

// Long enough for a 2160p file to seek and decode a whole group of pictures on a loaded machine.
constexpr int kDecodeWaitMs = 20000;
constexpr int kMaxMixSide = 8192;

bool WriteFrame(const std::vector<uint32_t>& pixels, uint32_t w, uint32_t h, const std::string& path) {
  std::wstring error;
  if (WritePngFile(pixels.data(), static_cast<int>(w), static_cast<int>(h), static_cast<int>(w), PathFromBytes(path),
                   &error))
    return true;
  std::fprintf(stderr, "veldmix-tool: %s\n", WideToUtf8(error).c_str());
  return false;
}

// video-frames FILE T... [--loop] --out DIR: one line per time, "T PNG" or "T none", with the
// pictures decoded so far.
int RunVideoFrames(const std::vector<std::string>& args) {
  std::string file, outDir;
  std::vector<double> times;
  bool loop = false, bad = false;
  for (size_t i = 0; i < args.size(); ++i) {
    double t = 0;
    if (args[i] == "--loop") loop = true;
    else if (args[i] == "--out" && i + 1 < args.size()) outDir = args[++i];
    else if (file.empty()) file = args[i];
    else if (ParseNumber(args[i], &t, -1e6, 1e6)) times.push_back(t);
    else bad = true;
  }
  if (bad || file.empty() || outDir.empty() || times.empty()) {
    std::fprintf(stderr, "usage: veldmix-tool video-frames FILE T... [--loop] --out DIR\n");
    return 2;
  }
  VideoFilePlayer player;
  player.Open(PathFromBytes(file));
  std::vector<uint32_t> pixels;
  uint32_t w = 0, h = 0;
  uint64_t serial = 0;
  for (size_t i = 0; i < times.size(); ++i) {
    player.Seek(times[i], loop);
    if (!player.WaitUntilIdle(kDecodeWaitMs)) {
      std::fprintf(stderr, "veldmix-tool video-frames: the decoder took longer than %d ms\n", kDecodeWaitMs);
      return 1;
    }
    std::string shown = "none";
    if (player.TakeFrame(&pixels, &w, &h, &serial)) {
      char name[32];
      std::snprintf(name, sizeof name, "/frame-%03zu.png", i);
      shown = outDir + name;
      if (!WriteFrame(pixels, w, h, shown)) return 1;
      shown += " " + std::to_string(w) + "x" + std::to_string(h);
    }
    std::printf("%.3f %s decoded=%llu\n", times[i], shown.c_str(),
                static_cast<unsigned long long>(player.DecodedPictures()));
  }
  if (player.Failed()) std::printf("failed\n");
  return 0;
}

// A name of the table (any case, '-' or '_' for blanks) or its index.
bool ParseNamed(const std::string& text, const wchar_t* const* names, int count, int32_t* out) {
  int64_t n = 0;
  if (ParseInteger(text, &n, 0, count - 1)) {
    *out = static_cast<int32_t>(n);
    return true;
  }
  std::wstring wanted = Utf8ToWide(text);
  for (wchar_t& c : wanted) c = c == L'-' || c == L'_' ? L' ' : static_cast<wchar_t>(std::towupper(c));
  for (int i = 0; i < count; ++i)
    if (wanted == names[i]) {
      *out = i;
      return true;
    }
  return false;
}

bool ParseColour(const std::string& text, uint32_t* out) {
  if (text.size() != 6 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return false;
  *out = static_cast<uint32_t>(std::stoul(text, nullptr, 16));
  return true;
}

// Takes each side's newest frame once its player has acted on the feed's position.
void SettleVideoDecks(VideoFeed feed) {
  PushVideoFeed(feed);
  for (VideoDeck& deck : VideoDecks)
    if (deck.hasVideo) deck.player.WaitUntilIdle(kDecodeWaitMs);
  PushVideoFeed(feed);
}

// video-mix OUT.png --size WxH [side, level, transition, effect, beat and clock options]
int RunVideoMix(const std::vector<std::string>& args) {
  std::string out, artPath[2];
  int width = 0, height = 0;
  double clock = 0.0;
  VideoFeed feed;
  feed.entries[0].level = 1.0f;
  bool bad = args.empty();
  for (size_t i = 0; i < args.size() && !bad; ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    const std::string v = hasValue ? args[i + 1] : "";
    const int side = a.rfind("--left", 0) == 0 ? 0 : a.rfind("--right", 0) == 0 ? 1 : -1;
    const std::string key = side < 0 ? a : a.substr(side == 0 ? 6 : 7);
    double number = 0;
    if (i == 0) {
      out = a;
    } else if (!hasValue) {
      bad = true;
    } else if (a == "--size") {
      bad = std::sscanf(v.c_str(), "%dx%d", &width, &height) != 2 || width < 1 || height < 1 ||
            width > kMaxMixSide || height > kMaxMixSide;
    } else if (a == "--levels") {
      double l = 0, r = 0;
      bad = std::sscanf(v.c_str(), "%lf,%lf", &l, &r) != 2 || !(l >= 0 && l <= 1 && r >= 0 && r <= 1);
      feed.entries[0].level = static_cast<float>(l);
      feed.entries[1].level = static_cast<float>(r);
    } else if (a == "--transition") {
      bad = !ParseNamed(v, kVideoTransitionNames, 6, &feed.transition);
    } else if (a == "--effect") {
      bad = !ParseNamed(v, kVideoEffectNames, 9, &feed.effect);
    } else if (a == "--beat") {
      bad = !ParseNumber(v, &feed.beat, -1e9, 1e9);
    } else if (a == "--clock") {
      bad = !ParseNumber(v, &clock, 0, 1e9);
    } else if (a == "--overlay") {
      bad = v != "on" && v != "off";
      feed.overlay = v == "on";
    } else if (side >= 0 && key.empty()) {
      feed.entries[side].path = PathFromBytes(v);
    } else if (side >= 0 && key == "-at") {
      bad = !ParseNumber(v, &number, 0, 1e6);
      feed.entries[side].position = number;
    } else if (side >= 0 && key == "-title") {
      feed.entries[side].title = Utf8ToWide(v);
    } else if (side >= 0 && key == "-artist") {
      feed.entries[side].artist = Utf8ToWide(v);
    } else if (side >= 0 && key == "-colour") {
      bad = !ParseColour(v, &feed.entries[side].colour);
    } else if (side >= 0 && key == "-art") {
      artPath[side] = v;
    } else {
      bad = true;
    }
    if (i > 0) ++i;
  }
  if (bad || out.empty() || width == 0) {
    std::fprintf(stderr,
                 "usage: veldmix-tool video-mix OUT.png --size WxH [--left FILE] [--right FILE]\n"
                 "  [--left-at S] [--left-title T] [--left-artist A] [--left-colour RRGGBB] [--left-art PNG]\n"
                 "  (and --right-...) [--levels L,R] [--transition NAME|N] [--effect NAME|N] [--beat B]\n"
                 "  [--clock SECONDS] [--overlay on|off]\n");
    return 2;
  }
  for (int side = 0; side < 2; ++side) {
    if (artPath[side].empty()) continue;
    VideoFeedEntry& e = feed.entries[side];
    int w = 0, h = 0;
    if (!ReadPngPixels(PathFromBytes(artPath[side]), &e.art, &w, &h)) {
      std::fprintf(stderr, "veldmix-tool video-mix: couldn't read the art \"%s\"\n", artPath[side].c_str());
      return 1;
    }
    e.artWidth = static_cast<uint32_t>(w);
    e.artHeight = static_cast<uint32_t>(h);
  }
  SettleVideoDecks(feed);
  for (int side = 0; side < 2; ++side)
    std::printf("%s: %s\n", side == 0 ? "left" : "right",
                VideoDecks[side].hasVideo ? (VideoDecks[side].frame.empty() ? "video, no frame" : "video")
                : feed.entries[side].path.empty() ? "empty"
                                                  : "card");
  // The first frame announces the louder deck at clock 0; the one written is at --clock.
  VideoRenderer renderer;
  std::vector<uint32_t> pixels;
  bool ok = RenderVideoFrameAt(&renderer, width, height, 0.0, &pixels);
  ok = ok && RenderVideoFrameAt(&renderer, width, height, clock, &pixels);
  StopVideoDecks();
  if (!ok) {
    std::fprintf(stderr, "veldmix-tool video-mix: couldn't compose a %dx%d frame\n", width, height);
    return 1;
  }
  return WriteFrame(pixels, static_cast<uint32_t>(width), static_cast<uint32_t>(height), out) ? 0 : 1;
}

}  // namespace

extern const ToolCommand kVideoCommands[] = {
    {"video-frames", "FILE T... [--loop] --out DIR", "the video-file player's frames at the times, as PNGs",
     RunVideoFrames},
    {"video-mix", "OUT.png --size WxH [sides, levels, ...]", "one frame of the video mix of scripted sides",
     RunVideoMix},
};
extern const int kVideoCommandCount = sizeof kVideoCommands / sizeof kVideoCommands[0];
