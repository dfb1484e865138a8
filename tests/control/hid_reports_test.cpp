// HID reports on real decks (click tracks through LoadTrack): learning a button bit, a 12-bit
// fader and a jog counter from report changes, then playing them back; the field scales, counter
// wrap, SHIFT layers, busy bytes and the device filter.
#include <gtest/gtest.h>

#include <cmath>
#include <mutex>

#include "base/settings.h"
#include "base/status_message.h"
#include "control/control_ids.h"
#include "control/dispatcher.h"
#include "control/hid_reports.h"
#include "control/mapping_table.h"
#include "control/midi_learn.h"
#include "engine/control_input.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/mixer_controls.h"
#include "engine/side_slots.h"
#include "platform/hid.h"
#include "support/click_tracks.h"
#include "support/temp_home.h"

namespace {

uint64_t Clock = 100000;

void Report(std::vector<uint8_t> bytes, uint32_t device = 0) {
  Clock += 5000;  // far apart: no byte counts as busy
  OnHidReportAt({device, std::move(bytes)}, Clock);
}
DeckPlace Place(int deck) {
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  return Engine.decks[deck];
}
void Reset() {
  MappingTable.clear();
  RebuildMappedTargets();
  ClearHidHistory();
  ResetMidiLearn();
  heldIds.clear(), pressedIds.clear(), releasedIds.clear(), absolutePositions.clear();
  ControllerShiftHeld = false;
  midiLearnOn = false, midiLearnTarget = 0;
}

class HidDecks : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDecksForTest();
    Reset();
    Settings = SettingsRecord{};
    SideSlots[0] = 0, SideSlots[1] = 1;
    static ClickTrackFolder folder;
    ClickTrack spec;
    spec.seconds = 40.0;
    const std::string path = folder.Make(spec);
    ASSERT_FALSE(path.empty());
    ASSERT_TRUE(LoadAndWait(0, path));
  }
  void TearDown() override {
    Reset();
    ResetDecksForTest();
  }
  TempHome home;
};

TEST_F(HidDecks, LearnsButtonFaderAndJogThenDrivesDeckA) {
  midiLearnOn = true;
  Report({1, 0, 0, 0, 0x10});
  midiLearnTarget = 1008;  // deck A's PLAY
  Report({1, 1, 0, 0, 0x10});
  EXPECT_EQ(MappingTable.count(0x1F20010), 1u) << "a button bit";
  EXPECT_EQ(MappingTable[0x1F20010], 1008u);
  EXPECT_EQ(midiLearnTarget, 0);
  EXPECT_EQ(EnglishText(Status.message), L"Mapped \u2014 click another control, or MIDI to finish");

  Report({1, 0, 0, 0, 0x10});
  midiLearnTarget = 1018;  // deck A's volume
  Report({1, 0, 0xFF, 0x0F, 0x10});
  EXPECT_EQ(MappingTable.count(0x1F20029), 1u) << "a 12-bit fader";

  midiLearnTarget = 1002;  // deck A's jog
  Report({1, 0, 0xFF, 0x0F, 0x12});
  EXPECT_EQ(MappingTable.count(0x1F20048), 1u) << "a jog counter";
  EXPECT_EQ(MappingTable.size(), 3u) << "learn applied nothing else";
  EXPECT_FALSE(Place(0).playing);

  midiLearnOn = false;
  const bool wasPlaying = Place(0).playing;
  Report({1, 1, 0xFF, 0x0F, 0x12});
  EXPECT_NE(Place(0).playing, wasPlaying) << "HID button plays / pauses";

  Report({1, 0, 0, 0x08, 0x12});
  EXPECT_NEAR(LiveDeckViews[0].fader, 2048.0f / 4095.0f, 0.01f) << "HID fader sets the volume";

  if (!Place(0).playing) Report({1, 1, 0, 0x08, 0x12}), Report({1, 0, 0, 0x08, 0x12});
  ASSERT_TRUE(Place(0).playing);
  LiveDeckViews[0].vinylMode = false;
  LiveDeckViews[0].jogBend = 0.0f;
  Report({1, 0, 0, 0x08, 0x15});
  EXPECT_GT(LiveDeckViews[0].jogBend, 0.0f) << "HID jog nudges";
}

