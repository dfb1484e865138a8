// Injected MIDI through the ready-made layouts on real decks (click tracks through LoadTrack):
// the controller layout checks of the feature run, the 14-bit pairing, the encodings of buttons
// and endless knobs, the SHIFT layer and the PLAY light.
#include <gtest/gtest.h>

#include <cmath>
#include <mutex>
#include <string>

#include "base/settings.h"
#include "control/control_ids.h"
#include "control/controller_leds.h"
#include "control/controller_presets.h"
#include "control/dispatcher.h"
#include "control/mapping_table.h"
#include "control/midi_input.h"
#include "control/midi_learn.h"
#include "engine/control_input.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/mixer_controls.h"
#include "engine/side_slots.h"
#include "library/track_view.h"
#include "support/click_tracks.h"
#include "support/temp_home.h"

namespace {

constexpr double kRate = 44100.0;

void Midi(int status, int data1, int data2) {
  OnMidiMessage(static_cast<uint32_t>(status | data1 << 8 | data2 << 16));
}
DeckPlace Place(int deck) {
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  return Engine.decks[deck];
}
double TempoOffset(int deck) { return TempoOffsetOf(LiveDeckViews[deck]); }
const ControllerPreset& Preset(const std::wstring& text) {
  for (const ControllerPreset& p : ControllerPresets())
    if (p.name.find(text) != std::wstring::npos) return p;
  return ControllerPresets().front();
}
void ClearHotCue(int deck, int slot) {
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  Engine.decks[deck].hotCueStart[slot] = Engine.decks[deck].hotCueEnd[slot] = -1.0;
}

void ResetControllers() {
  MappingTable.clear();
  RebuildMappedTargets();
  ClearControllerLedCache();
  heldIds.clear(), pressedIds.clear(), releasedIds.clear(), absolutePositions.clear();
  ControllerShiftHeld = false;
  midiLearnOn = false, midiLearnTarget = 0;
  for (float& last : PitchTakeover) last = -1.0f;
}

class MidiDecks : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDecksForTest();
    ResetControllers();
    Settings = SettingsRecord{};
    SideSlots[0] = 0, SideSlots[1] = 1;
    CrossfaderPosition = 0.5f, XfGlide = CrossfaderGlide{};
    static ClickTrackFolder folder;
    ClickTrack spec;
    spec.seconds = 40.0;
    const std::string path = folder.Make(spec);
    ASSERT_FALSE(path.empty());
    ASSERT_TRUE(LoadAndWait(0, path));
    ASSERT_TRUE(LoadAndWait(1, path));
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[0].position = 20.0 * kRate;
  }
  void TearDown() override {
    ResetControllers();
    ResetDecksForTest();
    ViewItems.clear();
    RebuildView();
  }
  TempHome home;
};

TEST(ControllerNames, LayoutsAreFoundByNormalisedNamesAndKnobsDecodeBothWays) {
  const ControllerPreset* numark = FindControllerPreset(L"Party Mix III");
  ASSERT_NE(numark, nullptr);
  EXPECT_NE(numark->name.find(L"Numark"), std::wstring::npos);
  EXPECT_NE(FindControllerPreset(L"PARTYMIXII MIDI"), nullptr);
  for (const wchar_t* name : {L"Numark dj2go2 Touch", L"DJ 2 GO", L"d-j_2go"})
    EXPECT_EQ(FindControllerPreset(name), numark) << name;
  const ControllerPreset* pioneer = FindControllerPreset(L"DDJ-FLX4:DDJ-FLX4 MIDI 1");
  ASSERT_NE(pioneer, nullptr);
  EXPECT_NE(pioneer->name.find(L"Pioneer"), std::wstring::npos);
  const ControllerPreset* hercules = FindControllerPreset(L"DJControl Inpulse 200");
  ASSERT_NE(hercules, nullptr);
  EXPECT_NE(hercules->name.find(L"Hercules"), std::wstring::npos);
  EXPECT_EQ(hercules->jogTicks, 248u);
  EXPECT_EQ(FindControllerPreset(L"Logitech G733 Gaming Headset"), nullptr);

  EXPECT_EQ(DecodeRelativeMidi(1), 1);
  EXPECT_EQ(DecodeRelativeMidi(127), -1);
  EXPECT_EQ(DecodeRelativeMidi(65), 1);
  EXPECT_EQ(DecodeRelativeMidi(63), -1);
  EXPECT_EQ(DecodeRelativeMidi(0), 0);
  EXPECT_EQ(DecodeRelativeMidi(56), -8);
  EXPECT_EQ(DecodeRelativeMidi(72), 8);
  EXPECT_EQ(DecodeRelativeMidi(73), -55);
}

