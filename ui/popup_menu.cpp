#include "ui/popup_menu.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>

#include "base/palette.h"
#include "engine/deck_view.h"
#include "platform/clock.h"
#include "platform/draw_surface.h"
#include "platform/menu_window.h"
#include "platform/monitors.h"
#include "platform/text.h"
#include "ui/draw.h"
#include "ui/frame_driver.h"
#include "ui/language.h"
#include "ui/modal.h"

namespace {

constexpr float kWidestTextBoxDip = 4000.0f;    // texts are measured and drawn unshortened
constexpr int kOpenOffsetPx = 2;                // the root opens this far below and right of the point
constexpr float kSubmenuOverlapDip = 4.0f;      // a submenu overlaps its parent's right edge
constexpr int kFlipOverlapPx = 4;               // ... or, flipped, its parent's left edge
constexpr int kNoFlip = -1;

// A level taller than the screen scrolls: by the wheel, by keys that move the highlight out of
// view, and while the pointer rests on the arrow at either end.
constexpr float kWheelStepItems = 3.0f;         // items per wheel step
constexpr uint64_t kArrowStepMs = 70;           // one item per step while the pointer is on an arrow
constexpr float kArrowHalfDip = 5.0f, kArrowRiseDip = 3.0f, kArrowLineDip = 1.6f;

// Paint, in DIPs.
constexpr uint32_t kMenuBackground = 0x12151C;
constexpr uint32_t kSeparatorColour = 0x2A2F3B;
constexpr float kTintHeightDip = 60.0f;
constexpr float kTintAlpha = 0.1f;
constexpr float kAccentLineAlpha = 0.7f;
constexpr float kAccentLineInsetDip = 12.0f;
constexpr float kBorderShade = 0.7f;            // the window's outline: the accent darkened to this
constexpr float kSeparatorInsetDip = 14.0f;
constexpr float kHoverInsetDip = 6.0f;
constexpr float kHoverRadiusDip = 5.0f;
constexpr float kHoverAlphaLeft = 0.34f, kHoverAlphaRight = 0.14f, kHoverOutlineAlpha = 0.55f;
constexpr float kMarkerXDip = 9.0f, kMarkerWidthDip = 3.0f, kMarkerInsetDip = 8.0f, kMarkerRadiusDip = 1.5f;
constexpr float kTextAlpha = 0.92f;
constexpr float kCheckCentreXDip = 23.0f, kCheckRadiusDip = 8.0f;
constexpr float kCheckDiscAlpha = 0.22f, kCheckDiscDisabledAlpha = 0.1f, kCheckLighten = 0.35f;
constexpr float kCheckBoxLeftDip = 8.0f, kCheckBoxRightDip = 38.0f;
constexpr float kTextLeftDip = 40.0f;
constexpr float kChevronOuterDip = 20.5f, kChevronTipDip = 16.0f, kChevronHalfDip = 4.5f, kChevronWidthDip = 1.6f;
constexpr int kSymbolWeight = 600;
constexpr wchar_t kCheckMark[] = L"\u2713";

// Virtual-key codes the menu answers.
constexpr int kVkReturn = 0x0D, kVkEscape = 0x1B, kVkSpace = 0x20;
constexpr int kVkLeft = 0x25, kVkUp = 0x26, kVkRight = 0x27, kVkDown = 0x28;

// One open window of the menu: level 0 is the root, each open submenu adds one.
struct MenuLevel {
  MenuWindow* window = nullptr;
  std::vector<MenuItem> items;
  int hover = -1;
  float width = 0.0f, height = 0.0f;
  PixelRect rect;
  std::unique_ptr<DrawSurface> surface;  // made on the first paint
  bool dirty = true;
  float view = 0.0f;       // the shown height, DIPs: less than height when the screen is shorter
  float scroll = 0.0f;     // DIPs of the level above the window's top
  float pointerY = -1.0f;  // the pointer's y in the window, DIPs; -1 while it is elsewhere
  int arrow = 0;           // the pointer rests on the top (-1) or bottom (+1) arrow
  uint64_t arrowStepMs = 0;
};

// The one menu run (one menu at a time).
struct MenuRun {
  bool open = false;
  std::vector<PopupMenuEntry> menu;  // owned here: the levels point into it
  std::vector<MenuLevel> levels;
  float scale = 1.0f;
  Color accent;
  PopupMenuAction choose;
  PopupMenuGuard guard;
  bool done = false;
  uint32_t result = 0;
  bool hadFocus = false;     // the program had the keyboard when the menu opened
  int unfocusedSteps = 0;    // steps in a row without it
  uint32_t serial = 0;       // raised by every ShowPopupMenu: a pump queued for an older run stops
};
MenuRun Run;

// Focus moves through a short gap with no window focused when a window is shown; only a loss
// that outlasts this many steps (frames) is another application taking over.
constexpr int kFocusLossSteps = 2;

Rgba RgbaOf(Color c) { return Rgba{c.r, c.g, c.b, c.a}; }

int PixelsOf(float dip) { return static_cast<int>(std::ceil(dip * Run.scale)); }

void CloseLevelsFrom(size_t count) {
  while (Run.levels.size() > count) {
    CloseMenuWindow(Run.levels.back().window);
    Run.levels.pop_back();
  }
}

// Opens a level for `entries` asking for its top-left at (x, y); flipX is the parent's left edge
// (kNoFlip for the root). False when no window could be made.
bool OpenLevel(const std::vector<PopupMenuEntry>& entries, int x, int y, int flipX) {
  MenuLayout layout = LayoutMenuLevel(entries);
  if (layout.items.empty()) return false;
  const int width = PixelsOf(layout.width), height = PixelsOf(layout.height);
  PixelRect work{x, y, width, height};
  const std::vector<MonitorInfo> monitors = ListMonitors();
  const int monitor = MonitorNearestPoint(monitors, x, y);
  if (monitor >= 0) work = monitors[monitor].workArea;
  const PixelRect rect = FitMenuRect(x, y, width, height, work, flipX);
  MenuWindow* window = OpenMenuWindow(rect);
  if (!window) return false;
  MenuLevel level;
  level.window = window;
  level.items = std::move(layout.items);
  level.width = layout.width;
  level.height = layout.height;
  level.rect = MenuWindowRect(window);
  level.view = std::min(layout.height, static_cast<float>(level.rect.h) / Run.scale);
  Run.levels.push_back(std::move(level));
  return true;
}

// Opens the submenu of item i of level l next to it, closing anything deeper first.
bool OpenSubmenu(size_t l, int i) {
  CloseLevelsFrom(l + 1);
  const MenuLevel& level = Run.levels[l];
  const MenuItem& item = level.items[static_cast<size_t>(i)];
  const int x = level.rect.x + level.rect.w - static_cast<int>(kSubmenuOverlapDip * Run.scale);
  const int y = level.rect.y + static_cast<int>((item.top - level.scroll - kMenuPadDip) * Run.scale);
  return OpenLevel(*item.submenu, x, y, level.rect.x);
}

void SetHover(MenuLevel& level, int i) {
  if (level.hover == i) return;
  level.hover = i;
  level.dirty = true;
}

float MaxScroll(const MenuLevel& level) { return std::max(0.0f, level.height - level.view); }

// The arrow under y (window DIPs): -1 the top one, +1 the bottom one, each shown only while there
// is more to scroll that way; 0 none.
int ArrowAt(const MenuLevel& level, float y) {
  if (y < 0) return 0;
  if (y < kMenuScrollArrowDip && level.scroll > 0) return -1;
  if (y >= level.view - kMenuScrollArrowDip && level.scroll < MaxScroll(level)) return 1;
  return 0;
}

// The item under window y (DIPs), -1 on an arrow.
int ItemAtWindowY(const MenuLevel& level, float y) {
  return ArrowAt(level, y) != 0 ? -1 : MenuItemAt(level.items, y + level.scroll);
}

void OnMouseMove(size_t l, float yPixels);

// Scrolls level l by `by` DIPs within its range; what it opened closes, and the item now under
// the pointer lights.
void ScrollLevel(size_t l, float by) {
  MenuLevel& level = Run.levels[l];
  const float scroll = std::clamp(level.scroll + by, 0.0f, MaxScroll(level));
  if (scroll == level.scroll) return;
  level.scroll = scroll;
  level.dirty = true;
  CloseLevelsFrom(l + 1);
  if (level.pointerY >= 0) {
    level.hover = -2;  // looked at afresh
    OnMouseMove(l, level.pointerY * Run.scale);
  }
}

// Scrolls the level so that item i lies wholly between the arrows.
void ScrollToItem(size_t l, int i) {
  const MenuLevel& level = Run.levels[l];
  if (i < 0 || MaxScroll(level) <= 0) return;
  const MenuItem& item = level.items[static_cast<size_t>(i)];
  const float top = item.top - level.scroll - kMenuScrollArrowDip;
  const float bottom = item.top + item.height - level.scroll - (level.view - kMenuScrollArrowDip);
  if (top < 0) ScrollLevel(l, top);
  else if (bottom > 0) ScrollLevel(l, bottom);
}

void EndRun(uint32_t result) {
  Run.done = true;
  Run.result = result;
}

void ActivateItem(size_t l, int i) {
  if (i < 0 || static_cast<size_t>(i) >= Run.levels[l].items.size()) return;
  const MenuItem& item = Run.levels[l].items[static_cast<size_t>(i)];
  if (item.separator || item.disabled) return;
  if (!item.submenu) {
    EndRun(item.id);
    return;
  }
  if (!OpenSubmenu(l, i)) return;
  MenuLevel& opened = Run.levels.back();
  SetHover(opened, NextSelectableItem(opened.items, -1, 1));
}

void OnMouseMove(size_t l, float yPixels) {
  MenuLevel& level = Run.levels[l];
  level.pointerY = yPixels / Run.scale;
  const int arrow = ArrowAt(level, level.pointerY);
  if (arrow != level.arrow) {
    level.arrowStepMs = MonotonicMs();
    level.arrow = arrow;
    level.dirty = true;
  }
  const int i = ItemAtWindowY(level, level.pointerY);
  if (i == level.hover) return;
  SetHover(level, i);
  if (i < 0) return;
  CloseLevelsFrom(l + 1);
  const MenuItem& item = Run.levels[l].items[static_cast<size_t>(i)];
  if (item.submenu && !item.disabled) OpenSubmenu(l, i);  // at once, no delay
}

void OnKey(int vk) {
  if (Run.levels.empty()) return;
  const size_t l = Run.levels.size() - 1;
  MenuLevel& level = Run.levels[l];
  switch (vk) {
    case kVkReturn:
    case kVkSpace:
      if (level.hover >= 0) ActivateItem(l, level.hover);
      break;
    case kVkEscape:
      if (l == 0) EndRun(0);
      else CloseLevelsFrom(l);
      break;
    case kVkLeft:
      if (l > 0) CloseLevelsFrom(l);
      break;
    case kVkRight:
      if (level.hover >= 0 && level.items[static_cast<size_t>(level.hover)].submenu) ActivateItem(l, level.hover);
      break;
    case kVkDown:
    case kVkUp: {
      const int next = NextSelectableItem(level.items, level.hover, vk == kVkDown ? 1 : -1);
      if (next >= 0) SetHover(level, next);
      ScrollToItem(l, next);
      break;
    }
    default:
      break;
  }
}

int LevelOf(const MenuWindow* window) {
  for (size_t l = 0; l < Run.levels.size(); ++l)
    if (Run.levels[l].window == window) return static_cast<int>(l);
  return -1;
}

void HandleEvent(const MenuEvent& e) {
  switch (e.kind) {
    case MenuEventKind::Key:
      OnKey(e.key);
      return;
    case MenuEventKind::PressOutside:
      EndRun(0);
      return;
    default:
      break;
  }
  const int l = LevelOf(e.window);
  if (l < 0) return;
  MenuLevel& level = Run.levels[static_cast<size_t>(l)];
  switch (e.kind) {
    case MenuEventKind::MouseMove:
      OnMouseMove(static_cast<size_t>(l), e.y);
      break;
    case MenuEventKind::LeftUp:
      // Items are chosen on the release; a click on an arrow scrolls a page.
      if (const int arrow = ArrowAt(level, e.y / Run.scale))
        ScrollLevel(static_cast<size_t>(l), static_cast<float>(arrow) * (level.view - 2 * kMenuScrollArrowDip));
      else
        ActivateItem(static_cast<size_t>(l), ItemAtWindowY(level, e.y / Run.scale));
      break;
    case MenuEventKind::Wheel:
      ScrollLevel(static_cast<size_t>(l), -e.y * kWheelStepItems * kMenuItemDip);
      break;
    case MenuEventKind::MouseLeave:
      level.pointerY = -1.0f;
      level.arrow = 0;
      // The parent of an open submenu keeps its highlight.
      if (static_cast<size_t>(l) + 1 == Run.levels.size()) SetHover(level, -1);
      break;
    case MenuEventKind::Exposed:
      level.dirty = true;
      break;
    default:
      break;
  }
}

TextFormat* SymbolFormat() {
  static auto format = std::make_unique<TextFormat>("Segoe UI Symbol", kSymbolWeight, kMenuFontDip);
  return format.get();
}

void PaintItem(const MenuLevel& level, int index, DrawSurface* surface) {
  const MenuItem& item = level.items[static_cast<size_t>(index)];
  const Color accent = Run.accent;
  const float w = level.width, top = item.top, h = item.height, cy = top + h / 2;
  if (item.separator) {
    DrawLine(kSeparatorInsetDip, cy, w - kSeparatorInsetDip, cy, ColorOf(kSeparatorColour), 1.0f);
    return;
  }
  const bool hovered = index == level.hover && !item.disabled;
  if (hovered) {
    const Rc box{kHoverInsetDip, top + 1, w - 2 * kHoverInsetDip, h - 2};
    GradientBrush* brush = LinearGradientBrush(WithAlpha(accent, kHoverAlphaLeft), WithAlpha(accent, kHoverAlphaRight),
                                               PointF{kHoverInsetDip, 0}, PointF{w - kHoverInsetDip, 0}, false);
    if (brush) FillRoundedRect(box, kHoverRadiusDip, Brush(brush));
    StrokeRoundedRect(box, kHoverRadiusDip, WithAlpha(accent, kHoverOutlineAlpha), 1.0f);
    FillRoundedRect(Rc{kMarkerXDip, top + kMarkerInsetDip, kMarkerWidthDip, h - 2 * kMarkerInsetDip}, kMarkerRadiusDip,
                    accent);
  }
  const Color faint = ColorOf(Pal.Faint);
  const Color text = item.disabled ? faint : hovered ? Color{1, 1, 1, 1} : ColorOf(Pal.Text, kTextAlpha);
  if (item.checked) {
    FillCircle(kCheckCentreXDip, cy, kCheckRadiusDip,
               WithAlpha(accent, item.disabled ? kCheckDiscDisabledAlpha : kCheckDiscAlpha));
    surface->SetColor(RgbaOf(item.disabled ? faint : Lighten(accent, kCheckLighten)));
    surface->DrawTextLine(*SymbolFormat(), WideToUtf8(kCheckMark), kCheckBoxLeftDip, top,
                          kCheckBoxRightDip - kCheckBoxLeftDip, h, TextAlign::Center);
  }
  DrawTextRun(item.text, Rc{kTextLeftDip, top, kWidestTextBoxDip, h}, kMenuFontDip, text, kAlignLeft, false,
              kFontSegoeUi);
  if (item.submenu) {
    const Color chevron = hovered ? Color{1, 1, 1, 1} : item.disabled ? faint : ColorOf(Pal.Dim);
    DrawLine(w - kChevronOuterDip, cy - kChevronHalfDip, w - kChevronTipDip, cy, chevron, kChevronWidthDip);
    DrawLine(w - kChevronTipDip, cy, w - kChevronOuterDip, cy + kChevronHalfDip, chevron, kChevronWidthDip);
  }
}

// The arrows of a level that scrolls, over the items at its ends, where there is more that way.
void PaintArrows(const MenuLevel& level) {
  const float cx = level.width / 2;
  for (const int arrow : {-1, 1}) {
    const bool more = arrow < 0 ? level.scroll > 0 : level.scroll < MaxScroll(level);
    if (!more) continue;
    const float top = arrow < 0 ? 0 : level.view - kMenuScrollArrowDip;
    FillRect(Rc{0, top, level.width, kMenuScrollArrowDip}, ColorOf(kMenuBackground));
    const float cy = top + kMenuScrollArrowDip / 2, tip = cy + arrow * kArrowRiseDip, base = cy - arrow * kArrowRiseDip;
    const Color c = level.arrow == arrow ? Run.accent : ColorOf(Pal.Dim);
    DrawLine(cx - kArrowHalfDip, base, cx, tip, c, kArrowLineDip);
    DrawLine(cx, tip, cx + kArrowHalfDip, base, c, kArrowLineDip);
  }
}

void PaintLevel(MenuLevel& level) {
  if (!level.surface)
    level.surface = DrawSurface::Create(std::max(1, level.rect.w), std::max(1, level.rect.h), Run.scale);
  DrawSurface* surface = level.surface.get();
  if (!surface) return;
  level.dirty = false;
  DrawSurface* previous = DrawTarget();
  SetDrawTarget(surface);
  surface->ResetClips();
  surface->SetTransform(Affine{});
  const Color accent = Run.accent;
  const float w = level.width;
  surface->Clear(RgbaOf(ColorOf(kMenuBackground)));
  GradientBrush* tint = LinearGradientBrush(WithAlpha(accent, kTintAlpha), WithAlpha(accent, 0), PointF{0, 0},
                                            PointF{0, kTintHeightDip}, false);
  if (tint) FillRect(Rc{0, 0, w, kTintHeightDip}, Brush(tint));
  DrawLine(kAccentLineInsetDip, 0.5f, w - kAccentLineInsetDip, 0.5f, WithAlpha(accent, kAccentLineAlpha), 1.0f);
  surface->SetTransform(Affine{1, 0, 0, 1, 0, -level.scroll});
  for (size_t i = 0; i < level.items.size(); ++i) PaintItem(level, static_cast<int>(i), surface);
  surface->SetTransform(Affine{});
  PaintArrows(level);
  // Stands in for the coloured window border the desktop does not draw here.
  StrokeRoundedRect(Rc{0, 0, w, level.view}, 0, Darken(accent, 1 - kBorderShade), 1.0f);
  SetDrawTarget(previous);
  PresentMenuWindow(level.window, surface->Pixels());
}

// Closes every window and, when an item was chosen and its target still holds, runs the action.
void FinishRun() {
  CloseLevelsFrom(0);
  CaptureInputForMenus(false);
  const uint32_t result = Run.result;
  PopupMenuAction choose = std::move(Run.choose);
  PopupMenuGuard guard = std::move(Run.guard);
  Run.open = false;
  Run.choose = nullptr;
  Run.guard = nullptr;
  Run.menu.clear();
  if (result != 0 && choose && (!guard || guard(result))) choose(result);
}

// Queues the pump for the frame after this one; it queues itself again while its run is open.
void QueuePump(uint32_t serial) {
  QueueDeferredAction([serial] {
    if (serial != Run.serial || !Run.open) return;
    PumpPopupMenu();
    if (serial == Run.serial && Run.open) QueuePump(serial);
  });
}

}  // namespace