TEST_F(HidDecks, ScalesCountersLayersAndNewLengths) {
  const uint32_t fader = HidMappingKey(2, 1, 9);
  MappingTable[fader] = DeckControl(0, kVolumeOffset);
  Report({2, 0, 0});
  Report({2, 0xFF, 0x0F});
  EXPECT_FLOAT_EQ(LiveDeckViews[0].fader, 1.0f) << "12-bit while nothing above 4095 was seen";
  Report({2, 0x00, 0x08});
  EXPECT_NEAR(LiveDeckViews[0].fader, 2048.0f / 4095.0f, 1e-4f);
  Report({2, 0x00, 0x10});
  EXPECT_NEAR(LiveDeckViews[0].fader, 4096.0f / 65535.0f, 1e-4f) << "16-bit once 4096 was seen";
  Report({2, 0x00, 0x08});
  EXPECT_NEAR(LiveDeckViews[0].fader, 2048.0f / 65535.0f, 1e-4f) << "and for good";

  Report({2, 0x00, 0x00, 0x00});
  EXPECT_NEAR(LiveDeckViews[0].fader, 2048.0f / 65535.0f, 1e-4f) << "a new length is only a reference";
  Report({2, 0xFF, 0xFF, 0x00});
  EXPECT_NEAR(LiveDeckViews[0].fader, 1.0f, 1e-4f);

  // A one-byte counter wraps: 250 -> 3 is nine ticks forward (a search turn on a paused deck).
  MappingTable[HidMappingKey(3, 1, 10)] = DeckControl(0, kJogSearchOffset);
  const double sampleRate = [] {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    return DeckStateOf(0).track->sampleRate;
  }();
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[0].position = 10.0 * sampleRate;
  }
  Report({3, 250});
  Report({3, 3});
  EXPECT_NEAR(Place(0).position / sampleRate, 10.0 + 9 * 0.25, 1e-6);
  Report({3, 250});
  EXPECT_NEAR(Place(0).position / sampleRate, 10.0, 1e-6) << "3 -> 250 is nine back";

  // SHIFT: a button mapped on both layers fires only its SHIFT twin; a plain-only one still fires.
  const uint32_t both = HidMappingKey(4, 1, 0), plainOnly = HidMappingKey(4, 1, 1);
  MappingTable[both] = DeckControl(0, kPlayOffset);
  MappingTable[both | kShiftLayerFlag] = DeckControl(0, kHeadphoneCueOffset);
  MappingTable[plainOnly] = DeckControl(0, kVinylOffset);
  LiveDeckViews[0].headphoneCue = false;
  const bool vinyl = LiveDeckViews[0].vinylMode;
  ControllerShiftHeld = true;
  Report({4, 0});
  Report({4, 3});
  EXPECT_TRUE(LiveDeckViews[0].headphoneCue) << "the SHIFT twin fired";
  EXPECT_FALSE(Place(0).playing) << "the plain twin did not";
  EXPECT_NE(LiveDeckViews[0].vinylMode, vinyl) << "a plain-only button fires under SHIFT";

  // A byte field on a button target presses on every change that ends above half scale.
  MappingTable[HidMappingKey(5, 1, 8)] = DeckControl(0, kHeadphoneCueOffset);
  ControllerShiftHeld = false;
  Report({5, 0});
  Report({5, 200});
  EXPECT_FALSE(LiveDeckViews[0].headphoneCue);
  Report({5, 100});
  Report({5, 201});
  EXPECT_TRUE(LiveDeckViews[0].headphoneCue);

  // Inverted: value 1 - v.
  MappingTable[HidMappingKey(6, 1, 8)] = DeckControl(0, kVolumeOffset) | kInvertedMapping;
  Report({6, 0});
  Report({6, 255});
  EXPECT_FLOAT_EQ(LiveDeckViews[0].fader, 0.0f);
}

// Kinds 12-15 are one byte each, read as kind 8: a fader, a volume, a button and a relative jog.
TEST_F(HidDecks, KindsTwelveToFifteenReadOneByteAsKindEight) {
  MappingTable[HidMappingKey(7, 1, 12)] = kCrossfaderControl;
  MappingTable[HidMappingKey(7, 2, 13)] = DeckControl(0, kVolumeOffset) | kInvertedMapping;
  MappingTable[HidMappingKey(7, 3, 14)] = DeckControl(0, kHeadphoneCueOffset);
  MappingTable[HidMappingKey(7, 4, 15)] = DeckControl(0, kJogSearchOffset);
  CrossfaderPosition = 0.3f;
  LiveDeckViews[0].headphoneCue = false;
  const double sampleRate = [] {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[0].position = 10.0 * DeckStateOf(0).track->sampleRate;
    return DeckStateOf(0).track->sampleRate;
  }();
  Report({7, 0, 0, 0, 250});
  Report({7, 204, 51, 200, 3});
  EXPECT_NEAR(CrossfaderPosition, 0.8f, 1e-4f);
  EXPECT_NEAR(LiveDeckViews[0].fader, 0.8f, 1e-4f) << "inverted";
  EXPECT_TRUE(LiveDeckViews[0].headphoneCue) << "above half scale presses";
  EXPECT_NEAR(Place(0).position / sampleRate, 10.0 + 9 * 0.25, 1e-6) << "250 -> 3 is nine ticks forward";
  CrossfaderPosition = 0.5f;
}

