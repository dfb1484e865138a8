// One frame of the karaoke screen: background or graphics, then the idle screen, the song header,
// the lyric lines with their wipe and count-in, and the NEXT UP banner.
#include "karaoke/karaoke_draw.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr float kMinOpacity = 0.003f;
constexpr Rgba kBlack{0, 0, 0, 1};
constexpr float kTextWidth = 0.86f;  // of W, idle screen and header
constexpr uint32_t kWhite = 0xFFFFFF, kSoftBlue = 0xC9D2E6, kArtistColour = 0xE6EAF4;
constexpr int kMaxLaterSingers = 5;
constexpr double kHeaderLeadMinSeconds = 2.0;  // the header fades at least this long before the words
constexpr double kLineSwitchAfterEnd = 0.25;   // seconds after a line's end the next one takes over
constexpr double kSlideSeconds = 0.4;
constexpr double kGapMarkerSeconds = 6.0;
constexpr double kNextUpShare = 0.6;  // of the song, after which who is next shows
constexpr double kNextUpLastSeconds = 60.0;
constexpr float kPreviousScale = 0.78f;
constexpr wchar_t kNote[] = L"\u266A";
constexpr wchar_t kGapNotes[] = L"\u266A   \u266A   \u266A";
constexpr wchar_t kLaterSeparator[] = L"  \u00B7  ";

Rgba ArgbColour(uint32_t argb) {
  return Rgba{static_cast<float>((argb >> 16) & 0xFF) / 255.0f, static_cast<float>((argb >> 8) & 0xFF) / 255.0f,
              static_cast<float>(argb & 0xFF) / 255.0f, 1.0f};
}

std::wstring Tr(std::wstring_view text) { return KaraokeTranslateHook ? KaraokeTranslateHook(text) : std::wstring(text); }

// A record's beat length that cannot be used (60 / BPM 0) counts as the default.
double BeatSeconds(const KaraokeScreenInfo& info) {
  return std::isfinite(info.beatLength) ? info.beatLength : kDefaultBeatSeconds;
}

// Everything the text parts need for one frame.
struct Frame {
  KaraokeDrawState& state;
  DrawSurface& target;
  float w, h;
  const KaraokeScreenInfo& info;
  const KaraokeSettings& settings;
  double t, clock;
  const KaraokeTheme& theme;
};

float Text(Frame& f, std::wstring_view text, float y, float size, bool heavy, uint32_t rgb, float opacity,
           float outline) {
  return DrawCentredText(f.state, f.target, text, 0.5f * f.w, y, kTextWidth * f.w, size, heavy, rgb, opacity,
                         outline);
}

void DrawIdleScreen(Frame& f) {
  const float h = f.h;
  if (f.info.nextSinger.empty()) {
    Text(f, L"KARAOKE", 0.32f * h, 0.14f * h, true, kWhite, 1.0f, 0.004f * h);
  } else {
    const float p = static_cast<float>(std::sin(2.0 * f.clock) * 0.5 + 0.5);
    Text(f, Tr(L"UP NEXT"), 0.22f * h, 0.04f * h, false, f.info.accent1, 0.85f + 0.15f * p, 0.0f);
    const float h1 = Text(f, f.info.nextSinger, 0.3f * h, 0.13f * h, true, kWhite, 1.0f, 0.004f * h);
    if (!f.info.nextSong.empty())
      Text(f, f.info.nextSong, 0.3f * h + h1 + 0.02f * h, 0.045f * h, true, f.theme.colourB, 0.95f, 0.002f * h);
    if (!f.info.laterSingers.empty()) {
      std::wstring later = Tr(L"then  ");
      const size_t n = std::min<size_t>(f.info.laterSingers.size(), kMaxLaterSingers);
      for (size_t i = 0; i < n; ++i) {
        if (i > 0) later += kLaterSeparator;
        later += f.info.laterSingers[i];
      }
      Text(f, later, 0.72f * h, 0.035f * h, false, kSoftBlue, 0.8f, 0.0015f * h);
    }
  }
  if (!f.settings.Message.empty()) Text(f, f.settings.Message, 0.84f * h, 0.04f * h, false, kWhite, 0.9f, 0.0015f * h);
}

void DrawSongHeader(Frame& f, float o, bool getReady) {
  if (!(o > kMinOpacity)) return;
  const float h = f.h;
  float y = 0.3f * h;
  if (!f.info.singer.empty()) {
    Text(f, Tr(getReady ? L"GET READY" : L"NOW SINGING"), 0.2f * h, 0.035f * h, false, f.info.accent1, o, 0.0f);
    const float h1 = Text(f, f.info.singer, 0.255f * h, 0.1f * h, true, kWhite, o, 0.004f * h);
    y = 0.255f * h + h1 + 0.03f * h;
  }
  const float h2 = Text(f, f.info.title, y, 0.06f * h, true, f.theme.colourB, o, 0.003f * h);
  if (!f.info.artist.empty())
    Text(f, f.info.artist, y + h2 + 0.01f * h, 0.04f * h, false, kArtistColour, 0.9f * o, 0.0015f * h);
}