// --- Showing ---

bool ShowPopupMenu(std::vector<PopupMenuEntry> menu, int screenX, int screenY, uint32_t accent, PopupMenuAction choose,
                   PopupMenuGuard guard) {
  if (Run.open) ClosePopupMenu();
  if (menu.empty()) return false;
  const float dpi = CurrentDpi();
  Run.scale = dpi > 0 ? dpi / kBaseDpi : 1.0f;
  Run.accent = ColorOf(accent);
  Run.menu = std::move(menu);
  Run.choose = std::move(choose);
  Run.guard = std::move(guard);
  Run.done = false;
  Run.result = 0;
  Run.unfocusedSteps = 0;
  Run.hadFocus = ProgramHasFocus();
  if (!OpenLevel(Run.menu, screenX + kOpenOffsetPx, screenY + kOpenOffsetPx, kNoFlip)) {
    Run.menu.clear();
    Run.choose = nullptr;
    Run.guard = nullptr;
    return false;
  }
  Run.open = true;
  ++Run.serial;
  CaptureInputForMenus(true);
  PaintLevel(Run.levels.front());
  QueuePump(Run.serial);
  return true;
}

bool ShowPopupMenu(std::vector<PopupMenuEntry> menu, uint32_t accent, PopupMenuAction choose, PopupMenuGuard guard) {
  int x = 0, y = 0;
  if (!PointerScreenPosition(&x, &y)) return false;
  return ShowPopupMenu(std::move(menu), x, y, accent, std::move(choose), std::move(guard));
}