TEST(HidLearning, BusyBytesAreSkippedAndTheFaderIsFoundFromEitherHalf) {
  TempHome home;
  Reset();
  midiLearnOn = true;
  uint64_t t = 1000;
  // Byte 1 changes every 10 ms (a sensor), byte 2 is the real button.
  for (int i = 0; i < 45; ++i) OnHidReportAt({0, {0, static_cast<uint8_t>(i & 1), 0}}, t += 10);
  midiLearnTarget = 1008;
  OnHidReportAt({0, {0, 1, 1}}, t += 10);
  ASSERT_EQ(MappingTable.size(), 1u);
  EXPECT_EQ(MappingTable.begin()->first, HidMappingKey(0, 2, 0));

  // A fader whose high byte moves most: kind 9 starting at the low byte.
  midiLearnTarget = 1018;
  OnHidReportAt({0, {7, 0, 0x05, 0x00, 0}}, t += 5000);
  OnHidReportAt({0, {7, 0, 0x10, 0x0F, 0}}, t += 5000);
  EXPECT_EQ(MappingTable.count(HidMappingKey(7, 2, 9)), 1u);
  midiLearnTarget = 1018;
  OnHidReportAt({0, {8, 0x00, 0x00, 0x00}}, t += 5000);
  OnHidReportAt({0, {8, 0x80, 0x01, 0x00}}, t += 5000);
  EXPECT_EQ(MappingTable.count(HidMappingKey(8, 1, 9)), 1u) << "low byte then a small high byte";
  midiLearnTarget = 1018;
  OnHidReportAt({0, {9, 0x00, 0x00, 0x00}}, t += 5000);
  OnHidReportAt({0, {9, 0x00, 0x80, 0x00}}, t += 5000);
  EXPECT_EQ(MappingTable.count(HidMappingKey(9, 2, 8)), 1u) << "a lone byte";
  Reset();
}

TEST(HidDevices, DjMakersAndNamesPassMiceAndKeyboardsDoNot) {
  EXPECT_TRUE(IsHidControllerCandidate(0x17CC, 0xFF00, 1, 64, L"Native", L"Kontrol S4"));
  EXPECT_FALSE(IsHidControllerCandidate(0x17CC, 1, 2, 8, L"Native", L"Mouse")) << "a DJ maker's mouse";
  EXPECT_TRUE(IsHidControllerCandidate(0x1234, 0xFF00, 1, 9, L"Acme", L"Party Deck")) << "\"DECK\" in the name";
  EXPECT_TRUE(IsHidControllerCandidate(0x1234, 0xFF00, 1, 9, L"A-cme", L"d-j box"));
  EXPECT_FALSE(IsHidControllerCandidate(0x1234, 1, 6, 9, L"Acme", L"Deck keys")) << "a keyboard usage";
  EXPECT_FALSE(IsHidControllerCandidate(0x1234, 0xFF00, 1, 9, L"Acme", L"Gamepad"));
  EXPECT_FALSE(IsHidControllerCandidate(0x0582, 12, 1, 9, L"Roland", L"Consumer"));
  EXPECT_FALSE(IsHidControllerCandidate(0x0582, 0xFF00, 1, 1, L"Roland", L"DJ")) << "reports too short";
}

TEST(HidDevices, ReportDescriptorGivesUsageLengthAndIds) {
  // Vendor page, two input reports (ids 1 and 2, 4 and 16 bytes) and an output report.
  const HidDescriptorFacts vendor = ParseHidReportDescriptor(
      {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x01, 0x75, 0x08, 0x95, 0x04, 0x81, 0x02, 0x85,
       0x02, 0x95, 0x10, 0x81, 0x02, 0x85, 0x03, 0x95, 0x40, 0x91, 0x02, 0xC0});
  EXPECT_EQ(vendor.usagePage, 0xFF00u);
  EXPECT_EQ(vendor.usage, 1u);
  EXPECT_TRUE(vendor.numberedReports);
  EXPECT_EQ(vendor.inputReportLength, 17u);
  // A three-button mouse without report ids: 3 + 5 padding bits, then x and y.
  const HidDescriptorFacts mouse = ParseHidReportDescriptor(
      {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x09, 0x01, 0xA1, 0x00, 0x05, 0x09, 0x19, 0x01, 0x29, 0x03,
       0x15, 0x00, 0x25, 0x01, 0x95, 0x03, 0x75, 0x01, 0x81, 0x02, 0x95, 0x01, 0x75, 0x05, 0x81, 0x03,
       0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x15, 0x81, 0x25, 0x7F, 0x75, 0x08, 0x95, 0x02, 0x81, 0x06,
       0xC0, 0xC0});
  EXPECT_EQ(mouse.usagePage, 1u);
  EXPECT_EQ(mouse.usage, 2u);
  EXPECT_FALSE(mouse.numberedReports);
  EXPECT_EQ(mouse.inputReportLength, 4u);
  EXPECT_EQ(ParseHidReportDescriptor({0x05}).inputReportLength, 0u) << "a cut-off item";
}

}  // namespace