TEST_F(MidiDecks, NumarkLayoutDrivesDecksMixerJogsAndPads) {
  ApplyControllerPreset(Preset(L"Numark"));
  EXPECT_NE(Settings.MidiLayout.find(L"Numark"), std::wstring::npos);
  EXPECT_GT(MappingTable.size(), 100u);

  Midi(0x90, 0x00, 0x7F), Midi(0x80, 0x00, 0x00);
  EXPECT_TRUE(Place(0).playing) << "PLAY starts deck A";
  Midi(0x91, 0x00, 0x7F), Midi(0x91, 0x00, 0x00);
  EXPECT_TRUE(Place(1).playing) << "PLAY on the right starts deck B";

  Midi(0xB0, 0x09, 0x00);
  EXPECT_LT(TempoOffset(0), -0.07) << "pitch fader at the top is slowest";
  for (int v = 0; v <= 120; v += 8) Midi(0xB0, 0x09, v);
  Midi(0xB0, 0x09, 0x7F);
  EXPECT_GT(TempoOffset(0), 0.07) << "pitch fader at the bottom is fastest";
  Midi(0xB0, 0x09, 0x40), Midi(0xB0, 0x29, 0x00);
  EXPECT_LT(std::fabs(TempoOffset(0)), 0.001) << "14-bit pitch: centre is 0%";

  Midi(0xB0, 0x1C, 0x00);
  EXPECT_EQ(LiveDeckViews[0].fader, 0.0f);
  Midi(0xB0, 0x1C, 0x7F);
  EXPECT_EQ(LiveDeckViews[0].fader, 1.0f);
  Midi(0xB1, 0x19, 0x00);
  EXPECT_EQ(LiveDeckViews[1].eqLow, 0.0f);
  Midi(0xB0, 0x1A, 0x40);
  EXPECT_EQ(LiveDeckViews[0].filter, 0.0f) << "filter centre is off";
  Midi(0xBF, 0x08, 0x7F);
  EXPECT_EQ(CrossfaderPosition, 1.0f);
  Midi(0xBF, 0x08, 0x00);
  EXPECT_EQ(CrossfaderPosition, 0.0f);
  Midi(0x90, 0x1B, 0x7F);
  EXPECT_TRUE(LiveDeckViews[0].headphoneCue);
  Midi(0x90, 0x1B, 0x7F);
  EXPECT_FALSE(LiveDeckViews[0].headphoneCue);

  LiveDeckViews[0].jogBend = 0.0f;
  Midi(0xB0, 0x06, 0x05);
  EXPECT_GT(LiveDeckViews[0].jogBend, 0.0f) << "jog nudges a playing deck";

  LiveDeckViews[0].vinylMode = true;
  Midi(0x90, 0x06, 0x7F);
  EXPECT_TRUE(Place(0).jogTouched) << "touching the jog holds the record";
  EXPECT_TRUE(LiveDeckViews[0].jogHeld);
  const double touchedAt = Place(0).position;
  Midi(0xB0, 0x06, 0x7F);
  RenderPeriods(10);
  EXPECT_LT(Place(0).position, touchedAt) << "turning back scratches back";
  Midi(0x80, 0x06, 0x00);
  EXPECT_FALSE(Place(0).jogTouched);
  EXPECT_FALSE(LiveDeckViews[0].jogHeld);

  Midi(0x90, 0x07, 0x7F);
  EXPECT_FALSE(LiveDeckViews[0].vinylMode) << "the wheel button turns vinyl mode off";
  Midi(0x90, 0x07, 0x7F);
  LiveDeckViews[0].padMode = 0;
  ClearHotCue(0, 0);
  Midi(0x94, 0x14, 0x7F), Midi(0x84, 0x14, 0x00);
  EXPECT_GE(Place(0).hotCueStart[0], 0.0) << "pad 1 sets hot cue 1";
  Midi(0x94, 0x1C, 0x7F);
  EXPECT_LT(Place(0).hotCueStart[0], 0.0) << "MODE + pad 1 clears it";
  Midi(0x94, 0x00, 0x7F);
  EXPECT_EQ(LiveDeckViews[0].padMode, 4u) << "MODE steps the pads to LOOP";
  LiveDeckViews[0].padMode = 0;
  Midi(0x90, 0x49, 0x7F);
  EXPECT_EQ(LiveDeckViews[0].padMode, 7u) << "MODE + INSTRUMENTAL: stem pads";
  LiveDeckViews[0].padMode = 0;
  Midi(0x90, 0x46, 0x7F);
  EXPECT_EQ(LiveDeckViews[0].stemPreset, 1u) << "ACAPELLA";
  Midi(0x90, 0x46, 0x7F);
  EXPECT_EQ(LiveDeckViews[0].stemPreset, 0u);

  for (int i = 0; i < 5; ++i)
    ViewItems.push_back({.path = L"/m/" + std::to_wstring(i), .title = L"t", .searchText = L"t", .index = uint32_t(i)});
  RebuildView();
  Selection = 0;
  Midi(0xBF, 0x00, 0x01);
  EXPECT_EQ(Selection, 1) << "browse knob moves down the list";
  Midi(0xBF, 0x00, 0x7F);
  EXPECT_EQ(Selection, 0) << "and back up";
}

