// Phase 1's controller checks: recognising controllers and loading their ready-made layouts, then
// driving decks and mixer with injected MIDI and HID input as a device would. Leaves the mapping
// table empty, MIDI learn off and the vinyl switches on.
#include <fmt/xchar.h>

#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>

#include "base/settings.h"
#include "control/action_table.h"
#include "control/control_ids.h"
#include "control/controller_leds.h"
#include "control/controller_presets.h"
#include "control/hid_devices.h"
#include "control/hid_reports.h"
#include "control/mapping_table.h"
#include "control/midi_devices.h"
#include "control/midi_input.h"
#include "control/midi_learn.h"
#include "engine/control_input.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/mixer_controls.h"
#include "engine/pads.h"
#include "engine/transport.h"
#include "library/track_view.h"
#include "selftest/feature_run.h"
#include "selftest/selftest_state.h"

namespace FeatureTest {
namespace {

constexpr int kA = 0, kB = 1;
constexpr double kStartSeconds = 20.0;
constexpr float kFourteenBitFader = 12864.0f / 16383.0f;
constexpr float kHidHalfFader = 2048.0f / 4095.0f;
constexpr int32_t kPlayWidget = 1008, kVolumeWidget = 1018, kJogWidget = 1002;
constexpr int32_t kLeftReverse = 5232;
// A scratch reaches its target through the audio render: wait this long at most for it.
constexpr auto kScratchWait = std::chrono::milliseconds(1500);
constexpr double kScratchSettledFrames = 8.0;

DeckView& ViewA() { return LiveDeckViews[kA]; }

double TempoOffset(int deck) {
  const DeckView& view = LiveDeckViews[deck];
  return (0.5 - view.tempoFader) * 2.0 * view.pitchRange;
}

double PositionOf(int deck) {
  std::lock_guard<RealtimeMutex> hold(Engine.lock);
  return Engine.decks[deck].position;
}

// The position once a touched jog's record has reached where the jog put it (or the wait ran out).
double ScratchedPosition(int deck) {
  const auto until = std::chrono::steady_clock::now() + kScratchWait;
  for (;;) {
    double position = 0.0, target = 0.0;
    {
      std::lock_guard<RealtimeMutex> hold(Engine.lock);
      position = Engine.decks[deck].position;
      target = Engine.decks[deck].jogTarget;
    }
    if (std::fabs(position - target) < kScratchSettledFrames || std::chrono::steady_clock::now() > until)
      return position;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

bool JogHolds(int deck) {
  std::lock_guard<RealtimeMutex> hold(Engine.lock);
  return Engine.decks[deck].jogTouched;
}

bool HotCueSet(int deck, int slot) {
  std::lock_guard<RealtimeMutex> hold(Engine.lock);
  return Engine.decks[deck].hotCueStart[static_cast<size_t>(slot)] >= 0.0;
}

void EmptyMappings() {
  MappingTable.clear();
  RebuildMappedTargets();
  ClearMidiPairing();
}

void Press(int status, int data1) { InjectMidi(status, data1, 0x7F); }

void RecognitionChecks() {
  const ControllerPreset* party3 = FindControllerPreset(L"Party Mix III");
  SelfTestCheck(party3 && party3->name.find(L"Numark") != std::wstring::npos, L"Party Mix III gets the Numark layout");
  SelfTestCheck(FindControllerPreset(L"PARTYMIXII MIDI") != nullptr, L"Party Mix II is recognised");
  const ControllerPreset* flx4 = FindControllerPreset(L"DDJ-FLX4");
  SelfTestCheck(flx4 && flx4->name.find(L"Pioneer") != std::wstring::npos, L"DDJ-FLX4 gets the Pioneer layout");
  const ControllerPreset* inpulse = FindControllerPreset(L"DJControl Inpulse 200");
  SelfTestCheck(inpulse && inpulse->name.find(L"Hercules") != std::wstring::npos,
                L"Inpulse 200 gets the Hercules layout");
  SelfTestCheck(FindControllerPreset(L"Logitech G733 Gaming Headset") == nullptr, L"a headset gets no layout");
  SelfTestCheck(DecodeRelativeMidi(1) == 1 && DecodeRelativeMidi(127) == -1 && DecodeRelativeMidi(65) == 1 &&
                    DecodeRelativeMidi(63) == -1,
                L"endless knobs: both encodings");
}

// The Numark layout: transport, faders, mixer, jog and pads of the left deck.
void NumarkChecks() {
  ApplyControllerPreset(FindPresetByName(ControllerPresets(), L"Numark"));
  SelfTestCheck(Settings.MidiLayout.find(L"Numark") != std::wstring::npos && MappingTable.size() > 100,
                fmt::format(L"Numark layout loaded ({} mappings)", MappingTable.size()));
  if (IsDeckPlaying(kA)) ClickDeckAction(kA, kPlayOffset);
  {
    std::lock_guard<RealtimeMutex> hold(Engine.lock);
    if (Engine.decks[kA].track) SetDeckPosition(kA, kStartSeconds * Engine.decks[kA].track->sampleRate);
  }
  Press(0x90, 0x00);
  InjectMidi(0x80, 0x00, 0x00);
  SelfTestCheck(IsDeckPlaying(kA), L"PLAY starts deck A");
  Press(0x91, 0x00);
  InjectMidi(0x91, 0x00, 0x00);
  SelfTestCheck(IsDeckPlaying(kB), L"PLAY on the right starts deck B");

  InjectMidi(0xB0, 0x09, 0x00);
  const double top = TempoOffset(kA);
  SelfTestCheck(top < -0.07, fmt::format(L"pitch fader at the top is slowest ({:.6f})", top));
  for (int v = 0; v <= 120; v += 8) InjectMidi(0xB0, 0x09, v);
  InjectMidi(0xB0, 0x09, 0x7F);
  SelfTestCheck(TempoOffset(kA) > 0.07, L"pitch fader at the bottom is fastest");
  InjectMidi(0xB0, 0x09, 0x40);
  InjectMidi(0xB0, 0x29, 0x00);
  const double centre = TempoOffset(kA);
  SelfTestCheck(std::fabs(centre) < 0.001, fmt::format(L"14-bit pitch: centre is 0% ({:.4f}%)", centre * 100.0));

  InjectMidi(0xB0, 0x1C, 0x00);
  SelfTestCheck(ViewA().fader == 0.0f, L"volume fader down");
  InjectMidi(0xB0, 0x1C, 0x7F);
  SelfTestCheck(ViewA().fader == 1.0f, L"volume fader up");
  InjectMidi(0xB1, 0x19, 0x00);
  SelfTestCheck(LiveDeckViews[kB].eqLow == 0.0f, L"deck B low EQ");
  InjectMidi(0xB0, 0x1A, 0x40);
  SelfTestCheck(ViewA().filter == 0.0f, L"filter centre is off");
  InjectMidi(0xBF, 0x08, 0x7F);
  SelfTestCheck(CrossfaderPosition == 1.0f, L"cross-fader to B");
  InjectMidi(0xBF, 0x08, 0x00);
  SelfTestCheck(CrossfaderPosition == 0.0f, L"cross-fader to A");
  Press(0x90, 0x1B);
  SelfTestCheck(ViewA().headphoneCue, L"headphone cue A");
  Press(0x90, 0x1B);
  SelfTestCheck(!ViewA().headphoneCue, L"headphone cue A off again");

  ViewA().jogBend = 0.0f;
  InjectMidi(0xB0, 0x06, 0x05);
  SelfTestCheck(ViewA().jogBend > 0.0f, L"jog nudges a playing deck");
  ClickToState(kA, kVinylOffset, ViewA().vinylMode, true);
  Press(0x90, 0x06);
  const double touched = PositionOf(kA);
  SelfTestCheck(JogHolds(kA) && ViewA().jogHeld, L"touching the jog holds the record (vinyl)");
  InjectMidi(0xB0, 0x06, 0x7F);
  SelfTestCheck(ScratchedPosition(kA) < touched, L"turning back scratches back");
  InjectMidi(0x80, 0x06, 0x00);
  SelfTestCheck(!JogHolds(kA) && !ViewA().jogHeld, L"letting go of the jog lets the record play");
  Press(0x90, 0x07);
  SelfTestCheck(!ViewA().vinylMode, L"the wheel button turns vinyl mode off");
  Press(0x90, 0x07);
  ClickDeckAction(kA, kPadModeOffset + kPadCues);
  ClickDeckAction(kA, kClearHotCueOffset);

  Press(0x94, 0x14);
  InjectMidi(0x84, 0x14, 0x00);
  SelfTestCheck(HotCueSet(kA, 0), L"pad 1 sets hot cue 1");
  Press(0x94, 0x1C);
  SelfTestCheck(!HotCueSet(kA, 0), L"MODE + pad 1 clears it");
  Press(0x94, 0x00);
  SelfTestCheck(ViewA().padMode == kPadLoop, L"MODE steps the pads to LOOP");
  ClickDeckAction(kA, kPadModeOffset + kPadCues);
  Press(0x90, 0x49);
  SelfTestCheck(ViewA().padMode == kPadStems, L"MODE + INSTRUMENTAL: stem pads");
  ClickDeckAction(kA, kPadModeOffset + kPadCues);
  Press(0x90, 0x46);
  SelfTestCheck(ViewA().stemPreset == 1, L"ACAPELLA");
  Press(0x90, 0x46);
}

void BrowseChecks() {
  if (ViewOrder.empty()) {
    SelfTestSkip(L"browse (no tracks in the library view)");
    return;
  }
  // From the first row, so that moving off it means the knob moved the selection.
  Selection = ViewOrder.front();
  ScrollRow = 0;
  InjectMidi(0xBF, 0x00, 0x01);
  SelfTestCheck(Selection != ViewOrder.front(), L"browse knob moves down the list");
  InjectMidi(0xBF, 0x00, 0x7F);
  SelfTestCheck(Selection == ViewOrder.front(), L"and back up");
}

// The Pioneer layout: 14-bit faders, its offset-binary jog, hardware pad modes; then SHIFT.
void PioneerChecks() {
  ApplyControllerPreset(FindPresetByName(ControllerPresets(), L"Pioneer"));
  InjectMidi(0xB0, 0x13, 0x64);
  InjectMidi(0xB0, 0x33, 0x40);
  SelfTestCheck(std::fabs(ViewA().fader - kFourteenBitFader) < 0.0001f, L"14-bit channel fader");
  ClickToState(kA, kVinylOffset, ViewA().vinylMode, true);
  Press(0x90, 0x36);
  const double touched = PositionOf(kA);
  InjectMidi(0xB0, 0x22, 0x41);
  SelfTestCheck(ScratchedPosition(kA) > touched, L"Pioneer jog (offset binary) scratches forward");
  InjectMidi(0x90, 0x36, 0x00);
  ClickDeckAction(kA, kClearHotCueOffset + 2);
  Press(0x97, 0x02);
  SelfTestCheck(HotCueSet(kA, 2), L"hot cue pad 3 (hardware HOT CUE mode)");
  Press(0x97, 0x64);
  bool looping = false;
  double length = 0.0, fourBeats = 0.0;
  {
    std::lock_guard<RealtimeMutex> hold(Engine.lock);
    const DeckState& deck = Engine.decks[kA];
    looping = deck.loopOn;
    length = deck.loopOut - deck.loopIn;
    if (deck.track) fourBeats = 4.0 * BeatSamples(*deck.track);
  }
  SelfTestCheck(looping && std::fabs(length - fourBeats) <= 2.0, L"beat loop pad: 4 beats");
  Press(0x97, 0x64);
  {
    std::lock_guard<RealtimeMutex> hold(Engine.lock);
    looping = Engine.decks[kA].loopOn;
  }
  SelfTestCheck(!looping, L"beat loop pad again: off");

  MappingTable[kShiftLayerFlag | MidiMappingKey(0x90, 0, 0x0B)] = kLeftReverse;
  RebuildMappedTargets();
  const bool playing = IsDeckPlaying(kA);
  Press(0x90, 0x3F);
  SelfTestCheck(ControllerShiftHeld, L"controller SHIFT held");
  Press(0x90, 0x0B);
  bool reversed = false;
  {
    std::lock_guard<RealtimeMutex> hold(Engine.lock);
    reversed = Engine.decks[kA].reverse;
  }
  SelfTestCheck(reversed && IsDeckPlaying(kA) == playing, L"SHIFT + PLAY does its SHIFT-layer job (reverse)");
  Press(0x90, 0x0B);
  InjectMidi(0x90, 0x3F, 0x00);
  SelfTestCheck(!ControllerShiftHeld, L"SHIFT released");
  Press(0x90, 0x0B);
  SelfTestCheck(IsDeckPlaying(kA) != playing, L"PLAY without SHIFT plays / pauses");
  Press(0x90, 0x0B);
  SnapshotDecks();  // the lights read the per-frame copy
  bool lit = false;
  const bool hasLight = GetControlLed(DeckControl(0, kPlayOffset), &lit);
  SelfTestCheck(hasLight && lit == IsDeckPlaying(kA), L"PLAY light follows the deck");
}

// A five-byte report: id 1, buttons, a 12-bit fader (little-endian), a jog counter.
void Report(uint8_t buttons, uint8_t faderLow, uint8_t faderHigh, uint8_t jog) {
  InjectHidReport({0x01, buttons, faderLow, faderHigh, jog});
}

void HidChecks() {
  EmptyMappings();
  Settings.MidiLayout.clear();
  ClearHidHistory();
  midiLearnOn = true;
  Report(0x00, 0x00, 0x00, 0x10);
  midiLearnTarget = kPlayWidget;
  Report(0x01, 0x00, 0x00, 0x10);
  SelfTestCheck(MappingTable.count(0x1F20010) == 1, L"HID learn: a button bit");
  Report(0x00, 0x00, 0x00, 0x10);
  midiLearnTarget = kVolumeWidget;
  Report(0x00, 0xFF, 0x0F, 0x10);
  SelfTestCheck(MappingTable.count(0x1F20029) == 1, L"HID learn: a 12-bit fader");
  midiLearnTarget = kJogWidget;
  Report(0x00, 0xFF, 0x0F, 0x12);
  SelfTestCheck(MappingTable.count(0x1F20048) == 1, L"HID learn: a jog counter");

  midiLearnOn = false;
  midiLearnTarget = 0;
  const bool playing = IsDeckPlaying(kA);
  Report(0x01, 0xFF, 0x0F, 0x12);
  SelfTestCheck(IsDeckPlaying(kA) != playing, L"HID button plays / pauses");
  Report(0x00, 0x00, 0x08, 0x12);
  const float volume = ViewA().fader;
  SelfTestCheck(std::fabs(volume - kHidHalfFader) < 0.01f, fmt::format(L"HID fader sets the volume ({})", volume));
  if (!IsDeckPlaying(kA)) ClickDeckAction(kA, kPlayOffset);
  ClickToState(kA, kVinylOffset, ViewA().vinylMode, false);
  ViewA().jogBend = 0.0f;
  Report(0x00, 0x00, 0x08, 0x15);
  SelfTestCheck(ViewA().jogBend > 0.0f, L"HID jog nudges");
}

// A rescan only when a device came or went; otherwise nothing was tried.
void HotPlugCheck() {
  if (!MidiDevicesChanged() && !HidDevicesChanged()) {
    SelfTestSkip(L"controller hot-plug check (no controller came or went)");
    return;
  }
  ScanControllers(true);
  SelfTestCheck(!MidiDevicesChanged() && !HidDevicesChanged(), L"controller hot-plug check");
}

}  // namespace

const ControllerPreset& FindPresetByName(const std::vector<ControllerPreset>& presets, const std::wstring& text) {
  for (const ControllerPreset& preset : presets)
    if (preset.name.find(text) != std::wstring::npos) return preset;
  return presets.front();
}

bool HasMapping(int status, int data1, int32_t control) {
  const auto row = MappingTable.find(MidiMappingKey(static_cast<uint32_t>(status), static_cast<uint32_t>(status & 0x0F),
                                                    static_cast<uint32_t>(data1)));
  return row != MappingTable.end() && row->second == static_cast<uint32_t>(control);
}

void ControllerLayoutTests() {
  RecognitionChecks();
  NumarkChecks();
  BrowseChecks();
  PioneerChecks();
  HidChecks();
  HotPlugCheck();
  EmptyMappings();
  midiLearnOn = false;
  midiLearnTarget = 0;
  for (const int deck : {kA, kB}) ClickToState(deck, kVinylOffset, LiveDeckViews[deck].vinylMode, true);
}

}  // namespace FeatureTest
