// menu-check: a real window that draws a frame every 15 ms and opens the program's popup menu on a
// right-click or M, and switches full screen on F11, reporting what happens; for checks under a
// virtual display with a scripted mouse and keyboard.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "base/files.h"
#include "base/palette.h"
#include "base/text_parse.h"
#include "engine/control_input.h"
#include "engine/deck_view.h"
#include "platform/files.h"
#include "platform/monitors.h"
#include "platform/text.h"
#include "platform/window.h"
#include "tools/veldmix-tool/commands.h"
#include "ui/draw.h"
#include "ui/full_screen.h"
#include "ui/glow.h"
#include "ui/modal.h"
#include "ui/popup_menu.h"

namespace {

constexpr int kFrameTimer = 1;
constexpr unsigned kFrameMs = 15;
constexpr unsigned kWaitMs = 50;
constexpr int kVkF11 = 0x7A, kVkM = 'M', kVkQ = 'Q';
constexpr float kLineDip = 28.0f, kTextDip = 18.0f, kMarginDip = 24.0f;

struct CheckState {
  std::string statePath;
  bool loadWhileOpen = false;  // stands in for a deck load finishing while the menu is open
  bool loadedDuringMenu = false;
  long frames = 0;
  bool wasOpen = false;
  bool chose = false;
  std::string last = "none";
  bool quit = false;
};
CheckState Check;

// A deck menu's shape: plain, greyed and checked items, separators and two submenus.
std::vector<PopupMenuEntry> CheckMenu() {
  PopupMenuEntry doubles = MenuEntry(L"Instant double", 0);
  doubles.submenu = {MenuEntry(L"From deck B", 41)};
  PopupMenuEntry assign = MenuEntry(L"Cross-fader assign", 0);
  assign.submenu = {MenuEntry(L"Left (A side)", 50, false, true), MenuEntry(L"Thru (cross-fader ignored)", 51),
                    MenuEntry(L"Right (B side)", 52)};
  return {MenuEntry(L"Eject", 1, true), doubles, MenuEntry(L"Sync lock (follow deck B's tempo)", 3), assign, MenuSeparator(),
          MenuEntry(L"Clear all hot cues", 4), MenuEntry(L"Reset EQ, filter and effects", 5), MenuSeparator(),
          MenuEntry(L"Show in folder", 7)};
}

void Say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

void OpenCheckMenu() {
  Check.chose = false;
  PopupMenuGuard deck = DeckMenuGuard(0);
  const bool shown = ShowPopupMenu(
      CheckMenu(), Pal.DeckA,
      [](uint32_t id) {
        Check.chose = true;
        Check.last = fmt::format("chosen {}", id);
        Say(Check.last);
      },
      [deck](uint32_t id) {
        if (deck(id)) return true;
        Check.chose = true;
        Check.last = fmt::format("stale {}", id);
        Say(Check.last);
        return false;
      });
  Say(shown ? "menu opened" : "menu not shown");
  Check.wasOpen = shown;
  Check.loadedDuringMenu = false;
}

std::string RectText(const PixelRect& r) { return fmt::format("{} {} {} {}", r.x, r.y, r.w, r.h); }

void WriteState() {
  if (Check.statePath.empty()) return;
  std::string text = fmt::format("frames={}\nopen={}\nlast={}\nfullscreen={}\n", Check.frames, PopupMenuOpen() ? 1 : 0,
                                 Check.last, MainWindowFullScreen() ? 1 : 0);
  const std::vector<PopupMenuLevelInfo> levels = InspectPopupMenu();
  text += fmt::format("levels={}\n", levels.size());
  for (size_t i = 0; i < levels.size(); ++i)
    text += fmt::format("level{}={} {}\n", i, RectText(levels[i].rect), levels[i].hover);
  PixelRect window;
  if (TopWindowRect(MainTopWindow(), &window)) text += "window=" + RectText(window) + "\n";
  text += fmt::format("bordered={}\n", TopWindowBordered(MainTopWindow()) ? 1 : 0);
  const std::vector<MonitorInfo> monitors = ListMonitors();
  text += fmt::format("monitors={}\n", monitors.size());
  for (size_t i = 0; i < monitors.size(); ++i)
    text += fmt::format("monitor{}={} / {}\n", i, RectText(monitors[i].bounds), RectText(monitors[i].workArea));
  PixelRect second;
  const bool other = SecondMonitorRect(MainTopWindow(), &second);
  text += fmt::format("second={} {}\n", other ? 1 : 0, RectText(second));
  WriteBytesAtomic(Utf8ToWide(Check.statePath), text);
}

void DrawCheckFrame() {
  int w = 0, h = 0;
  WindowClientSize(&w, &h);
  if (w < 1 || h < 1) return;
  if (!HasDevice() || FrameImage().width != w || FrameImage().height != h) CreateDevice(w, h, 1.0f);
  if (!HasDevice()) return;
  ++Check.frames;
  BeginDraw();
  Clear(ColorOf(Pal.Background));
  const std::wstring lines[] = {
      fmt::format(L"Frames drawn: {}", Check.frames),
      PopupMenuOpen() ? L"A menu is open" : L"No menu open",
      Utf8ToWide("Last: " + Check.last),
      MainWindowFullScreen() ? L"Full screen" : L"Windowed",
  };
  float y = kMarginDip;
  for (const std::wstring& line : lines) {
    DrawTextRun(line, Rc{kMarginDip, y, static_cast<float>(w) - 2 * kMarginDip, kLineDip}, kTextDip,
                ColorOf(Pal.Text), kAlignLeft, false, kFontSegoeUi);
    y += kLineDip;
  }
  EndFrame();
  EndFrameInput();
  if (PopupMenuOpen() && Check.loadWhileOpen && !Check.loadedDuringMenu) {
    ++LiveDeckViews[0].loadSerial;
    Check.loadedDuringMenu = true;
  }
  RunDeferredActions();
  if (Check.wasOpen && !PopupMenuOpen() && !Check.chose) {
    Check.last = "dismissed";
    Say(Check.last);
  }
  Check.wasOpen = PopupMenuOpen();
  WriteState();
}

void OnEvent(const WindowEvent& e) {
  switch (e.kind) {
    case WindowEventKind::Timer: DrawCheckFrame(); break;
    case WindowEventKind::Close: Check.quit = true; break;
    case WindowEventKind::RightDown: OpenCheckMenu(); break;
    case WindowEventKind::KeyDown:
      if (e.key == kVkF11) {
        ToggleFullScreen();
        PixelRect r;
        TopWindowRect(MainTopWindow(), &r);
        Say(fmt::format("full screen {} at {}", MainWindowFullScreen() ? "on" : "off", RectText(r)));
      } else if (e.key == kVkM) {
        OpenCheckMenu();
      } else if (e.key == kVkQ) {
        Check.quit = true;
      }
      break;
    default: break;
  }
}

// "X,Y,W,H" in pixels, W and H at least 200; false for anything else.
bool ParseRect(const std::wstring& text, PixelRect* rect) {
  constexpr int64_t kMinSide = 200, kMaxCoordinate = 1 << 20;
  const std::vector<std::wstring> parts = SplitString(text, L',');
  int64_t v[4] = {};
  if (parts.size() != 4 || !ParseInteger(parts[0], &v[0], -kMaxCoordinate, kMaxCoordinate) ||
      !ParseInteger(parts[1], &v[1], -kMaxCoordinate, kMaxCoordinate) ||
      !ParseInteger(parts[2], &v[2], kMinSide, kMaxCoordinate) || !ParseInteger(parts[3], &v[3], kMinSide, kMaxCoordinate))
    return false;
  *rect = PixelRect{static_cast<int>(v[0]), static_cast<int>(v[1]), static_cast<int>(v[2]), static_cast<int>(v[3])};
  return true;
}

// Arguments: [--state FILE] [--rect X,Y,W,H] [--maximised] [--load-while-open]
int RunMenuCheck(const std::vector<std::string>& args) {
  PixelRect rect{40, 40, 900, 600};
  bool maximised = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--state" && i + 1 < args.size()) {
      Check.statePath = args[++i];
    } else if (args[i] == "--rect" && i + 1 < args.size()) {
      if (!ParseRect(Utf8ToWide(args[++i]), &rect)) {
        std::fprintf(stderr, "veldmix-tool menu-check: --rect wants X,Y,W,H (W and H at least 200)\n");
        return 2;
      }
    } else if (args[i] == "--maximised") {
      maximised = true;
    } else if (args[i] == "--load-while-open") {
      Check.loadWhileOpen = true;
    } else {
      std::fprintf(stderr, "veldmix-tool menu-check: unknown argument \"%s\"\n", args[i].c_str());
      return 2;
    }
  }
  std::wstring error;
  if (!StartWindowing(&error)) {
    std::fprintf(stderr, "veldmix-tool menu-check: no display (%s)\n", WideToUtf8(error).c_str());
    return 1;
  }
  if (!OpenMainWindow(L"Veldmix menu check", rect.w, rect.h)) {
    StopWindowing();
    return 1;
  }
  PlaceWindow(rect);
  ShowMainWindow(maximised);
  SetFramePresenter(PresentFrameImage);
  SetWindowTimer(kFrameTimer, kFrameMs);
  Say("ready");
  WindowEvent e;
  while (!Check.quit && NextWindowEvent(&e, kWaitMs)) OnEvent(e);
  ClosePopupMenu();
  SetFramePresenter(nullptr);
  ReleaseDevice();
  StopWindowing();
  return 0;
}

}  // namespace

extern const ToolCommand kMenuCommands[] = {
    {"menu-check", "[--state FILE] [--rect X,Y,W,H] [--maximised] [--load-while-open]",
     "test driver: a window with the popup menu (right-click, M) and full screen (F11)", RunMenuCheck},
};
extern const int kMenuCommandCount = 1;
