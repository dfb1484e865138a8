#include "screens/visualiser_toggle.h"

#include "base/palette.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/mix_meters.h"
#include "karaoke/karaoke_rotation.h"
#include "library/now_playing.h"
#include "platform/clock.h"
#include "platform/keymap.h"
#include "platform/screen_placement.h"
#include "platform/second_window.h"
#include "screens/cover_art.h"
#include "screens/main_screen.h"
#include "ui/language.h"

namespace {

constexpr int kWindowWidth = 960, kWindowHeight = 540;
constexpr unsigned kFrameMs = 16;
constexpr double kFirstFrameSeconds = 1.0 / 60;

struct VisualiserWindowState {
  SecondWindow* window = nullptr;
  bool fullScreen = false;
  WindowPlacement saved;
  double lastFrame = -1;  // MonotonicSeconds of the last frame; -1 before the first
  std::wstring coverPath;         // the shown deck's track, whose cover is wanted
  std::shared_ptr<Bitmap> cover;  // held while frames draw it: the art cache may evict its entry
};
VisualiserWindowState Window;

std::wstring ShowInUiLanguage(std::wstring_view text) { return Translate(text); }

void SetVisualiserFullScreen(bool on) {
  if (!Window.window) return;
  Window.fullScreen = on;
  SetFullScreen(SecondTopWindow(Window.window), on, &Window.saved);
  SetSecondWindowCursorHidden(Window.window, on);
  InvalidateSecondWindow(Window.window);
}

void Paint(void*, DrawSurface& target) {
  const double now = MonotonicSeconds();
  const double dt = Window.lastFrame < 0 ? kFirstFrameSeconds : now - Window.lastFrame;
  Window.lastFrame = now;
  const float scale = target.dipScale();
  VisualiserFeed feed = GatherVisualiserFeed();
  feed.fullScreen = Window.fullScreen;
  DrawVisualiserFrame(target, static_cast<float>(target.pixelWidth()) / scale,
                      static_cast<float>(target.pixelHeight()) / scale, dt, feed);
}

void OnEvent(void*, SecondWindow*, const SecondWindowEvent& e) {
  switch (e.kind) {
    case SecondWindowEventKind::Close:
      CloseSecondWindow(Window.window);
      break;
    case SecondWindowEventKind::KeyDown: {
      // A held key steps through the visuals; it never flickers the window or full screen.
      const bool stepping = e.key == KeyCode::Left || e.key == KeyCode::Right || e.key == KeyCode::Space;
      if (e.repeat && !stepping) break;
      switch (VisualiserKey(e.key, e.shift, Window.fullScreen)) {
        case VisualiserAction::Close: CloseSecondWindow(Window.window); break;
        case VisualiserAction::ToggleFullScreen: SetVisualiserFullScreen(!Window.fullScreen); break;
        case VisualiserAction::LeaveFullScreen: SetVisualiserFullScreen(false); break;
        case VisualiserAction::None: break;
      }
      break;
    }
    case SecondWindowEventKind::LeftDown:
      if (e.doubleClick) SetVisualiserFullScreen(!Window.fullScreen);
      break;
    case SecondWindowEventKind::RightDown:
      VisualiserRightClick();
      break;
    default:
      break;
  }
}

void OnClosed(void*) {
  Window = VisualiserWindowState{};
  VisualiserWindowOpen = false;
  ForgetVisualiserWindow();
}

}  // namespace

VisualiserFeed GatherVisualiserFeed() {
  VisualiserFeed feed;
  for (int b = 0; b < kVisualBands; ++b) feed.bands[static_cast<size_t>(b)] = Meters.spectrum[static_cast<size_t>(b)];
  for (int d = 0; d < kEngineDecks; ++d) {
    VisualiserDeck& deck = feed.decks[static_cast<size_t>(d)];
    deck.audible = IsDeckAudible(d);
    deck.level = LiveDeckViews[d].meterLevel;
    deck.pulse = BeatPulse[d];
    deck.colour = DeckColour(d);
    if (const TrackPtr& track = DeckSnapshots[d].track) {
      deck.hasTrack = true;
      deck.title = track->title;
      deck.artist = track->artist;
      deck.bpm = DeckBpm(d);
    }
  }
  feed.paletteDeckA = Pal.DeckA;
  feed.paletteDeckB = Pal.DeckB;
  feed.accent = Pal.Yellow;
  const int shown = ShownVisualiserDeck(feed);
  const TrackPtr* track = shown >= 0 ? &DeckSnapshots[shown].track : nullptr;
  static const std::wstring kNoPath;
  const std::wstring& path = track && *track ? (*track)->path : kNoPath;  // no copy each frame
  if (path != Window.coverPath) {
    Window.coverPath = path;
    Window.cover.reset();
  }
  if (!path.empty() && !Window.cover) Window.cover = RequestArt(path);
  feed.cover = Window.cover ? Window.cover->image.get() : nullptr;
  // Someone sings from a stage song's start until it ends.
  if (Stage.singing && !Stage.ended && Stage.currentSinger >= 0 &&
      Stage.currentSinger < static_cast<int32_t>(Rotation.singers.size())) {
    feed.singerOnStage = true;
    feed.singerName = Rotation.singers[static_cast<size_t>(Stage.currentSinger)].name;
    if (Stage.stageDeck >= 0 && Stage.stageDeck < kEngineDecks) {
      if (const TrackPtr& track = DeckSnapshots[Stage.stageDeck].track) {
        feed.songHasTrack = true;
        feed.songTitle = track->title;
        feed.songArtist = track->artist;
      }
    }
  }
  feed.translate = ShowInUiLanguage;
  return feed;
}

void ToggleVisualiser() {
  if (Window.window) {
    CloseSecondWindow(Window.window);
    return;
  }
  PixelRect area;
  const bool other = SecondMonitorRect(MainTopWindow(), &area);
  const PixelRect rect{area.x + (area.w - kWindowWidth) / 2, area.y + (area.h - kWindowHeight) / 2, kWindowWidth,
                       kWindowHeight};
  SecondWindowClient client;
  client.draw = Paint;
  client.event = OnEvent;
  client.closed = OnClosed;
  Window.window = OpenSecondWindow(Translate(L"Veldmix \u2014 Visualiser"), rect, kFrameMs, client);
  if (!Window.window) return;
  VisualiserWindowOpen = true;
  if (other) SetVisualiserFullScreen(true);
  // Going full screen may have handed the window the keyboard: the DJ keeps it.
  ReturnFocusFromSecondWindow(Window.window);
}

SecondWindow* VisualiserScreenWindow() { return Window.window; }

bool VisualiserFullScreen() { return Window.fullScreen; }