TEST_F(MidiDecks, PioneerLayoutFourteenBitJogPadsShiftLayerAndLight) {
  MappingTable[MappingKey('X')] = 5200;  // a keyboard binding survives the layout
  ApplyControllerPreset(Preset(L"Pioneer"));
  EXPECT_EQ(MappingTable[MappingKey('X')], 5200u);
  EXPECT_EQ(MappingTable[0x90000B], 5200u);

  Midi(0xB0, 0x13, 0x64), Midi(0xB0, 0x33, 0x40);
  EXPECT_NEAR(LiveDeckViews[0].fader, 12864.0 / 16383.0, 0.0001) << "14-bit channel fader";

  Midi(0x90, 0x0B, 0x7F);  // play
  ASSERT_TRUE(Place(0).playing);
  LiveDeckViews[0].vinylMode = true;
  Midi(0x90, 0x36, 0x7F);
  const double touchedAt = Place(0).position;
  Midi(0xB0, 0x22, 0x41);
  RenderPeriods(10);
  EXPECT_GT(Place(0).position, touchedAt) << "Pioneer jog (offset binary) scratches forward";
  Midi(0x90, 0x36, 0x00);
  EXPECT_FALSE(Place(0).jogTouched);
  ClearHotCue(0, 2);
  Midi(0x97, 0x02, 0x7F);
  EXPECT_GE(Place(0).hotCueStart[2], 0.0) << "hot cue pad 3";
  Midi(0x97, 0x64, 0x7F);
  const DeckPlace looped = Place(0);
  EXPECT_TRUE(looped.loopOn) << "beat loop pad: 4 beats";
  EXPECT_NEAR(looped.loopOut - looped.loopIn, 4 * 0.5 * kRate, 2.0);
  Midi(0x97, 0x64, 0x7F);
  EXPECT_FALSE(Place(0).loopOn) << "beat loop pad again: off";

  MappingTable[kShiftLayerFlag | 0x90000B] = 5232;
  const bool playing = Place(0).playing;
  Midi(0x90, 0x3F, 0x7F);
  EXPECT_TRUE(IsShiftHeld()) << "controller SHIFT held";
  Midi(0x90, 0x0B, 0x7F);
  EXPECT_TRUE(Place(0).reverse) << "SHIFT + PLAY does its SHIFT-layer job";
  EXPECT_EQ(Place(0).playing, playing);
  Midi(0x90, 0x0B, 0x7F);
  Midi(0x90, 0x3F, 0x00);
  EXPECT_FALSE(IsShiftHeld()) << "SHIFT released";
  EXPECT_FALSE(Place(0).reverse);
  Midi(0x90, 0x0B, 0x7F);
  EXPECT_NE(Place(0).playing, playing) << "PLAY without SHIFT plays / pauses";
  Midi(0x90, 0x0B, 0x7F);
  SnapshotDecks();
  bool lit = false;
  ASSERT_TRUE(GetControlLed(5200, &lit));
  EXPECT_EQ(lit, Place(0).playing) << "PLAY light follows the deck";
}