float BaseLyricSize(int32_t textSize, float h) {
  if (textSize == 0) return 0.058f * h;
  if (textSize == 2) return 0.088f * h;
  return 0.072f * h;
}

const TextBlock* LyricLineLayout(Frame& f, const Lyrics& lyrics, int32_t index, float scale, float s, float m) {
  const std::wstring& text = lyrics.lines[static_cast<size_t>(index)].text;
  return KaraokeTextLayout(f.state, text.empty() ? std::wstring_view(kNote) : std::wstring_view(text), scale * s,
                           true, m);
}

void DrawCountIn(Frame& f, const Lyrics& lyrics, int32_t k, double startK, float y, float r, float hp, float s,
                 float o) {
  const double b = BeatSeconds(f.info);
  if (!f.settings.Countdown || !(b > 0) || f.t >= startK) return;
  const double g = startK - f.t;
  const double offset = lyrics.offset;
  const bool shortPause = k > 0 && startK - (LyricsLineEndRaw(lyrics, k - 1) + offset) <= 4 * b + 1.0;
  const double q = g / b;
  if (!shortPause && q > 0 && q <= 4) {
    const float cy = y - 0.55f * s - (1.0f - r) * (k > 0 ? hp + 0.35f * s : 0.0f);
    const int lit = static_cast<int>(std::ceil(q));
    for (int i = 0; i < 4; ++i) {
      const float cx = 0.5f * f.w + (static_cast<float>(i) - 1.5f) * 0.55f * s;
      if (i < lit) {
        f.target.SetColor(KaraokeColour(f.theme.colourB, 1.0f));
        f.target.FillEllipse(cx, cy, 0.16f * s, 0.16f * s);
        f.target.SetColor(KaraokeColour(f.theme.colourB, 0.3f));
        f.target.StrokeEllipse(cx, cy, 0.24f * s, 0.24f * s, 2.0f);
      } else {
        f.target.SetColor(KaraokeColour(kWhite, 0.15f));
        f.target.FillEllipse(cx, cy, 0.16f * s, 0.16f * s);
      }
    }
  }
  if (g > kGapMarkerSeconds && k > 0) {
    DrawCentredText(f.state, f.target, kGapNotes, 0.5f * f.w, 0.3f * f.h, 0.88f * f.w, 0.7f * s, false,
                    f.theme.colourB, (f.info.beatPulse * 0.25f + 0.35f) * o, 0.0f);
  }
}

void DrawLyricLines(Frame& f, float o) {
  const Lyrics& lyrics = *f.info.lyrics;
  const int32_t n = static_cast<int32_t>(lyrics.lines.size());
  if (n == 0 || !(o > kMinOpacity)) return;
  const double offset = lyrics.offset;
  const auto start = [&](int32_t i) { return lyrics.lines[static_cast<size_t>(i)].start + offset; };
  const auto end = [&](int32_t i) { return LyricsLineEndRaw(lyrics, i) + offset; };
  const float s = BaseLyricSize(f.settings.TextSize, f.h);
  const float m = 0.88f * f.w;
  const float left = 0.5f * f.w - m / 2;
  const float outline = 0.06f * s;

  int32_t k = 0;
  for (int32_t i = 1; i < n; ++i) {
    if (f.t >= std::min(end(i - 1) + kLineSwitchAfterEnd, start(i))) k = i;
    else break;
  }
  const double switchTime = k > 0 ? std::min(end(k - 1) + kLineSwitchAfterEnd, start(k)) : -1e9;
  const double p = std::clamp((f.t - switchTime) / kSlideSeconds, 0.0, 1.0);
  const float r = static_cast<float>((1.0 - p) * (1.0 - p) * (1.0 - p));

  const TextBlock* current = LyricLineLayout(f, lyrics, k, 1.0f, s, m);
  const TextBlock* previous = k > 0 ? LyricLineLayout(f, lyrics, k - 1, kPreviousScale, s, m) : nullptr;
  const float hc = current ? current->height() : 0.0f;
  const float hp = previous ? previous->height() : 0.0f;
  const float y = 0.56f * f.h - hc / 2 + (hp + 0.35f * s) * r;

  if (previous) {
    DrawOutlinedText(f.target, *previous, left, y - 0.35f * s - hp, f.theme.colourB,
                     (0.4f - 0.25f * (1.0f - r)) * o, kPreviousScale * outline);
  }
  const bool started = f.t >= start(k);
  if (current) {
    const std::wstring& text = lyrics.lines[static_cast<size_t>(k)].text;
    const double sung = started && !text.empty() ? LyricsSungChars(lyrics, k, f.t) : 0.0;
    DrawWipedLine(f.target, *current, left, y, m, sung, static_cast<int>(text.size()), f.theme.colourA,
                  f.theme.colourB, started ? o : 0.92f * o, outline);
  }
  float next = y + hc + 0.35f * s;
  const float nextOpacity[2] = {0.6f, 0.35f};
  for (int32_t j = 1; j <= 2 && k + j < n; ++j) {
    const TextBlock* block = LyricLineLayout(f, lyrics, k + j, kPreviousScale, s, m);
    if (!block) continue;
    DrawOutlinedText(f.target, *block, left, next, f.theme.colourA, nextOpacity[j - 1] * o, kPreviousScale * outline);
    next += block->height() + 0.35f * s;
  }
  if (!started) DrawCountIn(f, lyrics, k, start(k), y, r, hp, s, o);
}

