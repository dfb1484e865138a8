// veldmix-tool screen OUT.png: the main window's frame drawn off-screen through the real frame
// driver, with tracks loaded onto the decks through the real LoadTrack and its completion.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "app/frame_tick.h"
#include "app/main_window.h"
#include "base/settings.h"
#include "base/test_mode.h"
#include "base/text_parse.h"
#include "engine/deck_commands.h"
#include "engine/deck_view.h"
#include "engine/side_slots.h"
#include "platform/audio_devices.h"
#include "platform/clock.h"
#include "platform/draw_surface.h"
#include "platform/text.h"
#include "platform/ui_post.h"
#include "screens/layout.h"
#include "settings/help_screen.h"
#include "settings/settings_screen.h"
#include "settings/skin_editor.h"
#include "settings/tour.h"
#include "tools/veldmix-tool/commands.h"
#include "ui/draw.h"
#include "ui/frame_driver.h"
#include "ui/glow.h"
#include "ui/language.h"

namespace {

constexpr int kFramesDrawn = 3;           // a few frames, so per-frame state settles
constexpr int kMinSide = kMinDrawPixels;  // smaller frames are not drawn at all
constexpr int kMaxWidth = 7680, kMaxHeight = 4320;
constexpr int kMaxLanguage = 4;
constexpr auto kLoadTimeout = std::chrono::seconds(120);
constexpr auto kLoadPoll = std::chrono::milliseconds(5);

constexpr const char kScreenUsage[] =
    "usage: veldmix-tool screen OUT.png [--lang N] [--size WxH] [--layout full|library|performance]\n"
    "       [--settings TAB | --skin-editor | --tour STEP | --help] [TRACK...]\n"
    "Loads up to four tracks onto decks A-D (as the window does), draws a few frames of the main\n"
    "window off-screen through the frame driver and writes the last one as a PNG.\n"
    "  --lang N     UI language: 0 English, 1 Spanish, 2 German, 3 Portuguese, 4 French\n"
    "  --size WxH   frame size in pixels, 200x200 up to 7680x4320 (default 1500x980)\n"
    "  --layout L   the main screen's layout (default full)\n"
    "  --settings TAB  the settings screen open on tab TAB (0-9)\n"
    "  --skin-editor   the skin editor open\n"
    "  --tour STEP     the first-run tour open at STEP (0 to 7)\n"
    "  --help          the help screen open (after OUT.png)\n"
    "Prints how many texts were cut with an ellipsis (\"cut N\") and the first of them (\"cut: TEXT\").\n"
    "Nothing of the user's library or settings is read or written. Exit 1 when a track does not\n"
    "load (the frame is still written) or the PNG cannot be written.\n";

struct ScreenArgs {
  std::string out;
  int language = 0;
  int width = kPreferredWidth;
  int height = kPreferredHeight;
  std::vector<std::string> tracks;
  int settingsTab = -1;
  bool skinEditor = false;
  int tourStep = -1;  // -1: no tour
  bool help = false;
  int32_t layout = kLayoutFull;
};

bool ParseInt(const std::string& text, int low, int high, int* value) {
  int64_t v = 0;
  if (!ParseInteger(text, &v, low, high)) return false;
  *value = static_cast<int>(v);
  return true;
}

bool ParseSize(const std::string& text, int* width, int* height) {
  const size_t x = text.find('x');
  return x != std::string::npos && ParseInt(text.substr(0, x), kMinSide, kMaxWidth, width) &&
         ParseInt(text.substr(x + 1), kMinSide, kMaxHeight, height);
}

// False (with the reason on stderr) for arguments that do not fit the usage.
bool ParseScreenArgs(const std::vector<std::string>& args, ScreenArgs* parsed) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--lang") {
      if (!hasValue || !ParseInt(args[++i], 0, kMaxLanguage, &parsed->language)) {
        std::fputs("veldmix-tool screen: --lang takes 0 to 4\n", stderr);
        return false;
      }
    } else if (a == "--size") {
      if (!hasValue || !ParseSize(args[++i], &parsed->width, &parsed->height)) {
        std::fputs("veldmix-tool screen: --size takes WxH, 200x200 up to 7680x4320\n", stderr);
        return false;
      }
    } else if (a == "--settings") {
      if (!hasValue || !ParseInt(args[++i], 0, kSettingsTabs - 1, &parsed->settingsTab)) {
        std::fputs("veldmix-tool screen: --settings takes 0 to 9\n", stderr);
        return false;
      }
    } else if (a == "--layout") {
      const std::string name = hasValue ? args[++i] : "";
      if (name == "full") parsed->layout = kLayoutFull;
      else if (name == "library") parsed->layout = kLayoutLibrary;
      else if (name == "performance") parsed->layout = kLayoutPerformance;
      else {
        std::fputs("veldmix-tool screen: --layout takes full, library or performance\n", stderr);
        return false;
      }
    } else if (a == "--skin-editor") {
      parsed->skinEditor = true;
    } else if (a == "--tour") {
      if (!hasValue || !ParseInt(args[++i], 0, kTourSteps - 1, &parsed->tourStep)) {
        std::fputs("veldmix-tool screen: --tour takes 0 to 7\n", stderr);
        return false;
      }
    } else if (a == "--help") {
      parsed->help = true;
    } else if (parsed->out.empty()) {
      parsed->out = a;
    } else {
      parsed->tracks.push_back(a);
    }
  }
  if (parsed->out.empty()) return false;
  if (parsed->tracks.size() > kEngineDecks) {
    std::fputs("veldmix-tool screen: at most four tracks, one per deck\n", stderr);
    return false;
  }
  return true;
}

