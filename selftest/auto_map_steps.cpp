// Phase 1's auto-map check: the wizard answered control by control with injected MIDI as a
// controller would send it, then the mapping it works out (the right deck from the left, pads
// 3-8 from pads 1 and 2) read back and played. Leaves the mapping table empty and the wizard closed.
#include <fmt/xchar.h>

#include <initializer_list>

#include "control/action_table.h"
#include "control/auto_map.h"
#include "control/mapping_table.h"
#include "control/midi_input.h"
#include "engine/transport.h"
#include "platform/clock.h"
#include "selftest/feature_run.h"
#include "selftest/selftest_state.h"

namespace FeatureTest {
namespace {

constexpr int kB = 1;
constexpr int kJogStep = 4, kTakenStep = 16;
constexpr double kWheelStoppedSeconds = 2.0;
constexpr size_t kLeastMappings = 50;
constexpr uint32_t kInverted = 0x10000;

struct Message {
  int status, data1, data2;
};

// One answer to the wizard, as if its step had started long ago (past the settling time).
void Answer(std::initializer_list<Message> messages) {
  AutoMapState.stepStart = 0.0;
  for (const Message& m : messages) InjectMidi(m.status, m.data1, m.data2);
}

// A knob or fader on channel 1 moved from low to its end.
void Sweep(int status, int data1) {
  Answer({{status, data1, 0x0A}, {status, data1, 0x32}, {status, data1, 0x5A}, {status, data1, 0x7F}});
}

// The table holds the key (type, channel, data1) with exactly this value.
bool Maps(uint32_t type, uint32_t channel, uint32_t data1, uint32_t value) {
  const auto row = MappingTable.find(MidiMappingKey(type, channel, data1));
  return row != MappingTable.end() && row->second == value;
}

void AnswerTheWizard() {
  StartAutoMap();
  AutoMapGoToStep(0);
  Answer({{0x90, 0x0B, 0x7F}});
  Answer({{0x90, 0x0C, 0x7F}});
  Answer({{0x90, 0x02, 0x7F}});
  Answer({{0x90, 0x46, 0x7F}});
  Answer({{0xB0, 0x06, 0x01}, {0xB0, 0x06, 0x01}, {0xB0, 0x06, 0x01}, {0xB0, 0x06, 0x01}, {0x90, 0x06, 0x7F},
          {0xB0, 0x22, 0x7F}, {0xB0, 0x22, 0x7F}, {0xB0, 0x22, 0x7F}, {0xB0, 0x22, 0x7F}});
  SelfTestCheck(AutoMapState.step == kJogStep, L"auto-map: the jog waits for the wheel to stop");
  AutoMapState.lastCapture = MonotonicSeconds() - kWheelStoppedSeconds;
  AutoMapCheckJogDone();

  Answer({{0xB0, 0x09, 0x3C}, {0xB0, 0x29, 0x03}, {0xB0, 0x09, 0x28}, {0xB0, 0x29, 0x09}, {0xB0, 0x09, 0x14},
          {0xB0, 0x09, 0x05}, {0xB0, 0x09, 0x00}});
  Answer({{0x90, 0x10, 0x7F}});
  Answer({{0x90, 0x47, 0x7F}});
  Answer({{0x94, 0x14, 0x7F}});
  Answer({{0x94, 0x15, 0x7F}});
  for (int data1 : {0x13, 0x16, 0x17, 0x18, 0x19, 0x1A}) Sweep(0xB0, data1);
  Answer({{0x90, 0x0C, 0x7F}});
  SelfTestCheck(AutoMapState.step == kTakenStep && !AutoMapState.warning.empty(),
                L"auto-map: a control that's already mapped is refused");

  Answer({{0x90, 0x1B, 0x7F}});
  Answer({{0x91, 0x0B, 0x7F}});
  Sweep(0xB1, 0x13);
  Answer({{0x95, 0x14, 0x7F}});
  Answer({{0xBF, 0x08, 0x64}, {0xBF, 0x08, 0x3C}, {0xBF, 0x08, 0x14}, {0xBF, 0x08, 0x00}});
  Answer({{0xBF, 0x00, 0x01}, {0xBF, 0x00, 0x01}, {0xBF, 0x00, 0x7F}, {0xBF, 0x00, 0x01}});
  Answer({{0x9F, 0x00, 0x7F}});
  Answer({{0x90, 0x3F, 0x7F}});
  AutoMapGoToStep(AutoMapState.step + 1);
  AutoMapGoToStep(AutoMapState.step + 1);
  SelfTestCheck(AutoMapState.step == kAutoMapSteps, fmt::format(L"auto-map: all {} steps done", kAutoMapSteps));
}

void CheckTheMapping() {
  SelfTestCheck(Maps(0x90, 0, 0x0B, 5200) && Maps(0x90, 1, 0x0B, 5400), L"auto-map: PLAY on both decks");
  SelfTestCheck(Maps(0x90, 1, 0x0C, 5401) && Maps(0x90, 1, 0x46, 5405) && HasMapping(0x91, 71, 5440),
                L"auto-map: the right deck's buttons worked out from the left");
  SelfTestCheck(Maps(0xB0, 0, 0x09, 5207 | kInverted) && Maps(0xB0, 1, 0x09, 5407 | kInverted),
                L"auto-map: an upside-down 14-bit pitch fader, both sides");
  SelfTestCheck(Maps(0xB0, 1, 0x06, 5414) && Maps(0x90, 1, 0x06, 5415) && HasMapping(0xB1, 34, 5416),
                L"auto-map: jog, its touch and its touched wheel, both sides");
  SelfTestCheck(Maps(0x90, 4, 0x1B, 5267) && Maps(0x90, 5, 0x1B, 5467),
                L"auto-map: pads 3-8 from pads 1 and 2, both sides");
  SelfTestCheck(Maps(0xB0, 1, 0x1A, 5413) && Maps(0x90, 1, 0x1B, 5404),
                L"auto-map: the right mixer channel from its volume fader");
  SelfTestCheck(Maps(0xB0, 15, 0x08, 5000) && Maps(0xB0, 15, 0x00, 5005) && HasMapping(0x9F, 0, 5006),
                L"auto-map: cross-fader and browse");
  SelfTestCheck(MappingTable.size() >= kLeastMappings, fmt::format(L"auto-map: {} mappings", MappingTable.size()));
}

}  // namespace

void AutoMapTests() {
  AnswerTheWizard();
  ApplyAutoMap();
  CloseAutoMap();  // as USE IT does: controller input goes to the new mapping again
  CheckTheMapping();

  const bool playing = IsDeckPlaying(kB);
  InjectMidi(0x91, 0x0B, 0x7F);
  InjectMidi(0x91, 0x0B, 0x00);
  SelfTestCheck(IsDeckPlaying(kB) != playing, L"auto-map: the worked-out right PLAY plays deck B");
  if (IsDeckPlaying(kB) != playing) ClickDeckAction(kB, kPlayOffset);
  MappingTable.clear();
  RebuildMappedTargets();
  ClearMidiPairing();
}

}  // namespace FeatureTest