bool NextUpDue(const KaraokeScreenInfo& info, double t) {
  return info.duration > 0 && (t > kNextUpShare * info.duration || info.duration - t < kNextUpLastSeconds);
}

void DrawSingerPill(Frame& f) {
  if (!f.info.singer.empty())
    DrawBannerPill(f.state, f.target, kNote, f.info.singer, 0.03f * f.h, 0.03f * f.h, f.h, f.info.accent1);
}

// The CD+G screen at the song position; false when the lyrics hold no packets.
bool DrawCdg(Frame& f, KaraokeScreen& content, const Lyrics& lyrics) {
  if (!lyrics.cdg || lyrics.cdg->empty()) return false;
  if (content.installedCdg != lyrics.cdg) {
    content.installedCdg = lyrics.cdg;
    CdgLoad(content.cdg, lyrics.cdg);
  }
  CdgPlayTo(content.cdg, f.t);
  // The decoder keeps its picture and renders it again only when packets changed it; drawing only
  // reads it (PixelView just has no const form).
  std::vector<uint32_t>& picture = const_cast<std::vector<uint32_t>&>(CdgRender(content.cdg));
  f.target.Clear(ArgbColour(content.cdg.palette[content.cdg.border & 15]));
  // By the nearest pixel: linear filtering in fixed point bleeds neighbours into even the centre
  // pixels of a whole-number enlargement, and CD+G tiles are meant to be hard-edged.
  DrawFittedPixels(f.target, PixelView{picture.data(), kCdgWidth, kCdgHeight, kCdgWidth}, true, f.w, f.h, 0.0f, true);
  DrawSingerPill(f);
  return true;
}

// The background picture, loaded once per file name; true when drawn.
bool DrawPictureBackground(Frame& f, KaraokeScreen& content) {
  if (f.settings.BackgroundFile != content.pictureFile) {
    content.pictureFile = f.settings.BackgroundFile;
    content.picturePixels.clear();
    content.pictureWidth = content.pictureHeight = 0;
    LoadPicturePixels(content.pictureFile, &content.picturePixels, &content.pictureWidth, &content.pictureHeight);
    ++content.pictureGeneration;
  }
  if (content.picturePixels.empty()) return false;
  const PixelView view{content.picturePixels.data(), content.pictureWidth, content.pictureHeight, content.pictureWidth};
  DrawCoverPixels(f.state, f.target, view, false, f.w, f.h, f.clock, true, f.settings.Blur, content.pictureGeneration);
  return true;
}

// Takes the player's newest frame into the state; `from` names the player. A player that opened
// another file numbers its frames from the start again.
void TakeVideoFrame(KaraokeDrawState& state, VideoFilePlayer& player, int from, uint64_t* serial,
                    std::wstring* path) {
  if (*path != player.Path()) {
    *path = player.Path();
    *serial = 0;
    if (state.videoFrom == from) state.videoFrom = 0;
  }
  uint32_t w = 0, h = 0;
  if (player.TakeFrame(&state.video, &w, &h, serial) && w > 0 && h > 0) {
    state.videoWidth = w;
    state.videoHeight = h;
    state.videoFrom = from;
  }
}

PixelView VideoView(KaraokeDrawState& state) {
  return PixelView{state.video.data(), static_cast<int>(state.videoWidth), static_cast<int>(state.videoHeight),
                   static_cast<int>(state.videoWidth)};
}

// Frames of the background loop are blurred by serial; these keep clear of picture generations.
constexpr int64_t kVideoBlurSource = int64_t{1} << 40;

constexpr int kFromKaraokeVideo = 1, kFromBackgroundVideo = 2;

}  // namespace

KaraokeScreen& KaraokeWindowContent() {
  static KaraokeScreen content;
  return content;
}

