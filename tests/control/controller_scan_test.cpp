// The controller rescan's announcement: whatever came and went in one rescan, the status line ends
// on the controller that came, and a MIDI input gone is named before an HID controller gone.
#include <gtest/gtest.h>

#include <string>

#include "base/settings.h"
#include "base/status_message.h"
#include "control/mapping_table.h"
#include "control/midi_devices.h"
#include "support/temp_home.h"

namespace {

std::wstring Announced(const ControllerChanges& changes) {
  Status = StatusLine{};
  AnnounceControllerChanges(changes);
  return Status.text;
}

}  // namespace

TEST(ControllerRescan, TheLineEndsOnWhatCameAndNamesAGoneMidiInputFirst) {
  TempHome home;
  Settings = SettingsRecord{};
  MappingTable.clear();
  const std::wstring flx = L"DDJ-FLX4:DDJ-FLX4", pads = L"MyPads:MyPads", probe = L"Kontrol Probe";
  EXPECT_EQ(Announced({.oldMidi = {flx}, .newMidi = {}, .hidGone = {}, .hidCame = {probe}}),
            L"HID controller connected: Kontrol Probe \u2014 map it with MIDI learn");
  EXPECT_EQ(Announced({.oldMidi = {flx, pads}, .newMidi = {pads}, .hidGone = {L"Old Deck"}, .hidCame = {}}),
            L"Controller disconnected: DDJ-FLX4:DDJ-FLX4");
  EXPECT_EQ(Announced({.oldMidi = {pads}, .newMidi = {pads}, .hidGone = {L"Old Deck"}, .hidCame = {}}),
            L"Controller disconnected: Old Deck");
  EXPECT_EQ(Announced({.oldMidi = {flx}, .newMidi = {pads}, .hidGone = {probe}, .hidCame = {L"New Deck"}}),
            L"Controller connected: MyPads:MyPads \u2014 Settings \u25B8 CONTROLLERS \u25B8 AUTO-MAP sets it up");
  EXPECT_EQ(Announced({.oldMidi = {pads}, .newMidi = {pads}, .hidGone = {}, .hidCame = {}}), L"")
      << "nothing came or went";
}
