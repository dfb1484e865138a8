#pragma once
// Context menus: a menu is a plain list of entries (with nested submenus) shown at a screen point
// in the program's own dark style, one top-most window per open level, driven by the mouse and
// the keyboard. A menu runs inside the main loop's frames (the program keeps drawing while it is
// open): showing returns at once, and the chosen command id reaches the caller's action later,
// after a frame. UI thread only.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/menu_window.h"
#include "platform/window.h"

struct PopupMenuEntry {
  std::wstring text;                    // English; translated when shown
  uint32_t id = 0;                      // command id; 0 for separators and submenu titles
  bool separator = false;
  bool checked = false;
  bool disabled = false;                // greyed: shown, never chosen
  std::vector<PopupMenuEntry> submenu;  // not empty: this entry opens a submenu
};

// An entry that runs command `id`; greyed when disabled, ticked when checked.
PopupMenuEntry MenuEntry(std::wstring text, uint32_t id, bool disabled = false, bool checked = false);
PopupMenuEntry MenuSeparator();

// Runs the chosen command.
using PopupMenuAction = std::function<void(uint32_t id)>;
// Whether command `id` may still act on what the menu was opened for. The menu stays open across
// frames, so its target can change meanwhile (another track loaded on the deck): a choice the
// guard refuses does nothing.
using PopupMenuGuard = std::function<bool(uint32_t id)>;

// --- Showing ---

// Opens the menu with its top-left corner near the screen point (pixels) and `accent` (0xRRGGBB)
// as its colour; a menu already open is closed first without a choice. Returns at once: true when
// the menu is shown, false (and nothing shown, the action never run) without entries or a window.
// Later, once after a frame: `choose`(id) when an item was chosen and `guard` (when given) allows
// it; nothing when the menu was dismissed (Esc at the root, a press outside it, the program losing
// the focus, ClosePopupMenu).
bool ShowPopupMenu(std::vector<PopupMenuEntry> menu, int screenX, int screenY, uint32_t accent,
                   PopupMenuAction choose, PopupMenuGuard guard = {});
// The same at the mouse pointer.
bool ShowPopupMenu(std::vector<PopupMenuEntry> menu, uint32_t accent, PopupMenuAction choose,
                   PopupMenuGuard guard = {});
// A guard for a deck's menu: allows the choice only while the deck holds what it held when the
// menu opened (its load serial, raised by every load, eject and instant double, is unchanged).
PopupMenuGuard DeckMenuGuard(int deck);
bool PopupMenuOpen();
// Ends an open menu without a choice.
void ClosePopupMenu();
// One step of the open menu: its waiting mouse and key events, the focus check and the painting
// of changed levels. Runs after every frame while a menu is open (it queues itself as a deferred
// action); call it directly only where no frames run.
void PumpPopupMenu();

// --- The parts of a menu, for tests ---

inline constexpr float kMenuPadDip = 6.0f;          // above the first and below the last item
inline constexpr float kMenuItemDip = 30.0f;
inline constexpr float kMenuSeparatorDip = 11.0f;
inline constexpr float kMenuMinWidthDip = 180.0f;
inline constexpr float kMenuMaxWidthDip = 460.0f;
inline constexpr float kMenuTextExtraDip = 80.0f;   // check column, submenu arrow and margins
inline constexpr float kMenuFontDip = 13.0f;
inline constexpr float kMenuScrollArrowDip = 16.0f;  // the arrows at the ends of a level that scrolls

// One line of a shown level.
struct MenuItem {
  std::wstring text;  // translated
  uint32_t id = 0;
  bool separator = false;
  bool checked = false;
  bool disabled = false;
  const std::vector<PopupMenuEntry>* submenu = nullptr;  // null: none
  float top = 0.0f;     // DIPs from the window's top
  float height = 0.0f;
};

// A level laid out: its lines and its size in DIPs.
struct MenuLayout {
  std::vector<MenuItem> items;
  float width = 0.0f;
  float height = 0.0f;
};

// Reads the entries (texts translated) and lays them out; the width follows the widest text.
MenuLayout LayoutMenuLevel(const std::vector<PopupMenuEntry>& entries);
// The item at y (DIPs), -1 outside every item and on separators.
int MenuItemAt(const std::vector<MenuItem>& items, float y);
// From `from` (-1: none), the next item in direction `step` (+1 or -1) that is neither a separator
// nor disabled, wrapping around; -1 when there is none.
int NextSelectableItem(const std::vector<MenuItem>& items, int from, int step);
// The window rectangle of a level of width x height pixels asked for at (x, y), moved to fit the
// work area: a root (flipX < 0) that runs past the right edge moves left; a submenu opens to the
// left of its parent, whose left edge is flipX, overlapping it by 4 pixels. A level taller than
// the work area gets its height, and scrolls.
PixelRect FitMenuRect(int x, int y, int width, int height, const PixelRect& workArea, int flipX);

// What is open now: per level its window, its rectangle and its highlighted item.
struct PopupMenuLevelInfo {
  MenuWindow* window = nullptr;
  PixelRect rect;
  int hover = -1;
  size_t items = 0;
  float scroll = 0.0f;  // DIPs scrolled past the level's top
};
std::vector<PopupMenuLevelInfo> InspectPopupMenu();