TEST_F(MidiDecks, FourteenBitPairsButtonsAndRelativeEncodings) {
  MappingTable[0xB00007] = kMasterLevelControl;
  Midi(0xB0, 7, 64);
  EXPECT_FLOAT_EQ(MasterSection.masterLevel, 64.0f / 127.0f);
  Midi(0xB0, 39, 0);
  EXPECT_FLOAT_EQ(MasterSection.masterLevel, 64.0f * 128.0f / 16383.0f);
  Midi(0xB0, 39, 100);
  Midi(0xB0, 7, 10);
  EXPECT_FLOAT_EQ(MasterSection.masterLevel, (10.0f * 128.0f + 100.0f) / 16383.0f);

  MappingTable[0xB00003] = DeckControl(0, kHeadphoneCueOffset);  // a button's partner is dropped
  Midi(0xB0, 35, 127);
  EXPECT_FALSE(LiveDeckViews[0].headphoneCue);

  MappingTable[0x900040] = DeckControl(0, kCueOffset);
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[0].cuePoint = Engine.decks[0].position;
  }
  Midi(0x90, 0x40, 0x7F);
  EXPECT_TRUE(Place(0).playing) << "a paused deck on its cue previews while CUE is held";
  Midi(0x90, 0x40, 0x00);  // note on with velocity 0 is a release
  EXPECT_FALSE(Place(0).playing);

  MappingTable[0x900041] = kBrowseControl;
  MappingTable[0xB00041] = kBrowseControl;
  for (int i = 0; i < 5; ++i)
    ViewItems.push_back({.path = L"/m/" + std::to_wstring(i), .title = L"t", .searchText = L"t", .index = uint32_t(i)});
  RebuildView();
  Selection = 2;
  Midi(0x90, 0x41, 0x7F);
  EXPECT_EQ(Selection, 2) << "a relative mapping driven by a note is ignored";
  Midi(0xB0, 0x41, 65);
  EXPECT_EQ(Selection, 3);
  Midi(0xB0, 0x41, 63), Midi(0xB0, 0x41, 127);
  EXPECT_EQ(Selection, 1);
  MappingTable[0xB00041] = kBrowseControl | kInvertedMapping;
  Midi(0xB0, 0x41, 1);
  EXPECT_EQ(Selection, 0);

  MappingTable[0xE00200] = DeckControl(0, kHeadphoneCueOffset);
  Midi(0xE2, 0x00, 0x40);  // 8192: the centre presses
  EXPECT_TRUE(LiveDeckViews[0].headphoneCue);
  Midi(0xE2, 0x7F, 0x3F);  // 8191 releases; a release does not toggle
  Midi(0xE2, 0x00, 0x40);
  EXPECT_FALSE(LiveDeckViews[0].headphoneCue);

  Midi(0xA0, 0x40, 0x7F);  // aftertouch, program change and system messages are dropped
  Midi(0xC0, 0x40, 0x00);
  Midi(0xF8, 0x00, 0x00);
  EXPECT_FALSE(LiveDeckViews[0].headphoneCue);

  midiLearnOn = true;  // learn takes every message but a mapped SHIFT
  MappingTable[0x90003F] = kShiftControl;
  Midi(0x90, 0x0B, 0x7F);
  Midi(0x90, 0x3F, 0x7F);
  EXPECT_TRUE(IsShiftHeld());
  Midi(0x90, 0x3F, 0x00);
  EXPECT_FALSE(IsShiftHeld());
}

}  // namespace
