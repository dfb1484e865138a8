#include "karaoke/karaoke_window.h"

#include <algorithm>
#include <string>

#include "karaoke/karaoke_draw.h"
#include "platform/clock.h"
#include "platform/keymap.h"
#include "platform/screen_placement.h"
#include "platform/second_window.h"
#include "platform/window.h"

namespace {

constexpr wchar_t kHintText[] = L"Double-click for full screen  \u2022  Esc to leave it  \u2022  F9 closes";
constexpr float kHintSizeDip = 14.0f;
constexpr float kHintFromBottomDip = 28.0f;
constexpr uint32_t kHintColour = 0x8C93A6;
constexpr float kHintOpacity = 0.9f;

struct KaraokeWindowGlobals {
  SecondWindow* window = nullptr;
  bool fullScreen = false;
  WindowPlacement saved;
  KaraokeScreenInfo info = DefaultKaraokeScreenInfo();
  KaraokeSettings settings;
  KaraokeDrawState draw;
};
KaraokeWindowGlobals Screen;

void SetKaraokeFullScreen(bool on) {
  if (!Screen.window) return;
  Screen.fullScreen = on;
  SetFullScreen(SecondTopWindow(Screen.window), on, &Screen.saved);
  SetSecondWindowCursorHidden(Screen.window, on);
  InvalidateSecondWindow(Screen.window);
}

void Paint(void*, DrawSurface& target) {
  const float scale = target.dipScale();
  const float w = static_cast<float>(target.pixelWidth()) / scale;
  const float h = static_cast<float>(target.pixelHeight()) / scale;
  // The animation clock: seconds since the system started, as the tick count gives them.
  const double clock = static_cast<double>(MonotonicMs()) / 1000.0;
  DrawKaraokeScreen(Screen.draw, KaraokeWindowContent(), target, w, h, Screen.info, Screen.settings, clock);
  if (!Screen.fullScreen) {
    DrawCentredText(Screen.draw, target, kHintText, w / 2.0f, h - kHintFromBottomDip, w, kHintSizeDip, false,
                    kHintColour, kHintOpacity, 0.0f);
  }
}

void OnEvent(void*, SecondWindow*, const SecondWindowEvent& e) {
  switch (e.kind) {
    case SecondWindowEventKind::Close:
      CloseKaraokeWindow();
      break;
    case SecondWindowEventKind::KeyDown:
      if (e.repeat) break;
      if (e.key == KeyCode::F11) SetKaraokeFullScreen(!Screen.fullScreen);
      else if (e.key == KeyCode::Escape && Screen.fullScreen) SetKaraokeFullScreen(false);
      else if (e.key == KeyCode::Escape || e.key == KeyCode::F9) CloseKaraokeWindow();
      break;
    case SecondWindowEventKind::LeftDown:
      if (e.doubleClick) SetKaraokeFullScreen(!Screen.fullScreen);
      break;
    default:
      break;
  }
}

void OnClosed(void*) {
  Screen.window = nullptr;
  Screen.fullScreen = false;
  Screen.saved = WindowPlacement{};
  // The video players stop; the background picture and the CD+G state stay for the next opening.
  ResetKaraokeDrawState(Screen.draw);
  StopKaraokeVideo(KaraokeWindowContent());
}

}  // namespace

void OpenKaraokeWindow() {
  if (Screen.window) {
    CloseKaraokeWindow();
    return;
  }
  PixelRect area;
  const bool other = SecondMonitorRect(MainTopWindow(), &area);
  const PixelRect rect{area.x + (area.w - kKaraokeWindowWidth) / 2, area.y + (area.h - kKaraokeWindowHeight) / 2,
                       kKaraokeWindowWidth, kKaraokeWindowHeight};
  SecondWindowClient client;
  client.draw = Paint;
  client.event = OnEvent;
  client.closed = OnClosed;
  Screen.window = OpenSecondWindow(kKaraokeWindowTitle, rect, kKaraokeFrameMs, client);
  if (!Screen.window) return;
  if (other && !Screen.fullScreen) SetKaraokeFullScreen(true);
  // Going full screen may have handed the window the keyboard: the DJ keeps it.
  ReturnFocusFromSecondWindow(Screen.window);
}

void CloseKaraokeWindow() {
  if (Screen.window) CloseSecondWindow(Screen.window);
}

bool IsKaraokeScreenOpen() { return Screen.window != nullptr; }

bool KaraokeScreenFullScreen() { return Screen.fullScreen; }

void PushKaraokeScreenInfo(const KaraokeScreenInfo& info, const KaraokeSettings& settings) {
  Screen.info = info;
  if (!Screen.info.lyrics) Screen.info.lyrics = SharedEmptyLyrics();
  Screen.settings = settings;
}

SecondWindow* KaraokeScreenWindow() { return Screen.window; }
