#pragma once
// Context menus: a menu is a plain list of entries (with nested submenus) shown at the mouse
// pointer in the program's own style; showing returns the chosen command id. UI thread.
#include <cstdint>
#include <string>
#include <vector>

struct PopupMenuEntry {
  std::wstring text;                    // English; translated when shown
  uint32_t id = 0;                      // command id; 0 for separators and submenu titles
  bool separator = false;
  bool checked = false;
  bool disabled = false;                // greyed: shown, never chosen
  std::vector<PopupMenuEntry> submenu;  // not empty: this entry opens a submenu
};

// Shows the menu at the mouse pointer with `accent` (0xRRGGBB) and returns the chosen id, 0 when
// the menu was closed without a choice. Until the menu window exists nothing is shown and the
// result is 0.
uint32_t ShowPopupMenu(const std::vector<PopupMenuEntry>& menu, uint32_t accent);
