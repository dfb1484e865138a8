// The settings screen's click map for scripts that drive the real window: the widgets one drawn
// frame records, in window pixels.
#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

#include "app/test_mode.h"
#include "settings/settings_screen.h"
#include "tools/veldmix-tool/commands.h"
#include "ui/frame_driver.h"
#include "ui/glow.h"
#include "ui/widgets.h"

bool PrintSettingsWidgets(int pixelWidth, int pixelHeight, double scale, int tab) {
  TestMode = true;
  SetFramePresenter(nullptr);
  SettingsOpen = true;
  SettingsPage = tab;
  const FrameWindow window{pixelWidth, pixelHeight, false, static_cast<float>(scale)};
  DriveFrame(window);  // the section cards learn their heights
  std::vector<std::pair<int, Rc>> drawn;
  WidgetRectLog = &drawn;
  DriveFrame(window);
  WidgetRectLog = nullptr;
  for (const auto& [id, r] : drawn) {
    const long x0 = std::lround(r.x * scale), y0 = std::lround(r.y * scale);
    const long x1 = std::lround(r.Right() * scale), y1 = std::lround(r.Bottom() * scale);
    std::printf("id.%d %ld %ld %ld %ld\n", id, x0, y0, x1 - x0, y1 - y0);
  }
  return !drawn.empty();
}
