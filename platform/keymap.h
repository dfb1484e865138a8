#pragma once
// The one key table: SDL key codes (and, for keys the layout gives no known code, their
// physical scan codes) to the Windows virtual-key codes that shortcuts and mapping files use,
// with the names Windows gives the keys. Any thread.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

// Virtual-key codes as Windows defines them, for the keys the program looks at by name.
namespace KeyCode {
inline constexpr int Back = 0x08, Tab = 0x09, Return = 0x0D;
inline constexpr int Shift = 0x10, Control = 0x11, Menu = 0x12;  // Menu is Alt
inline constexpr int Escape = 0x1B, Space = 0x20, PageUp = 0x21, PageDown = 0x22;
inline constexpr int End = 0x23, Home = 0x24, Left = 0x25, Up = 0x26, Right = 0x27, Down = 0x28;
inline constexpr int Delete = 0x2E;
inline constexpr int LeftWindows = 0x5B, RightWindows = 0x5C;
inline constexpr int F1 = 0x70, F8 = 0x77, F9 = 0x78, F10 = 0x79, F11 = 0x7A, F24 = 0x87;
inline constexpr int OemComma = 0xBC, OemPeriod = 0xBE, OemSlash = 0xBF;  // "," "." "/" on US keyboards
inline constexpr int OemOpenBracket = 0xDB, OemCloseBracket = 0xDD;       // "[" "]" on US keyboards
}  // namespace KeyCode

// One key: its SDL key code, its SDL scan code (0 when the row only names a character another
// row's key types on some layouts), the virtual-key code and the key's name as Windows gives it
// (empty when Windows has none).
struct KeyRow {
  int32_t sdlKey;
  int32_t sdlScancode;
  uint8_t virtualKey;
  const wchar_t* name;
};

// The whole table.
std::span<const KeyRow> KeyRows();
// The virtual-key code of a key event: by its key code, else (a layout whose characters the
// table does not know, e.g. Cyrillic letters) by where the key sits; 0 when neither is known.
int VirtualKeyFor(int32_t sdlKey, int32_t sdlScancode);
// The Windows name of a virtual key ("Z", "Space", "Num 4", ","); empty when it has none.
std::wstring KeyName(int virtualKey);
