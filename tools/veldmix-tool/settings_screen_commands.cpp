// Click maps for scripts that drive the real window: the widgets one drawn frame records, in
// window pixels, with the sound devices the program would see.
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "app/frame_tick.h"
#include "base/test_mode.h"
#include "broadcast/camera.h"
#include "platform/audio_devices.h"
#include "screens/top_bar.h"
#include "settings/settings_screen.h"
#include "settings/skin_editor.h"
#include "tools/veldmix-tool/commands.h"
#include "ui/frame_driver.h"
#include "ui/glow.h"
#include "ui/widgets.h"

namespace {

constexpr int kFirstTabId = 3000;     // the settings screen draws its tabs first
constexpr int kFirstColourId = 3500;  // the skin editor draws its colours first

}  // namespace

void PrintRect(const std::string& name, Rc r, double scale) {
  if (!(r.w > 0 && r.h > 0)) return;
  const long x0 = std::lround(r.x * scale), y0 = std::lround(r.y * scale);
  const long x1 = std::lround(r.Right() * scale), y1 = std::lround(r.Bottom() * scale);
  std::printf("%s %ld %ld %ld %ld\n", name.c_str(), x0, y0, x1 - x0, y1 - y0);
}

std::vector<std::pair<int, Rc>> DrawnFrameWidgets(int pixelWidth, int pixelHeight, double scale) {
  TestMode = true;
  CameraCaptureAllowed = false;  // the rectangles never need a picture
  SetFramePresenter(nullptr);
  const FrameWindow window{pixelWidth, pixelHeight, false, static_cast<float>(scale)};
  DriveFrame(window);  // the section cards learn their heights
  std::vector<std::pair<int, Rc>> drawn;
  WidgetRectLog = &drawn;
  DriveFrame(window);
  WidgetRectLog = nullptr;
  return drawn;
}

bool PrintOverlayWidgets(int pixelWidth, int pixelHeight, double scale, int tab, bool skinEditor) {
  if (!skinEditor) {
    // As the top bar opens the screen: a 4-channel card's rows have a pair stepper.
    SettingsOutputDevices = ListAudioDevices(kRenderFlow);
    SettingsInputDevices = ListAudioDevices(kCaptureFlow);
  }
  SettingsOpen = !skinEditor;
  SettingsPage = tab;
  SkinEditorOpen = skinEditor;
  const std::vector<std::pair<int, Rc>> drawn = DrawnFrameWidgets(pixelWidth, pixelHeight, scale);
  // The main screen's buttons are drawn first, under the overlay: of those only the settings
  // button counts (it opens and closes the screen).
  const int first = skinEditor ? kFirstColourId : kFirstTabId;
  size_t start = drawn.size();
  for (size_t i = 0; i < drawn.size(); ++i) {
    if (drawn[i].first == kSettingsButtonId && !skinEditor) PrintRect("id.2", drawn[i].second, scale);
    if (drawn[i].first == first && start == drawn.size()) start = i;
  }
  for (size_t i = start; i < drawn.size(); ++i)
    PrintRect("id." + std::to_string(drawn[i].first), drawn[i].second, scale);
  return start < drawn.size();
}