PopupMenuGuard DeckMenuGuard(int deck) {
  if (!ValidDeck(deck)) return [](uint32_t) { return false; };
  const uint32_t serial = LiveDeckViews[deck].loadSerial;
  return [deck, serial](uint32_t) { return LiveDeckViews[deck].loadSerial == serial; };
}

bool PopupMenuOpen() { return Run.open; }

void ClosePopupMenu() {
  if (!Run.open) return;
  Run.result = 0;
  FinishRun();
}

void PumpPopupMenu() {
  if (!Run.open) return;
  MenuEvent e;
  while (!Run.done && NextMenuEvent(&e)) HandleEvent(e);
  if (!Run.done && Run.hadFocus) {
    Run.unfocusedSteps = ProgramHasFocus() ? 0 : Run.unfocusedSteps + 1;
    if (Run.unfocusedSteps >= kFocusLossSteps) EndRun(0);  // another application took over
  }
  if (Run.done) {
    FinishRun();
    return;
  }
  const uint64_t now = MonotonicMs();
  for (size_t l = 0; l < Run.levels.size(); ++l) {
    MenuLevel& level = Run.levels[l];
    if (level.arrow == 0) continue;
    if (now >= level.arrowStepMs + kArrowStepMs) {
      level.arrowStepMs = now;
      ScrollLevel(l, static_cast<float>(Run.levels[l].arrow) * kMenuItemDip);
    }
    if (l < Run.levels.size() && Run.levels[l].arrow != 0) RedrawAt(Run.levels[l].arrowStepMs + kArrowStepMs);
  }
  for (MenuLevel& level : Run.levels)
    if (level.dirty) PaintLevel(level);
}

