// The control numbering: names, kinds and the widget translation, and how a mapping target's kind
// follows what a plain widget registered.
#include <gtest/gtest.h>

#include "control/control_ids.h"
#include "engine/control_input.h"

TEST(ControlIds, NamesKindsAndWidgetsFollowTheNumbering) {
  EXPECT_EQ(ActionName(5200), L"Left deck play");
  EXPECT_EQ(ActionName(5400 + 73), L"Right deck hot cue 4");
  EXPECT_EQ(ActionName(5200 + 37), L"Left deck action");
  EXPECT_EQ(ActionName(5200 + 26), L"Left deck loop \u00BD");
  EXPECT_EQ(ActionName(5015), L"Macro 3");
  EXPECT_EQ(ActionName(5012), L"Sandbox");
  EXPECT_EQ(ActionName(4999), L"");
  EXPECT_EQ(ActionName(5600), L"");
  EXPECT_EQ(ActionName(5400 + 137), L"Right deck pad mode 8");

  EXPECT_EQ(GetControlKind(5005), kRelativeControl);
  EXPECT_EQ(GetControlKind(5006), kButtonControl);
  EXPECT_EQ(GetControlKind(5004), kAbsoluteControl);
  EXPECT_EQ(GetControlKind(5200 + 45), kAbsoluteControl);
  EXPECT_EQ(GetControlKind(5200 + 47), kButtonControl);
  EXPECT_EQ(GetControlKind(5200 + 15), kButtonControl);
  for (int offset : {14, 16, 17}) EXPECT_EQ(GetControlKind(5400 + offset), kRelativeControl) << offset;
  for (int offset = 7; offset <= 13; ++offset) EXPECT_EQ(GetControlKind(5200 + offset), kAbsoluteControl);
  EXPECT_EQ(GetControlKind(5600), kButtonControl);

  EXPECT_EQ(ControlIdFromUi(1100 + 3), 5407);
  EXPECT_EQ(ControlIdFromUi(1000 + 5), 0);
  EXPECT_EQ(ControlIdFromUi(3604), 5017);
  EXPECT_EQ(ControlIdFromUi(1100 + 45), 5400 + 67);
  EXPECT_EQ(ControlIdFromUi(1000 + 73), 5218);
  EXPECT_EQ(ControlIdFromUi(19), 5000);
  EXPECT_EQ(ControlIdFromUi(33), 0);
}

TEST(ControlIds, BindingKindOfAPlainWidgetIsWhatItRegistered) {
  controlKinds.clear();
  EXPECT_EQ(GetBindingKind(1018), kAbsoluteControl);  // channel volume -> 5208
  EXPECT_EQ(GetBindingKind(1002), kRelativeControl);  // jog -> 5214
  EXPECT_EQ(GetBindingKind(777), kButtonControl);     // never drawn
  controlKinds[777] = kControlKindAbsolute;
  controlKinds[778] = kControlKindRelative;
  controlKinds[779] = 9;
  EXPECT_EQ(GetBindingKind(777), kAbsoluteControl);
  EXPECT_EQ(GetBindingKind(778), kRelativeControl);
  EXPECT_EQ(GetBindingKind(779), kButtonControl);
  controlKinds.clear();
}
