// The auto-map wizard answered step by step through OnMidiMessage, as a controller would: the jog
// waits for the wheel to stop, a taken control is refused, pads and the right deck are worked out,
// and the applied table drives deck B.
#include <gtest/gtest.h>

#include <mutex>

#include "base/settings.h"
#include "control/auto_map.h"
#include "control/mapping_table.h"
#include "control/midi_input.h"
#include "control/midi_learn.h"
#include "engine/control_input.h"
#include "engine/engine.h"
#include "engine/side_slots.h"
#include "support/click_tracks.h"
#include "support/temp_home.h"

namespace {

void Send(std::initializer_list<uint32_t> messages) {
  AutoMapState.stepStart = -1e9;  // as if the step started long ago
  for (uint32_t m : messages) OnMidiMessage(m >> 16 | (m >> 8 & 0xFF) << 8 | (m & 0xFF) << 16);
}
// Messages written as 0xSSDDVV (status, data1, data2).
void Fader(uint32_t statusData1) {
  Send({statusData1 << 8 | 0x0A, statusData1 << 8 | 0x32, statusData1 << 8 | 0x5A, statusData1 << 8 | 0x7F});
}
uint32_t At(uint32_t status, uint32_t channel, uint32_t data1) {
  const auto it = MappingTable.find(MidiMappingKey(status, channel, data1));
  return it == MappingTable.end() ? 0 : it->second;
}

TEST(AutoMap, ScriptedRunMapsBothDecksAndTheMixer) {
  TempHome home;
  ResetDecksForTest();
  SideSlots[0] = 0, SideSlots[1] = 1;
  static ClickTrackFolder folder;
  ClickTrack spec;
  spec.seconds = 20.0;
  ASSERT_TRUE(LoadAndWait(1, folder.Make(spec)));
  MappingTable.clear();
  MappingTable[MappingKey('X')] = 5200;  // keyboard bindings stay

  StartAutoMap();
  EXPECT_TRUE(AutoMapOpen);
  AutoMapGoToStep(0);
  Send({0x900B7F}), Send({0x900C7F}), Send({0x90027F}), Send({0x90467F});
  Send({0xB00601, 0xB00601, 0xB00601, 0xB00601, 0x90067F, 0xB0227F, 0xB0227F, 0xB0227F, 0xB0227F});
  EXPECT_EQ(AutoMapState.step, 4) << "the jog waits for the wheel to stop";
  AutoMapCheckJogDone();
  EXPECT_EQ(AutoMapState.step, 4);
  AutoMapState.lastCapture -= 2.0;
  AutoMapCheckJogDone();
  ASSERT_EQ(AutoMapState.step, 5);

  Send({0xB0093C, 0xB02903, 0xB00928, 0xB02909, 0xB00914, 0xB00905, 0xB00900});
  Send({0x90107F}), Send({0x90477F}), Send({0x94147F}), Send({0x94157F});
  for (uint32_t knob : {0xB013u, 0xB016u, 0xB017u, 0xB018u, 0xB019u, 0xB01Au}) Fader(knob);
  ASSERT_EQ(AutoMapState.step, 16);
  Send({0x900C7F});
  EXPECT_EQ(AutoMapState.step, 16) << "a control that's already mapped is refused";
  EXPECT_EQ(AutoMapState.warning, L"That's already Left deck cue \u2014 try another control, or SKIP");

  Send({0x901B7F}), Send({0x910B7F}), Fader(0xB113), Send({0x95147F});
  Send({0xBF0864, 0xBF083C, 0xBF0814, 0xBF0800});
  Send({0xBF0001, 0xBF0001, 0xBF007F, 0xBF0001});
  Send({0x9F007F}), Send({0x903F7F});
  AutoMapGoToStep(AutoMapState.step + 1), AutoMapGoToStep(AutoMapState.step + 1);
  EXPECT_EQ(AutoMapState.step, 26) << "all 26 steps done";
  EXPECT_EQ(MappingTable.size(), 1u) << "nothing applied before the end";

  ApplyAutoMap();
  EXPECT_EQ(At(0x90, 0, 0x0B), 5200u);
  EXPECT_EQ(At(0x90, 1, 0x0B), 5400u);
  EXPECT_EQ(At(0x90, 1, 0x0C), 5401u);
  EXPECT_EQ(At(0x90, 1, 0x46), 5405u);
  EXPECT_EQ(At(0x90, 1, 71), 5440u);
  EXPECT_EQ(At(0xB0, 0, 0x09), 5207u | kInvertedMapping) << "an upside-down pitch fader";
  EXPECT_EQ(At(0xB0, 1, 0x09), 5407u | kInvertedMapping) << "copied with its direction";
  EXPECT_EQ(At(0xB0, 1, 0x06), 5414u);
  EXPECT_EQ(At(0x90, 1, 0x06), 5415u);
  EXPECT_EQ(At(0xB0, 1, 34), 5416u);
  EXPECT_EQ(At(0x90, 4, 0x1B), 5267u) << "pads 3-8 from pads 1 and 2";
  EXPECT_EQ(At(0x90, 5, 0x1B), 5467u);
  EXPECT_EQ(At(0xB0, 1, 0x1A), 5413u);
  EXPECT_EQ(At(0x90, 1, 0x1B), 5404u);
  EXPECT_EQ(At(0xB0, 15, 0x08), 5000u) << "cross-fader ending at 0 when moved left is plain";
  EXPECT_EQ(At(0xB0, 15, 0x00), 5005u);
  EXPECT_EQ(At(0x90, 15, 0x00), 5006u);
  EXPECT_EQ(MappingTable[MappingKey('X')], 5200u);
  EXPECT_GE(MappingTable.size(), 50u);
  EXPECT_TRUE(Settings.MidiLayout.empty());

  AutoMapOpen = AutoMapState.active = false;
  const auto playing = [] {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    return Engine.decks[1].playing;
  };
  const bool before = playing();
  OnMidiMessage(0x7F0B91), OnMidiMessage(0x000B91);
  EXPECT_NE(playing(), before) << "the worked-out right PLAY plays deck B";
  MappingTable.clear();
  ResetDecksForTest();
}

TEST(AutoMap, WorkedOutKeysNeverWrapAndTheWizardSettlesAndGoesBack) {
  TempHome home;
  MappingTable.clear();
  StartAutoMap();
  AutoMapGoToStep(8);
  Send({0x94147F});
  Send({0x94137F});  // pad 2 a note below pad 1: pads 3-8 on notes 18 down to 13
  size_t derived = 0;
  for (const AutoMapCaptureRecord& c : AutoMapState.captures) derived += c.derived;
  EXPECT_EQ(derived, 6u);
  EXPECT_EQ(AutoMapState.step, 10);
  AutoMapBack();
  EXPECT_EQ(AutoMapState.step, 9);
  EXPECT_EQ(AutoMapState.captures.size(), 1u) << "back removes pad 2 and its pads";
  AutoMapBack();
  AutoMapGoToStep(8);
  Send({0x91027F});
  Send({0x90037F});  // one channel down, one note up: pads 3-8 would need channels below 0
  derived = 0;
  for (const AutoMapCaptureRecord& c : AutoMapState.captures) derived += c.derived;
  EXPECT_EQ(derived, 0u) << "no key wraps into another field";

  AutoMapGoToStep(10);
  OnMidiMessage(0x0007B0 | 0x7F << 16);  // right after the step change: ignored
  EXPECT_TRUE(AutoMapState.stats.empty());
  Send({0xB00740, 0xB00742, 0xB00744, 0xB00750});
  EXPECT_EQ(AutoMapState.step, 10) << "a knob stopped in the middle is not accepted";
  AutoMapOpen = AutoMapState.active = false;
}

}  // namespace
