#include "control/auto_map.h"

#include <algorithm>

#include "base/settings.h"
#include "base/ui_text.h"
#include "control/control_ids.h"
#include "control/controller_leds.h"
#include "control/mapping_table.h"
#include "control/midi_learn.h"
#include "platform/clock.h"

bool AutoMapOpen = false;
AutoMapStateRecord AutoMapState;

const AutoMapPrompt AutoMapPrompts[kAutoMapSteps] = {
    {L"Press PLAY on the LEFT deck", 0, 0, 0, 0},
    {L"Press CUE on the LEFT deck", 0, 1, 0, 0},
    {L"Press SYNC on the LEFT deck", 0, 2, 0, 0},
    {L"Press the LEFT LOAD button", 0, 5, 0, 0},
    {L"Spin the LEFT jog wheel \u2014 on its edge, then with your hand on top", 0, 14, 0, 0},
    {L"Push the LEFT pitch fader all the way UP (away from you)", 0, 7, 1, 0},
    {L"Press the LEFT LOOP button", 0, 22, 0, 0},
    {L"Press the LEFT effect ON button", 0, 40, 0, 0},
    {L"Press LEFT pad 1 (top left)", 0, 60, 0, 2},
    {L"Press LEFT pad 2 (the one beside it)", 0, 61, 0, 2},
    {L"Push the LEFT volume fader all the way UP", 0, 8, 1, 1},
    {L"Turn the LEFT GAIN knob all the way RIGHT", 0, 9, 1, 1},
    {L"Turn the LEFT HIGH (TREBLE) knob all the way RIGHT", 0, 10, 1, 1},
    {L"Turn the LEFT MID knob all the way RIGHT", 0, 11, 1, 1},
    {L"Turn the LEFT LOW (BASS) knob all the way RIGHT", 0, 12, 1, 1},
    {L"Turn the LEFT FILTER knob all the way RIGHT", 0, 13, 1, 1},
    {L"Press the LEFT headphone CUE button", 0, 4, 0, 1},
    {L"Press PLAY on the RIGHT deck", 1, 0, 0, 0},
    {L"Push the RIGHT volume fader all the way UP", 1, 8, 1, 1},
    {L"Press RIGHT pad 1 (top left)", 1, 60, 0, 2},
    {L"Move the CROSS-FADER all the way LEFT", -1, 0, -1, 3},
    {L"Turn the BROWSE knob", -1, 5, 0, 3},
    {L"Push the BROWSE knob down", -1, 6, 0, 3},
    {L"Press SHIFT", -1, 7, 0, 3},
    {L"Turn the MASTER volume all the way UP", -1, 1, 1, 3},
    {L"Turn the HEADPHONE volume all the way UP", -1, 2, 1, 3},
};

namespace {

constexpr int kNoteOn = 0x90, kControlChange = 0xB0, kPitchBend = 0xE0;
constexpr int kJogStep = 4;
constexpr double kSettleSeconds = 0.3;
constexpr double kJogStopSeconds = 1.5;
constexpr int32_t kLeftJogTouch = 5215, kLeftJogTouched = 5216, kLeftPad1 = 5260;

int32_t TargetOf(int step) {
  const AutoMapPrompt& p = AutoMapPrompts[step];
  return p.deck < 0 ? kFirstMixerControl + p.offset : DeckControl(p.deck, p.offset);
}
uint32_t TypeOf(uint32_t key) { return key & 0xFF0000; }
int ChannelOf(uint32_t key) { return static_cast<int>((key >> 8) & 0x0F); }
int Data1Of(uint32_t key) { return static_cast<int>(key & 0x7F); }

bool Captured(uint32_t key) {
  return std::any_of(AutoMapState.captures.begin(), AutoMapState.captures.end(),
                     [key](const AutoMapCaptureRecord& c) { return c.key == key; });
}
const AutoMapCaptureRecord* CaptureOf(uint32_t value, uint32_t type) {
  for (const AutoMapCaptureRecord& c : AutoMapState.captures)
    if ((c.value & kMappingTargetMask) == value && TypeOf(c.key) == type) return &c;
  return nullptr;
}

// The key moved by a channel and data-byte difference; 0 when it would leave either field.
uint32_t MovedKey(uint32_t key, int channelStep, int dataStep) {
  const int channel = ChannelOf(key) + channelStep;
  const int data1 = TypeOf(key) == (kPitchBend << 16) ? 0 : Data1Of(key) + dataStep;
  if (channel < 0 || channel > 15 || data1 < 0 || data1 > 127) return 0;
  return TypeOf(key) | static_cast<uint32_t>(channel) << 8 | static_cast<uint32_t>(data1);
}

void AddDerived(uint32_t key, uint32_t value, int group) {
  if (key == 0 || Captured(key)) return;
  AutoMapState.captures.push_back({key, value, group, AutoMapState.step, true});
}

bool LooksRelative(int x) { return x < 16 || x > 112 || std::abs(x - 64) <= 15; }

bool AlreadyUsed(uint32_t key) {
  for (const AutoMapCaptureRecord& c : AutoMapState.captures) {
    if (c.key != key || c.step == AutoMapState.step) continue;
    AutoMapState.warning = EnglishText(UiFormat(L"That's already {} \u2014 try another control, or SKIP",
                                                ActionName(MappingTarget(c.value))));
    return true;
  }
  return false;
}

void Capture(uint32_t key, uint32_t value) {
  const int step = AutoMapState.step;
  const AutoMapPrompt& prompt = AutoMapPrompts[step];
  AutoMapState.captures.push_back({key, value, prompt.group, step, false});
  if (step == 9) {
    if (const AutoMapCaptureRecord* pad1 = CaptureOf(kLeftPad1, TypeOf(key))) {
      const uint32_t first = pad1->key;
      const int dc = ChannelOf(key) - ChannelOf(first), dd = Data1Of(key) - Data1Of(first);
      for (int n = 2; n <= 7; ++n) AddDerived(MovedKey(first, n * dc, n * dd), kLeftPad1 + n, prompt.group);
    }
  }
  if (prompt.deck == 1) {
    const uint32_t left = static_cast<uint32_t>(DeckControl(0, prompt.offset));
    if (const AutoMapCaptureRecord* twin = CaptureOf(left, TypeOf(key))) {
      const int dc = ChannelOf(key) - ChannelOf(twin->key), dd = Data1Of(key) - Data1Of(twin->key);
      const uint32_t twinKey = twin->key;
      const std::vector<AutoMapCaptureRecord> before = AutoMapState.captures;
      for (const AutoMapCaptureRecord& c : before) {
        const int32_t target = MappingTarget(c.value);
        if (c.group != prompt.group || c.key == twinKey || target < 5200 || target > 5399) continue;
        AddDerived(MovedKey(c.key, dc, dd), (c.value & kInvertedMapping) | static_cast<uint32_t>(target + 200), c.group);
      }
    }
  }
  AutoMapState.lastText = L"\u2713  " + DescribeMidiKey(key);
  AutoMapState.lastCapture = MonotonicSeconds();
}

}  // namespace

