// MIDI learn through OnMidiMessage: one control per click, the 14-bit partner skipped, the browse
// knob's turn and push, the jog's touch and turn, the SHIFT layer, and the key texts.
#include <gtest/gtest.h>

#include "base/status_message.h"
#include "base/ui_text.h"
#include "control/control_ids.h"
#include "control/mapping_table.h"
#include "control/midi_input.h"
#include "control/midi_learn.h"
#include "engine/control_input.h"
#include "support/temp_home.h"

namespace {

void Midi(int status, int data1, int data2) {
  OnMidiMessage(static_cast<uint32_t>(status | data1 << 8 | data2 << 16));
}
std::wstring Shown() { return EnglishText(Status.message); }

class Learn : public ::testing::Test {
 protected:
  void SetUp() override { Clear(), midiLearnOn = true; }
  void TearDown() override { Clear(); }
  static void Clear() {
    MappingTable.clear();
    RebuildMappedTargets();
    ResetMidiLearn();
    ControllerShiftHeld = false;
    heldIds.clear();
    midiLearnOn = false, midiLearnTarget = 0;
  }
  TempHome home;
};

TEST_F(Learn, FaderMapsItsMostSignificantHalfOnlyAndEachClickLearnsOnce) {
  Midi(0xB0, 7, 10);  // no target: nothing
  EXPECT_TRUE(MappingTable.empty());
  midiLearnTarget = 1018;
  Midi(0xB1, 7, 64);
  Midi(0xB1, 39, 3);
  ASSERT_EQ(MappingTable.size(), 1u);
  EXPECT_EQ(MappingTable[MidiMappingKey(0xB0, 1, 7)], 1018u);
  EXPECT_EQ(Shown(), L"Mapped \u2014 click another control, or MIDI to finish");
  EXPECT_EQ(midiLearnTarget, 0);
  EXPECT_TRUE(mappedControlIds.count(1018));

  midiLearnTarget = 1008;
  Midi(0x80, 11, 0), Midi(0x90, 11, 0);
  EXPECT_EQ(MappingTable.size(), 1u) << "note offs are not learned";
  Midi(0x90, 11, 100);
  EXPECT_EQ(MappingTable[MidiMappingKey(0x90, 0, 11)], 1008u);
}

TEST_F(Learn, BrowseTurnThenPushAndJogTouchThenTurn) {
  midiLearnTarget = kBrowseKnobWidget;
  Midi(0xBF, 0, 1);
  EXPECT_EQ(Shown(), L"Browse knob mapped \u2014 now push it down to map loading");
  Midi(0xBF, 0, 127);
  Midi(0xBF, 1, 10);
  EXPECT_EQ(MappingTable.size(), 1u) << "a second turn and a soft value are not a push";
  Midi(0x9F, 6, 127);
  EXPECT_EQ(MappingTable[MidiMappingKey(0x90, 15, 6)], uint32_t(kBrowsePushWidget));
  EXPECT_EQ(Shown(), L"Browse push mapped \u2014 it loads the selected track");
  EXPECT_EQ(midiLearnTarget, 0);

  midiLearnTarget = 1102;  // the right jog
  Midi(0x91, 6, 127);
  EXPECT_EQ(MappingTable[MidiMappingKey(0x90, 1, 6)], uint32_t(DeckControl(1, kJogTouchOffset)));
  EXPECT_EQ(Shown(), L"Jog touch mapped \u2014 now turn the jog wheel");
  EXPECT_EQ(midiLearnTarget, 1102);
  Midi(0xB1, 6, 1);
  EXPECT_EQ(MappingTable[MidiMappingKey(0xB0, 1, 6)], 1102u);
  EXPECT_EQ(midiLearnTarget, 0);
}

TEST_F(Learn, ShiftHeldOnTheControllerLearnsTheShiftLayerButNotForShiftItself) {
  midiLearnTarget = kShiftWidget;
  Midi(0x90, 63, 127);
  EXPECT_EQ(MappingTable[MidiMappingKey(0x90, 0, 63)], uint32_t(kShiftWidget)) << "plain layer";
  Midi(0x90, 63, 0);
  Midi(0x90, 63, 127);  // held: applied as SHIFT, not learned
  midiLearnTarget = 1040;
  Midi(0x90, 20, 127);
  EXPECT_EQ(MappingTable[MidiMappingKey(0x90, 0, 20) | kShiftLayerFlag], 1040u);
  EXPECT_EQ(Shown(), L"Mapped on the SHIFT layer \u2014 click another control, or MIDI to finish");
  Midi(0x90, 63, 0);

  EXPECT_EQ(DescribeMidiKey(MidiMappingKey(0x90, 0, 36)), L"note 36 \u00b7 ch 1");
  EXPECT_EQ(DescribeMidiKey(MidiMappingKey(0xB0, 1, 7)), L"CC 7 \u00b7 ch 2");
  EXPECT_EQ(DescribeMidiKey(MidiMappingKey(0xE0, 2, 0)), L"pitch bend \u00b7 ch 3");
}

}  // namespace
