// Controller lights over real decks: what is sent when, to which outputs, and never on the SHIFT
// layer or the clock output.
#include <gtest/gtest.h>

#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "base/settings.h"
#include "control/control_ids.h"
#include "control/controller_leds.h"
#include "control/dispatcher.h"
#include "control/mapping_table.h"
#include "engine/control_input.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/side_slots.h"
#include "support/click_tracks.h"
#include "support/temp_home.h"

namespace {

std::vector<std::pair<size_t, uint32_t>> Sent;
void Record(size_t output, uint32_t message) { Sent.emplace_back(output, message); }
// One frame's lights over two outputs, output 1 carrying the clock when clock is set.
std::vector<std::pair<size_t, uint32_t>> Frame(bool clock = false) {
  Sent.clear();
  SnapshotDecks();
  SendControllerLedsTo(2, clock ? 1 : -1, Record);
  return Sent;
}
std::pair<size_t, uint32_t> To(size_t output, uint32_t status, uint32_t data1, uint32_t data2) {
  return {output, status | data1 << 8 | data2 << 16};
}

class Lights : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDecksForTest();
    Settings = SettingsRecord{};
    SideSlots[0] = 0, SideSlots[1] = 1;
    MappingTable.clear();
    ClearControllerLedCache();
    controlKinds.clear(), controlLights.clear();
    static ClickTrackFolder folder;
    const std::string path = folder.Make(ClickTrack{});
    ASSERT_FALSE(path.empty());
    ASSERT_TRUE(LoadAndWait(0, path));
  }
  void TearDown() override {
    MappingTable.clear();
    ClearControllerLedCache();
    controlKinds.clear(), controlLights.clear();
    ResetDecksForTest();
  }
  TempHome home;
};

TEST_F(Lights, ChangesAreSentOnceToEveryOutputButTheClock) {
  MappingTable[0x90000B] = 5200;             // PLAY, plain layer
  MappingTable[0x8090000B] = 5232;           // SHIFT layer: never lit
  MappingTable[0xB00013] = 5208;             // a fader has no light
  MappingTable[MappingKey('P')] = 5200;      // keys have none either
  MappingTable[0xE00000] = 5200;             // nor pitch bends
  EXPECT_EQ(Frame(), (std::vector{To(0, 0x90, 11, 0), To(1, 0x90, 11, 0)}));
  EXPECT_TRUE(Frame().empty()) << "nothing while nothing changes";

  ApplyMappedControl(5200, PressEvent());
  EXPECT_EQ(Frame(true), (std::vector{To(0, 0x90, 11, 127)})) << "the clock output gets no lights";
  ApplyMappedControl(5200, PressEvent());
  EXPECT_EQ(Frame(true), (std::vector{To(0, 0x90, 11, 0)})) << "LedOff 0: a note on with velocity 0";

  Settings.Leds = false;
  ApplyMappedControl(5200, PressEvent());
  EXPECT_TRUE(Frame().empty());
  Settings.Leds = true;
  Settings.LedOn = 100;
  EXPECT_EQ(Frame(), (std::vector{To(0, 0x90, 11, 100), To(1, 0x90, 11, 100)}));
  ClearControllerLedCache();
  EXPECT_EQ(Frame(), (std::vector{To(0, 0x90, 11, 100), To(1, 0x90, 11, 100)})) << "a rescan resends";
}

TEST_F(Lights, WidgetsDeckStatesAndBeatLoopLengths) {
  MappingTable[0xB00105] = 777;                               // a plain widget button
  MappingTable[0xB00106] = 778;                               // a plain widget fader
  MappingTable[0x900763] = DeckControl(0, kBeatLoopOffset + 3);  // beat loop 4: 2 beats
  controlKinds[777] = kControlKindButton, controlLights[777] = true;
  controlKinds[778] = kControlKindAbsolute;
  EXPECT_EQ(Frame(), (std::vector{To(0, 0x97, 0x63, 0), To(1, 0x97, 0x63, 0), To(0, 0xB1, 5, 127),
                                  To(1, 0xB1, 5, 127)}));
  LiveDeckViews[0].loopSizeIndex = 4;  // 2 beats, started by any means
  ApplyMappedControl(DeckControl(0, kPlayOffset), PressEvent());
  ApplyMappedControl(DeckControl(0, kLoopOffset), PressEvent());
  EXPECT_EQ(Frame(), (std::vector{To(0, 0x97, 0x63, 127), To(1, 0x97, 0x63, 127)}));

  bool lit = true;
  EXPECT_FALSE(GetControlLed(778, &lit));
  EXPECT_FALSE(GetControlLed(DeckControl(0, kVolumeOffset), &lit));
  ASSERT_TRUE(GetControlLed(1019, &lit));  // the headphone-cue widget is deck control 4
  EXPECT_FALSE(lit);
  LiveDeckViews[0].headphoneCue = true;
  ASSERT_TRUE(GetControlLed(1019, &lit));
  EXPECT_TRUE(lit);
  EXPECT_FALSE(ControlState(kShiftControl));
  ControllerShiftHeld = true;
  EXPECT_TRUE(ControlState(kShiftControl));
  ControllerShiftHeld = false;
}

}  // namespace
