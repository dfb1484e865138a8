#include "screens/browser_screen.h"

BrowserScreenState BrowserScreen;
std::vector<ListDropRow> SidebarListRows;

namespace {
constexpr float kPanelRadiusDip = 8.0f;
}  // namespace

// Until the browser screen exists: its empty panel.
void DrawBrowser(Rc r) {
  if (r.w <= 0 || r.h <= 0) return;
  DrawPanel(r, kPanelRadiusDip);
}