void StartAutoMap() {
  AutoMapState = AutoMapStateRecord{};
  AutoMapState.active = AutoMapOpen = true;
  midiLearnOn = false, midiLearnTarget = 0;
  AutoMapGoToStep(-1);
}

void CloseAutoMap() { AutoMapState.active = AutoMapOpen = false; }

void AutoMapGoToStep(int step) {
  AutoMapState.step = std::clamp(step, -1, kAutoMapSteps);
  AutoMapState.stats.clear();
  AutoMapState.stepStart = MonotonicSeconds();
  AutoMapState.lastCapture = 0.0;
  AutoMapState.lastText.clear(), AutoMapState.warning.clear();
}

void AutoMapBack() {
  const int to = AutoMapState.step - 1;
  if (AutoMapState.step < 0) return;
  auto& captures = AutoMapState.captures;
  captures.erase(std::remove_if(captures.begin(), captures.end(),
                                [to](const AutoMapCaptureRecord& c) { return c.step >= to; }),
                 captures.end());
  AutoMapGoToStep(to);
}

void AutoMapCheckJogDone() {
  if (AutoMapState.step != kJogStep || AutoMapState.lastCapture <= 0.0) return;
  if (MonotonicSeconds() - AutoMapState.lastCapture >= kJogStopSeconds) AutoMapGoToStep(kJogStep + 1);
}

void AutoMapMidiInput(uint32_t key, int type, int data1, int x) {
  AutoMapStateRecord& s = AutoMapState;
  if (s.step < 0 || s.step >= kAutoMapSteps) return;
  const double now = MonotonicSeconds();
  if (now - s.stepStart < kSettleSeconds) return;
  const int32_t target = TargetOf(s.step);
  const AutoMapPrompt& prompt = AutoMapPrompts[s.step];

  if (s.step == kJogStep && s.lastCapture > 0.0) {
    if (type == kNoteOn && x > 0 && !Captured(key)) {
      s.captures.push_back({key, static_cast<uint32_t>(kLeftJogTouch), prompt.group, s.step, false});
      s.lastText = L"\u2713  touch: " + DescribeMidiKey(key);
    } else if (type == kControlChange && LooksRelative(x)) {
      if (++s.stats[key].relative == 4 && !Captured(key))
        s.captures.push_back({key, static_cast<uint32_t>(kLeftJogTouched), prompt.group, s.step, false});
    }
    s.lastCapture = now;
    return;
  }

  const ControlKind kind = GetControlKind(target);
  if (kind == kAbsoluteControl) {
    if (type == kNoteOn) return;
    if (type == kControlChange && data1 >= 32 && data1 < 64) {
      ++s.stats[key - 32].count;
      return;
    }
    AutoMapStats& st = s.stats[key];
    ++st.count;
    if (st.first < 0) st.first = x;
    st.last = x, st.minimum = std::min(st.minimum, x), st.maximum = std::max(st.maximum, x);
    s.lastText = EnglishText(UiFormat(L"{}  \u2192  {}", DescribeMidiKey(key), x));
    if (st.count < 4 || st.maximum - st.minimum < 40 || (x > 7 && x < 120) || AlreadyUsed(key)) return;
    const bool inverted = prompt.kind == 1 ? x < 120 : x > 119;
    Capture(key, (inverted ? kInvertedMapping : 0) | static_cast<uint32_t>(target));
  } else if (kind == kRelativeControl) {
    if (type != kControlChange || !LooksRelative(x)) return;
    if (++s.stats[key].relative != 4 || AlreadyUsed(key)) return;
    Capture(key, static_cast<uint32_t>(target));
    if (s.step == kJogStep) return;
  } else {
    if (type == kNoteOn ? x < 1 : !(type == kControlChange && x == 127)) return;
    if (AlreadyUsed(key)) return;
    Capture(key, static_cast<uint32_t>(target));
  }
  AutoMapGoToStep(s.step + 1);
}

void ApplyAutoMap() {
  for (auto it = MappingTable.begin(); it != MappingTable.end();)
    it = IsKeyboardKey(it->first) ? std::next(it) : MappingTable.erase(it);
  for (const AutoMapCaptureRecord& c : AutoMapState.captures) MappingTable[c.key] = c.value;
  RebuildMappedTargets();
  Settings.MidiLayout.clear();
  Settings.FlipPitch = false;
  ClearControllerLedCache();
  SaveMidiMap();
  SaveSettings();
}