int RunScreen(const std::vector<std::string>& args) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::fputs(kScreenUsage, stdout);
    return 0;
  }
  ScreenArgs parsed;
  if (!ParseScreenArgs(args, &parsed)) {
    std::fputs(kScreenUsage, stderr);
    return 2;
  }
  // A test run: the per-frame tick's library autosave and settings saves write nothing.
  TestMode = true;
  Settings.StemsAuto = false;
  Settings.FourDecks = parsed.tracks.size() > kTwoDecks;
  Settings.Layout = parsed.layout;
  SetUiLanguage(parsed.language);
  const bool loaded = LoadDecks(parsed.tracks);

  SetFramePresenter(nullptr);
  const FrameWindow window{parsed.width, parsed.height, false, 1.0f};
  const bool overlay = parsed.settingsTab >= 0 || parsed.skinEditor || parsed.tourStep >= 0 || parsed.help;
  // With an overlay, the cut texts reported are the overlay's: the main screen is drawn on its own
  // first (its texts are kept images from then on), and what one more bare frame cuts is taken
  // away from what the overlay's first frame cuts.
  std::vector<std::string> bareCuts;
  uint64_t bareCount = 0;
  if (overlay) {
    for (int i = 0; i < kFramesDrawn; ++i) {
      ResetTextLinesCut();
      DriveFrame(window);
      SleepMs(kFrameTimerMs);
    }
    bareCuts = CutTextSamples();
    bareCount = TextLinesCut();
  }
  if (parsed.settingsTab >= 0) {
    SettingsOpen = true;
    SettingsPage = parsed.settingsTab;
    // As the top bar's settings button does: the device pages show the sound server's devices.
    SettingsOutputDevices = ListAudioDevices(kRenderFlow);
    SettingsInputDevices = ListAudioDevices(kCaptureFlow);
  }
  SkinEditorOpen = parsed.skinEditor;
  if (parsed.tourStep >= 0) TourOpen = true, TourStep = parsed.tourStep;
  HelpOpen = parsed.help;
  ResetTextLinesCut();
  uint64_t cut = 0;
  std::vector<std::string> cutTexts;
  for (int i = 0; i < kFramesDrawn; ++i) {
    if (i > 0) SleepMs(kFrameTimerMs);
    DriveFrame(window);
    if (i == 0) {
      cut = TextLinesCut() - std::min(TextLinesCut(), bareCount);
      cutTexts = CutTextSamples();
      for (const std::string& t : bareCuts)
        if (auto it = std::find(cutTexts.begin(), cutTexts.end(), t); it != cutTexts.end()) cutTexts.erase(it);
    }
  }
  std::wstring error;
  if (!WriteFramePng(Utf8ToWide(parsed.out), &error)) {
    std::fprintf(stderr, "veldmix-tool screen: %s: %s\n", parsed.out.c_str(), WideToUtf8(error).c_str());
    return 1;
  }
  std::printf("%s: %dx%d, %zu track(s), language %d\n", parsed.out.c_str(), parsed.width, parsed.height,
              parsed.tracks.size(), parsed.language);
  std::printf("cut %llu\n", static_cast<unsigned long long>(cut));
  for (const std::string& text : cutTexts) std::printf("cut: %s\n", text.c_str());
  return loaded ? 0 : 1;
}

}  // namespace

// Loads the tracks as the window does: LoadTrack, then completion 1 drained on this thread.
// False when any deck ends without its track; each failure is printed.
bool LoadDecks(const std::vector<std::string>& tracks) {
  OpenUiPosts(nullptr);
  bool ok = true;
  for (size_t d = 0; d < tracks.size(); ++d) {
    if (!LoadTrack(static_cast<int>(d), PathFromBytes(tracks[d]))) {
      std::fprintf(stderr, "veldmix-tool screen: %s: refused\n", tracks[d].c_str());
      ok = false;
    }
  }
  const auto deadline = std::chrono::steady_clock::now() + kLoadTimeout;
  auto loading = [&] {
    for (size_t d = 0; d < tracks.size(); ++d)
      if (LiveDeckViews[d].loading) return true;
    return false;
  };
  while (loading() && std::chrono::steady_clock::now() < deadline) {
    DrainUiPosts([](const UiPost& post) {
      if (post.message == kDeckLoadPost) FinishDeckLoad(post.wparam, static_cast<DeckLoadResult*>(post.lparam));
    });
    std::this_thread::sleep_for(kLoadPoll);
  }
  for (size_t d = 0; d < tracks.size(); ++d) {
    const DeckView& view = LiveDeckViews[d];
    if (view.loading) {
      std::fprintf(stderr, "veldmix-tool screen: %s: still loading after %lld s\n", tracks[d].c_str(),
                   static_cast<long long>(kLoadTimeout.count()));
      ok = false;
    } else if (!view.error.empty()) {
      std::fprintf(stderr, "veldmix-tool screen: %s: %s\n", tracks[d].c_str(), WideToUtf8(EnglishText(view.error)).c_str());
      ok = false;
    }
  }
  CloseUiPosts([](const UiPost& post) {
    if (post.message == kDeckLoadPost) FreeDeckLoadResult(static_cast<DeckLoadResult*>(post.lparam));
  });
  return ok;
}

extern const ToolCommand kScreenCommands[] = {
    {"screen",
     "OUT.png [--lang N] [--size WxH] [--layout L] [--settings TAB | --skin-editor | --tour STEP | --help] [TRACK...]",
     "draw the main window off-screen as a PNG", RunScreen},
};
extern const int kScreenCommandCount = 1;
