// The feature run's screens: 33 rows, each sets the overlays, language and page it names, lets
// the window draw it on four ticks and queues a screenshot after the next presented frame.
// Settings pages are opened by their tab index only, so a page draws whatever its file holds.

#include <atomic>
#include <ctime>
#include <memory>
#include <mutex>

#include "base/palette.h"
#include "base/settings.h"
#include "broadcast/camera.h"
#include "broadcast/speed_test.h"
#include "control/action_table.h"
#include "control/auto_map.h"
#include "control/macros_panel.h"
#include "engine/deck_view.h"
#include "engine/pads.h"
#include "platform/clock.h"
#include "screens/grid_editor.h"
#include "selftest/feature_run.h"
#include "selftest/selftest_state.h"
#include "selftest/window_capture.h"
#include "settings/help_screen.h"
#include "settings/settings_screen.h"
#include "settings/skin_editor.h"
#include "settings/skins.h"
#include "settings/tour.h"
#include "settings/updates.h"
#include "ui/language.h"
#include "ui/modal.h"

#include "app/main_window.h"
#include "platform/window.h"

namespace FeatureTest {
namespace {

struct FeatureScreen {
  int code;
  const wchar_t* file;
};

constexpr FeatureScreen kScreens[kScreenCount] = {
    {-1, L"main.png"},
    {4, L"settings-controllers.png"},
    {0, L"settings-audio.png"},
    {1, L"settings-mixing.png"},
    {-2, L"grid-editor.png"},
    {7, L"settings-video.png"},
    {3, L"settings-broadcast.png"},
    {-64, L"settings-broadcast-speed.png"},
    {-65, L"settings-broadcast-speed-checking.png"},
    {-3, L"macros.png"},
    {-4, L"skin-ember.png"},
    {-5, L"skin-editor.png"},
    {-10, L"tour-1.png"},
    {-11, L"tour-2.png"},
    {-12, L"tour-3.png"},
    {-13, L"tour-4.png"},
    {-14, L"tour-5.png"},
    {-15, L"tour-6.png"},
    {-16, L"tour-7.png"},
    {-17, L"tour-8.png"},
    {-30, L"lang-es-main.png"},
    {-31, L"lang-de-settings.png"},
    {-32, L"lang-pt-help.png"},
    {-33, L"lang-fr-tour.png"},
    {-40, L"automap-step.png"},
    {-41, L"automap-done.png"},
    {-50, L"settings-karaoke-camera.png"},
    {-60, L"ask-update.png"},
    {-61, L"ask-install.png"},
    {-62, L"ask-update-es.png"},
    {8, L"settings-updates.png"},
    {-63, L"settings-updates-downloading.png"},
    {9, L"settings-about.png"},
};

constexpr int kTicksPerScreen = 4;
constexpr int kCameraTicks = 40;
constexpr int kLanguageSpanish = 1, kLanguageGerman = 2, kLanguagePortuguese = 3, kLanguageFrench = 4;
constexpr int64_t kThreeDays = 259200;

void SetTour(bool open, int32_t step) {
  if (open && !TourOpen) OpenTour();
  if (open) TourStep = step;
  else TourOpen = false;
}

void EmptyUpdateInformation() {
  Updates.phase = kUpdateIdle;
  Updates.progress.reset();
  Updates.statusText = UiText();
  Updates.offered = UpdateInfo{};
  if (Prompt.pending) Prompt = ConfirmPrompt{};
}

void SetGridEditor(bool open) {
  if (open) {
    GridEditorDeck = 0;
    return;
  }
  if (GridEditorDeck < 0) return;
  GridEditorDeck = -1;
  std::lock_guard<RealtimeMutex> hold(Engine.lock);
  Engine.clickDeck = -1;
}

// The update flow's own questions, in the language just set; neither answer does anything.
void AskUpdate(int code) {
  const int64_t build = static_cast<int64_t>(BuildStamp());
  if (code == -61) AskToInstall([] {}, [] {});
  else AskToDownload(build + kThreeDays, build, [] {}, [] {});
}

void SetSpeedTest(int code) {
  Settings.Stream.Bitrate = 320;
  Settings.LiveVideoHeight = 1080;
  SpeedTestResult result;
  result.latencyMs = 18.0;
  result.downloadMbps = 74.6;
  if (code == -64) {
    result.phase = kSpeedPhaseDone;
    result.progress = 1.0f;
    result.uploadMbps = 8.4;
    result.finishedAt = static_cast<int64_t>(std::time(nullptr));
  } else {
    result.phase = kSpeedPhaseUpload;
    result.progress = 0.71f;
    result.uploadMbps = 5.3;
  }
  SpeedTest::SetResult(result);
}

void TakeScreenshot(const std::wstring& file) {
  Run.busy = true;
  FrameWindow window;
  WindowClientSize(&window.pixelWidth, &window.pixelHeight);
  window.scale = UiScale;
  std::wstring error;
  const bool written = CaptureWindowPng(window, OutputFile(file), &error);
  SelfTestCheck(written, L"screenshot " + file, error);
  Run.busy = false;
}

// What a row shows, set on each of its ticks (first: the row's first tick).
void ApplyRow(int code, bool first) {
  SettingsOpen = code >= 0;
  if (code >= 0) SettingsPage = code;
  if (Run.screenIndex == 0 && first) {
    ClickDeckAction(0, kPadModeOffset + kPadSampler);
    ClickDeckAction(1, kPadModeOffset + kPadStems);
    LiveDeckViews[1].colorFx = 1;
  }
  SetGridEditor(code == -2);
  MacrosPanelOpen = code == -3;
  SkinEditorOpen = code == -5;
  if (code <= -10 && code >= -29) SetTour(true, -10 - code);
  else SetTour(false, 0);
  if (code == -50) {
    SettingsOpen = true;
    SettingsPage = kSettingsPageKaraoke;
    Settings.CameraOn = true;
    Settings.CameraDevice = kTestPatternDevice;
  }
  if (code >= 8) {
    EmptyUpdateInformation();
    SetUiLanguage(Settings.Language);
  }
  if (code == -63) {
    SettingsOpen = true;
    SettingsPage = 8;
    if (first) {
      EmptyUpdateInformation();
      Updates.offered.stamp = static_cast<int64_t>(BuildStamp()) + kThreeDays;
      Updates.offered.file = L"VeldmixSetup-1.0.10.msi";
      Updates.phase = kUpdateDownloading;
      Updates.progress = std::make_shared<std::atomic<float>>(0.42f);
      Updates.statusText = UiText(L"Downloading VeldmixSetup-1.0.10.msi\u2026");
    }
  }
  if (code == -64 || code == -65) {
    SettingsOpen = true;
    SettingsPage = kSettingsPageBroadcast;
    if (first) SetSpeedTest(code);
  }
  if (code <= -60 && code >= -62 && first) {
    SettingsOpen = false;
    SetUiLanguage(code == -62 ? kLanguageSpanish : Settings.Language);
    AskUpdate(code);
  }
  if (code <= -30 && code >= -39) {
    const int language = code == -30   ? kLanguageSpanish
                         : code == -31 ? kLanguageGerman
                         : code == -32 ? kLanguagePortuguese
                                       : kLanguageFrench;
    SetUiLanguage(language);
    SettingsOpen = code == -31;
    if (SettingsOpen) SettingsPage = kSettingsPageLook;
    HelpOpen = code == -32;
    SetTour(code == -33, 2);
  }
  if (code <= -40 && code >= -49) {
    AutoMapOpen = true;
    if (first) {
      SetUiLanguage(Settings.Language);
      SetTour(false, 0);
      HelpOpen = false;
      SettingsOpen = false;
      AutoMapState.active = true;
      AutoMapState.step = code == -40 ? 10 : kAutoMapSteps;
      AutoMapState.lastText = L"CC 19 \u00b7 ch 1  \u2192  87";
      AutoMapState.lastCapture = static_cast<double>(MonotonicMs()) / 1000.0;
    }
  } else {
    AutoMapOpen = false;
  }
  if (code == -4 && Settings.Skin != L"Ember") {
    Settings.Skin = L"Ember";
    LoadSkin();
  }
}

void CloseScreens() {
  HelpOpen = false;
  SettingsOpen = false;
  EmptyUpdateInformation();
  AutoMapOpen = false;
  AutoMapState.active = false;
  SetTour(false, 0);
  Settings.CameraOn = false;
  Settings.CameraDevice.clear();
  SetUiLanguage(Settings.Language);
  SetGridEditor(false);
  MacrosPanelOpen = false;
  SkinEditorOpen = false;
}

}  // namespace

std::vector<std::wstring> ScreenFileNames() {
  std::vector<std::wstring> names;
  for (const FeatureScreen& screen : kScreens) names.emplace_back(screen.file);
  return names;
}

bool ScreensTick() {
  if (Run.screenIndex >= kScreenCount) {
    CloseScreens();
    return true;
  }
  const FeatureScreen& row = kScreens[Run.screenIndex];
  ApplyRow(row.code, Run.screenTicks == 0);
  if (row.code == -50 && Run.screenTicks < kCameraTicks) {
    if (++Run.screenTicks == kCameraTicks) Run.screenTicks = kTicksPerScreen - 1;
    else return false;
  }
  if (++Run.screenTicks < kTicksPerScreen) return false;
  Run.screenTicks = 0;
  const std::wstring file = row.file;
  QueueDeferredAction([file] { TakeScreenshot(file); });
  ++Run.screenIndex;
  return false;
}

}  // namespace FeatureTest