// --- The parts of a menu ---

MenuLayout LayoutMenuLevel(const std::vector<PopupMenuEntry>& entries) {
  MenuLayout layout;
  float y = kMenuPadDip, widest = 0.0f;
  for (const PopupMenuEntry& entry : entries) {
    MenuItem item;
    item.text = Translate(entry.text);
    item.id = entry.id;
    item.separator = entry.separator;
    item.checked = entry.checked;
    item.disabled = entry.disabled;
    item.submenu = entry.submenu.empty() ? nullptr : &entry.submenu;
    item.top = y;
    item.height = entry.separator ? kMenuSeparatorDip : kMenuItemDip;
    y += item.height;
    if (!entry.separator) widest = std::max(widest, MeasureTextWidth(item.text, kMenuFontDip, false, kFontSegoeUi));
    layout.items.push_back(std::move(item));
  }
  layout.height = y + kMenuPadDip;
  layout.width = std::clamp(widest + kMenuTextExtraDip, kMenuMinWidthDip, kMenuMaxWidthDip);
  return layout;
}

int MenuItemAt(const std::vector<MenuItem>& items, float y) {
  for (size_t i = 0; i < items.size(); ++i) {
    if (y >= items[i].top && y < items[i].top + items[i].height) return items[i].separator ? -1 : static_cast<int>(i);
  }
  return -1;
}