KaraokeScreen& KaraokeOffscreenContent() {
  static KaraokeScreen content;
  return content;
}

void ResetKaraokeDrawState(KaraokeDrawState& state) { state = KaraokeDrawState{}; }

void StopKaraokeVideo(KaraokeScreen& content) {
  content.karaokeVideo.Stop();
  content.backgroundVideo.Stop();
}

void DrawKaraokeScreen(KaraokeDrawState& state, KaraokeScreen& content, DrawSurface& target, float w, float h,
                       const KaraokeScreenInfo& info, const KaraokeSettings& settings, double clock) {
  ++state.frame;
  if (!(w > 0) || !(h > 0)) {
    target.Clear(kBlack);
    return;
  }
  const double t = std::isfinite(info.position) ? info.position : 0.0;
  Frame f{state, target, w, h, info, settings, t, std::isfinite(clock) ? clock : 0.0, KaraokeThemeOf(settings.Palette)};
  const Lyrics* lyrics = info.lyrics.get();

  if (info.mode != 0 && lyrics) {
    if (lyrics->kind == LyricsKind::KaraokeVideo) {
      // The words are in the track's own video: its frame at the song position, then the pill.
      content.karaokeVideo.Open(info.path);
      content.karaokeVideo.Seek(t, false);
      TakeVideoFrame(state, content.karaokeVideo, kFromKaraokeVideo, &state.karaokeVideoSerial,
                     &state.karaokeVideoPath);
      target.Clear(kBlack);
      if (state.videoFrom == kFromKaraokeVideo) DrawFittedPixels(target, VideoView(state), true, w, h, 0.0f, false);
      DrawSingerPill(f);
      return;
    }
    content.karaokeVideo.Stop();
    if (lyrics->kind == LyricsKind::CdgGraphics && DrawCdg(f, content, *lyrics)) return;
  } else {
    content.karaokeVideo.Stop();
  }

  // Every background covers the whole target; black shows only where a picture is transparent.
  bool drewPicture = false;
  if (settings.Background == 1 && !settings.BackgroundFile.empty()) {
    target.Clear(kBlack);
    drewPicture = DrawPictureBackground(f, content);
  }
  if (settings.Background == 2 && !settings.BackgroundFile.empty()) {
    // The loop plays on the animation clock, wrapped into the video's length by the player.
    content.backgroundVideo.Open(settings.BackgroundFile);
    content.backgroundVideo.Seek(f.clock, true);
    TakeVideoFrame(state, content.backgroundVideo, kFromBackgroundVideo, &state.backgroundVideoSerial,
                   &state.backgroundVideoPath);
    if (state.videoFrom == kFromBackgroundVideo && !content.backgroundVideo.Failed()) {
      DrawCoverPixels(state, target, VideoView(state), true, w, h, f.clock, false, settings.Blur,
                      kVideoBlurSource + static_cast<int64_t>(state.backgroundVideoSerial));
      drewPicture = true;
    }
  } else {
    content.backgroundVideo.Stop();
  }
  if (drewPicture) {
    target.SetColor(KaraokeColour(0x000000, static_cast<float>(std::clamp(settings.Dim, 0, 90)) / 100.0f));
    target.FillRect(0, 0, w, h);
  } else {
    DrawMovingColour(state, target, w, h, f.clock, info);
  }

  if (info.mode == 0 || !lyrics) {
    DrawIdleScreen(f);
    return;
  }
  if (info.mode == 1) {
    DrawSongHeader(f, 1.0f, true);
    if (!lyrics->lines.empty()) {
      DrawCentredText(state, target, lyrics->lines.front().text, 0.5f * w, 0.74f * h, 0.8f * w, 0.045f * h, true,
                      f.theme.colourA, 0.55f, 0.05f * 0.045f * h);
    }
    return;
  }
  float a = 1.0f;
  if (!lyrics->lines.empty()) {
    const double lead = std::max(4.0 * BeatSeconds(info), kHeaderLeadMinSeconds);
    a = static_cast<float>(std::clamp(lyrics->lines.front().start + lyrics->offset - lead - t, 0.0, 1.0));
  }
  DrawSongHeader(f, a, false);
  if (!lyrics->lines.empty()) {
    DrawLyricLines(f, 1.0f - a);
  } else {
    DrawCentredText(state, target, kNote, 0.5f * w, 0.7f * h, w, 0.08f * h, false, info.accent1,
                    info.beatPulse * 0.4f + 0.4f, 0.0f);
  }
  if (settings.ShowNext && !info.nextSinger.empty() && NextUpDue(info, t))
    DrawBannerPill(state, target, Tr(L"NEXT UP"), info.nextSinger, 0.03f * h, 0.9f * h, h, info.accent1);
}
