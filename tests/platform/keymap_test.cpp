// The one key table: SDL's key and scan codes (numbered here as SDL and the USB HID tables
// number them, not through SDL's headers) to the virtual-key codes Windows defines.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "platform/keymap.h"

namespace {

// SDL: keys without a character are their scan code with bit 30 set.
constexpr int32_t kScancodeMask = 1 << 30;
constexpr int32_t KeyOfScancode(int32_t scancode) { return kScancodeMask | scancode; }

// Scan codes (USB HID usage ids) and what Windows calls their keys.
constexpr int32_t kScanA = 4, kScan1 = 30, kScan0 = 39, kScanReturn = 40, kScanEscape = 41, kScanSpace = 44;
constexpr int32_t kScanF1 = 58, kScanF13 = 104;
constexpr int32_t kScanRight = 79, kScanLeft = 80, kScanDown = 81, kScanUp = 82;
constexpr int32_t kScanLeftCtrl = 224, kScanLeftShift = 225, kScanLeftAlt = 226;
constexpr int32_t kScanRightCtrl = 228, kScanRightShift = 229, kScanRightAlt = 230;
constexpr int32_t kScanComma = 54, kScanPeriod = 55, kScanSlash = 56, kScanSemicolon = 51;

TEST(KeyTable, EveryRowIsUniqueAndNamesARealKey) {
  const auto rows = KeyRows();
  ASSERT_GT(rows.size(), 100u);
  std::set<int32_t> keys, scancodes;
  std::map<int, int32_t> firstKeyOfVk;
  for (const KeyRow& row : rows) {
    EXPECT_TRUE(keys.insert(row.sdlKey).second) << "SDL key " << row.sdlKey << " is in two rows";
    if (row.sdlScancode != 0)
      EXPECT_TRUE(scancodes.insert(row.sdlScancode).second) << "scan code " << row.sdlScancode << " is in two rows";
    EXPECT_NE(row.virtualKey, 0) << "SDL key " << row.sdlKey;
    ASSERT_NE(row.name, nullptr);
    // A key whose code is its character types that character: letters, digits and OEM keys.
    if (row.sdlKey >= 'a' && row.sdlKey <= 'z') EXPECT_EQ(row.virtualKey, row.sdlKey - 'a' + 'A');
    if (row.sdlKey >= '0' && row.sdlKey <= '9') EXPECT_EQ(row.virtualKey, row.sdlKey);
    // The row answers for its own key and, from any layout, for its position.
    EXPECT_EQ(VirtualKeyFor(row.sdlKey, 0), row.virtualKey);
    if (row.sdlScancode != 0) EXPECT_EQ(VirtualKeyFor(-1, row.sdlScancode), row.virtualKey);
  }
  for (char c = 'a'; c <= 'z'; ++c) EXPECT_TRUE(keys.count(c)) << "letter " << c << " is missing";
  for (char c = '0'; c <= '9'; ++c) EXPECT_TRUE(keys.count(c)) << "digit " << c << " is missing";
}

TEST(KeyTable, VirtualKeysAreWindowsOwn) {
  // Letters and digits by character and by position.
  EXPECT_EQ(VirtualKeyFor('a', kScanA), 0x41);
  EXPECT_EQ(VirtualKeyFor('z', kScanA + 25), 0x5A);
  EXPECT_EQ(VirtualKeyFor('1', kScan1), 0x31);
  EXPECT_EQ(VirtualKeyFor('0', kScan0), 0x30);
  // Function keys: F1 = 0x70 up to F24 = 0x87, SDL's F13 block lying elsewhere.
  for (int n = 0; n < 12; ++n) EXPECT_EQ(VirtualKeyFor(KeyOfScancode(kScanF1 + n), kScanF1 + n), 0x70 + n) << "F" << n + 1;
  for (int n = 0; n < 12; ++n) EXPECT_EQ(VirtualKeyFor(KeyOfScancode(kScanF13 + n), kScanF13 + n), 0x7C + n) << "F" << n + 13;
  // Arrows, space, enter, escape.
  EXPECT_EQ(VirtualKeyFor(KeyOfScancode(kScanLeft), kScanLeft), 0x25);
  EXPECT_EQ(VirtualKeyFor(KeyOfScancode(kScanUp), kScanUp), 0x26);
  EXPECT_EQ(VirtualKeyFor(KeyOfScancode(kScanRight), kScanRight), 0x27);
  EXPECT_EQ(VirtualKeyFor(KeyOfScancode(kScanDown), kScanDown), 0x28);
  EXPECT_EQ(VirtualKeyFor(' ', kScanSpace), 0x20);
  EXPECT_EQ(VirtualKeyFor('\r', kScanReturn), 0x0D);
  EXPECT_EQ(VirtualKeyFor(0x1B, kScanEscape), 0x1B);
  // Both Shift, Ctrl and Alt keys give the one code Windows sends with WM_KEYDOWN.
  EXPECT_EQ(VirtualKeyFor(KeyOfScancode(kScanLeftShift), kScanLeftShift), 0x10);
  EXPECT_EQ(VirtualKeyFor(KeyOfScancode(kScanRightShift), kScanRightShift), 0x10);
  EXPECT_EQ(VirtualKeyFor(KeyOfScancode(kScanLeftCtrl), kScanLeftCtrl), 0x11);
  EXPECT_EQ(VirtualKeyFor(KeyOfScancode(kScanRightCtrl), kScanRightCtrl), 0x11);
  EXPECT_EQ(VirtualKeyFor(KeyOfScancode(kScanLeftAlt), kScanLeftAlt), 0x12);
  EXPECT_EQ(VirtualKeyFor(KeyOfScancode(kScanRightAlt), kScanRightAlt), 0x12);
  // OEM keys as on a US keyboard, and the characters other layouts put on them.
  EXPECT_EQ(VirtualKeyFor(';', kScanSemicolon), 0xBA);
  EXPECT_EQ(VirtualKeyFor(',', kScanComma), 0xBC);
  EXPECT_EQ(VirtualKeyFor('.', kScanPeriod), 0xBE);
  EXPECT_EQ(VirtualKeyFor('/', kScanSlash), 0xBF);
  EXPECT_EQ(VirtualKeyFor('[', 47), 0xDB);
  EXPECT_EQ(VirtualKeyFor(']', 48), 0xDD);
  EXPECT_EQ(VirtualKeyFor('\'', 52), 0xDE);
  EXPECT_EQ(VirtualKeyFor('`', 53), 0xC0);
  EXPECT_EQ(VirtualKeyFor('-', 45), 0xBD);
  EXPECT_EQ(VirtualKeyFor('=', 46), 0xBB);
  EXPECT_EQ(VirtualKeyFor('+', 0), 0xBB);
  EXPECT_EQ(VirtualKeyFor('<', 100), 0xE2);
}

TEST(KeyTable, UnknownCharactersFallBackToTheKeysPosition) {
  // A Cyrillic layout types "я" on the Z key: Windows still reports VK_Z there.
  EXPECT_EQ(VirtualKeyFor(0x44F, kScanA + 25), 'Z');
  EXPECT_EQ(VirtualKeyFor(0x44F, 0), 0) << "no position, no key";
  EXPECT_EQ(VirtualKeyFor(0x7FFFFF, 0x1FF), 0);
}

TEST(KeyTable, NamesAreWhatWindowsShows) {
  EXPECT_EQ(KeyName('Z'), L"Z");
  EXPECT_EQ(KeyName('7'), L"7");
  EXPECT_EQ(KeyName(KeyCode::Space), L"Space");
  EXPECT_EQ(KeyName(KeyCode::Return), L"Enter");
  EXPECT_EQ(KeyName(KeyCode::Escape), L"Esc");
  EXPECT_EQ(KeyName(KeyCode::Left), L"Left");
  EXPECT_EQ(KeyName(KeyCode::OemComma), L",");
  EXPECT_EQ(KeyName(0x64), L"Num 4");
  EXPECT_EQ(KeyName(KeyCode::F10), L"F10");
  EXPECT_EQ(KeyName(0xB3), L"") << "media keys have no name";
  EXPECT_EQ(KeyName(0x07), L"") << "not a key of the table";
}

}  // namespace