int NextSelectableItem(const std::vector<MenuItem>& items, int from, int step) {
  const int n = static_cast<int>(items.size());
  if (n == 0) return -1;
  int i = from;
  if (i < 0) i = step > 0 ? -1 : n;  // from no highlight: the first, or (going up) the last
  for (int tries = 0; tries < n; ++tries) {
    i = ((i + step) % n + n) % n;
    if (!items[static_cast<size_t>(i)].separator && !items[static_cast<size_t>(i)].disabled) return i;
  }
  return -1;
}

PixelRect FitMenuRect(int x, int y, int width, int height, const PixelRect& workArea, int flipX) {
  const int right = workArea.x + workArea.w, bottom = workArea.y + workArea.h;
  if (workArea.h > 0) height = std::min(height, workArea.h);  // taller: it scrolls
  if (x + width > right) x = flipX < 0 ? right - width : flipX - width + kFlipOverlapPx;
  if (y + height > bottom) y = std::max(workArea.y, bottom - height);
  x = std::max(x, workArea.x);
  return PixelRect{x, y, width, height};
}

std::vector<PopupMenuLevelInfo> InspectPopupMenu() {
  std::vector<PopupMenuLevelInfo> info;
  for (const MenuLevel& level : Run.levels)
    info.push_back({level.window, level.rect, level.hover, level.items.size(), level.scroll});
  return info;
}

PopupMenuEntry MenuEntry(std::wstring text, uint32_t id, bool disabled, bool checked) {
  PopupMenuEntry entry;
  entry.text = std::move(text);
  entry.id = id;
  entry.disabled = disabled;
  entry.checked = checked;
  return entry;
}

PopupMenuEntry MenuSeparator() {
  PopupMenuEntry entry;
  entry.separator = true;
  return entry;
}
