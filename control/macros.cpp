#include "control/macros.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "base/beat_grid.h"
#include "base/settings.h"
#include "base/status_message.h"
#include "base/text_parse.h"
#include "broadcast/mix_recording.h"
#include "broadcast/video_feed.h"
#include "broadcast/video_window.h"
#include "control/action_table.h"
#include "engine/automix.h"
#include "engine/deck_view.h"
#include "engine/effects.h"
#include "engine/engine.h"
#include "engine/jog_loops.h"
#include "engine/mixer_controls.h"
#include "engine/sampler.h"
#include "engine/sampler_bank.h"
#include "engine/sandbox.h"
#include "engine/side_slots.h"
#include "engine/stem_controls.h"
#include "engine/sync.h"
#include "engine/transport.h"
#include "library/track_view.h"
#include "platform/clock.h"

std::vector<RunningMacro> RunningMacros;
std::vector<ValueGlide> ValueGlides;
double (*MacroClockHook)() = nullptr;

namespace {

// Unset (no shell), the macros' time stands still: waits and glides hold where they are.
double MacroNow() { return MacroClockHook ? MacroClockHook() : 0.0; }

constexpr double kNoTrackBpm = 120.0;
constexpr double kMinBpm = 20.0;
constexpr double kBeatsPerBar = 4.0;
constexpr int kMaxKeyShift = 6;
constexpr double kMaxJumpBeats = 100000.0;  // far beyond any track; keeps the frame sums finite
constexpr double kMaxBrowseRows = 1000000.0;
constexpr double kLoopSizeTolerance = 0.001;
constexpr float kWidestPitchRange = 0.50f;

using Words = MacroStep;

// The word at i, or an empty one past the end.
const std::wstring& WordAt(const Words& words, size_t i) {
  static const std::wstring kNone;
  return i < words.size() ? words[i] : kNone;
}

// The number at the start of the word as the C library's wcstod reads it in the C locale (0 when
// none starts there). False when it would not be finite ("inf", "nan", "1e999").
bool NumberAt(const Words& words, size_t i, double* out) {
  const std::wstring& word = WordAt(words, i);
  size_t used = 0;
  *out = LeadingCNumber(word, &used);
  if (used != 0) return std::isfinite(*out);
  // Nothing read: either no number at all (reads 0) or one the reader refused as not finite.
  size_t at = 0;
  while (at < word.size() && IsWideSpace(word[at])) ++at;
  if (at < word.size() && (word[at] == L'+' || word[at] == L'-')) ++at;
  const std::wstring_view rest = std::wstring_view(word).substr(at);
  auto isDigit = [](wchar_t c) { return c >= L'0' && c <= L'9'; };
  const bool digit = !rest.empty() && (isDigit(rest[0]) || (rest.size() > 1 && rest[0] == L'.' && isDigit(rest[1])));
  *out = 0.0;
  return !(digit || rest.starts_with(L"inf") || rest.starts_with(L"nan"));
}

// A whole number: clamped as a real number first, then truncated toward zero.
int WholeNumber(double x, int low, int high) {
  return static_cast<int>(std::trunc(std::clamp(x, static_cast<double>(low), static_cast<double>(high))));
}

// "on", "off", anything else the opposite of now.
bool OnOff(const std::wstring& word, bool now) {
  if (word == L"on") return true;
  if (word == L"off") return false;
  return !now;
}

void RemoveGlide(const float* target) {
  std::erase_if(ValueGlides, [target](const ValueGlide& g) { return g.target == target; });
}

bool DeckPlaying(int deck) {
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  return DeckStateOf(deck).playing;
}

// The effect named by the word: an exact name wins, else the first whose name starts with it or
// whose part after the first space or hyphen equals it. -1 when none.
int FindEffect(const std::wstring& word) {
  if (word.empty()) return -1;
  for (int i = 0; i < kEffectCount; ++i)
    if (LowerText(kEffects[i].name) == word) return i;
  for (int i = 0; i < kEffectCount; ++i) {
    const std::wstring name = LowerText(kEffects[i].name);
    const size_t space = name.find(L' ');
    const size_t hyphen = name.find(L'-');
    if (name.starts_with(word) || (space != std::wstring::npos && name.substr(space + 1) == word) ||
        (hyphen != std::wstring::npos && name.substr(hyphen + 1) == word))
      return i;
  }
  return -1;
}

// Index of the lower-cased name in the table, or -1.
template <size_t N>
int FindName(const wchar_t* const (&names)[N], const std::wstring& text) {
  for (size_t i = 0; i < N; ++i)
    if (LowerText(names[i]) == text) return static_cast<int>(i);
  return -1;
}

bool RunPercent(int deck, float* target, const Words& words, size_t valueAt, float low, float high) {
  double p = 0.0;
  if (!NumberAt(words, valueAt, &p)) return false;
  const float value = std::clamp(static_cast<float>(p / 100.0), low, high);
  return ParseOverBeats(deck, target, value, words, valueAt + 1);
}

bool RunTempo(int deck, const Words& words) {
  double p = 0.0;
  if (!NumberAt(words, 1, &p)) return false;
  DeckView& view = LiveDeckViews[deck];
  const std::wstring& word = WordAt(words, 1);
  const bool relative = word.starts_with(L'+') || (word.starts_with(L'-') && word.size() > 1);
  const double target = (relative ? TempoOffsetOf(view) : 0.0) + p / 100.0;
  float range = kWidestPitchRange;
  for (float r : PitchRanges) {
    if (r + 1e-6 >= std::fabs(target)) {
      range = r;
      break;
    }
  }
  view.pitchRange = std::max(view.pitchRange, range);
  RemoveGlide(&view.tempoFader);
  view.tempoFader = std::clamp(static_cast<float>(0.5 - target / (2.0 * view.pitchRange)), 0.0f, 1.0f);
  return true;
}

bool RunLoop(int deck, const Words& words) {
  if (WordAt(words, 1) == L"off") {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    DeckStateOf(deck).loopOn = false;
    return true;
  }
  double size = 0.0;
  if (!NumberAt(words, 1, &size)) return false;
  for (int i = 0; i < kLoopSizeCount; ++i)
    if (std::fabs(kLoopSizes[i] - size) < kLoopSizeTolerance) LiveDeckViews[deck].loopSizeIndex = i;
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    DeckStateOf(deck).loopOn = false;
  }
  ToggleAutoLoop(deck);
  return true;
}

bool RunEffect(int deck, const Words& words) {
  double n = 0.0;
  if (!NumberAt(words, 1, &n)) return false;
  const int slot = WholeNumber(n, 1, kDeckFxSlots) - 1;
  DeckView& view = LiveDeckViews[deck];
  const std::wstring& what = WordAt(words, 2);
  if (what == L"on" || what == L"off" || what == L"toggle") {
    const uint32_t effect = view.fxSlotEffect[slot];
    if (effect == kBrakeAction || effect == kBackspinAction) {
      if (what != L"off") BrakeOrSpin(deck, static_cast<int>(effect));
    } else {
      view.fxSlotOn[slot] = what == L"on" || (what == L"toggle" && !view.fxSlotOn[slot]);
    }
    return true;
  }
  if (what == L"amount") return RunPercent(deck, &view.fxSlotAmount[slot], words, 3, 0.0f, 1.0f);
  const int effect = FindEffect(what);
  if (effect < 0) return false;
  view.fxSlotEffect[slot] = static_cast<uint32_t>(effect);
  return true;
}

// Vocals, drums, bass, melody.
constexpr const wchar_t* kStemWords[kStemNameCount] = {L"vocals", L"drums", L"bass", L"melody"};

// "acapella" (vocals only) and "instrumental" (all but vocals) flip between the preset and the full mix.
void StemPreset(int deck, const std::array<bool, kStemSwitches>& preset) {
  DeckView& view = LiveDeckViews[deck];
  if (!view.stemsReady) {
    if (!view.stemsRunning) StartStemSeparation(deck);
    return;
  }
  view.stemOn = view.stemOn == preset ? std::array<bool, kStemSwitches>{true, true, true, true} : preset;
  view.stemPreset = kStemPresetNone;
}

bool RunStems(int deck, const Words& words) {
  DeckView& view = LiveDeckViews[deck];
  const std::wstring& what = WordAt(words, 1);
  const int part = FindName(kStemWords, what);
  if (part >= 0) {
    if (!view.stemsReady) StartStemSeparation(deck);
    else view.stemOn[part] = OnOff(WordAt(words, 2), view.stemOn[part]);
    return true;
  }
  if (what == L"acapella") return StemPreset(deck, {true, false, false, false}), true;
  if (what == L"instrumental") return StemPreset(deck, {false, true, true, true}), true;
  if (what == L"all") {
    if (view.stemsReady) view.stemOn = {true, true, true, true}, view.stemPreset = kStemPresetNone;
    view.kickOn = view.hatOn = true;
    return true;
  }
  if (what == L"kick") return view.kickOn = OnOff(WordAt(words, 2), view.kickOn), true;
  if (what == L"hihat" || what == L"hat") return view.hatOn = OnOff(WordAt(words, 2), view.hatOn), true;
  return false;
}

bool RunCrossfader(int deck, const Words& words) {
  const std::wstring& where = WordAt(words, 1);
  float value = 0.0f;
  if (where == L"left") value = 0.0f;
  else if (where == L"right") value = 1.0f;
  else if (where == L"center" || where == L"centre") value = 0.5f;
  else if (!RunPercent(deck, &CrossfaderPosition, words, 1, 0.0f, 1.0f)) return false;
  else return XfGlide.active = false, true;
  XfGlide.active = false;
  RemoveGlide(&CrossfaderPosition);
  CrossfaderPosition = value;
  return true;
}

bool RunVideo(const Words& words) {
  const std::wstring& what = WordAt(words, 1);
  if (what == L"screen") {
    const bool open = IsVideoWindowOpen();
    if (OnOff(WordAt(words, 2), open) != open) ToggleVideoWindow();
    return true;
  }
  if (what != L"effect" && what != L"transition") return false;
  std::wstring name;
  for (size_t i = 2; i < words.size(); ++i) name += (i > 2 ? L" " : L"") + words[i];
  name = LowerText(name);
  const int index = what == L"effect" ? FindName(kVideoEffectNames, name) : FindName(kVideoTransitionNames, name);
  if (index < 0) return false;
  (what == L"effect" ? Settings.Effect : Settings.Transition) = index;
  return true;
}

// Flips a global switch through its own command when the wanted state differs from now.
bool RunSwitch(const Words& words, bool now, void (*toggle)()) {
  if (OnOff(WordAt(words, 1), now) != now) toggle();
  return true;
}

// A keyword that is an action's own press (and release) runs the action's row on the deck; a
// numbered one takes its number, clamped to the run, from the next word.
bool RunActionWord(int deck, const Words& words, bool* known) {
  for (const ActionRow& row : ActionRows()) {
    if (!row.deck || row.macro.empty() || row.macro != words[0]) continue;
    *known = true;
    int32_t n = 0;
    if (row.count > 1) {
      double x = 0.0;
      if (!NumberAt(words, 1, &x)) return false;
      n = std::clamp(WholeNumber(x, 0, row.count) - 1, 0, row.count - 1);
    }
    ClickDeckAction(deck, row.first + n);
    return true;
  }
  return false;
}

// Commands that act on the current deck's transport, loops and switches.
bool RunDeckCommand(RunningMacro& running, const Words& words, bool* known) {
  const std::wstring& key = words[0];
  const int deck = running.deck;
  DeckView& view = LiveDeckViews[deck];
  double n = 0.0;
  if (const bool done = RunActionWord(deck, words, known); *known) return done;
  *known = true;
  if (key == L"play") return (DeckPlaying(deck) ? void() : PlayPause(deck)), true;
  if (key == L"pause") return (DeckPlaying(deck) ? PlayPause(deck) : void()), true;
  if (key == L"stop") {
    if (DeckPlaying(deck)) PlayPause(deck);
    double cue = 0.0;
    {
      std::lock_guard<RealtimeMutex> lock(Engine.lock);
      cue = DeckStateOf(deck).cuePoint;
    }
    SeekDeck(Engine, deck, cue);
    return true;
  }
  if (key == L"sync") return SyncDeck(deck), true;
  if (key == L"pfl") return view.headphoneCue = OnOff(WordAt(words, 1), view.headphoneCue), true;
  if (key == L"keylock") return view.keyLock = OnOff(WordAt(words, 1), view.keyLock), true;
  if (key == L"key") {
    if (!NumberAt(words, 1, &n)) return false;
    view.keyShift = WholeNumber(n, -kMaxKeyShift, kMaxKeyShift);
    return true;
  }
  if (key == L"keymatch") return MatchKey(deck), true;
  if (key == L"brake" || key == L"spin") return BrakeOrSpin(deck, key == L"brake" ? kBrakeAction : kBackspinAction), true;
  if (key == L"jump") {
    if (!NumberAt(words, 1, &n)) return false;
    BeatJump(deck, std::clamp(n, -kMaxJumpBeats, kMaxJumpBeats));
    return true;
  }
  if (key == L"loop") return RunLoop(deck, words);
  if (key == L"tempo") return RunTempo(deck, words);
  if (key == L"volume") return RunPercent(deck, &view.fader, words, 1, 0.0f, 1.0f);
  if (key == L"gain") return RunPercent(deck, &view.gain, words, 1, 0.0f, 1.0f);
  if (key == L"filter") return RunPercent(deck, &view.filter, words, 1, -1.0f, 1.0f);
  if (key == L"eq") {
    const std::wstring& band = WordAt(words, 1);
    float* target = band == L"high" ? &view.eqHigh : band == L"mid" ? &view.eqMid : band == L"low" ? &view.eqLow : nullptr;
    return target != nullptr && RunPercent(deck, target, words, 2, 0.0f, 1.0f);
  }
  if (key == L"fx") return RunEffect(deck, words);
  if (key == L"stem" || key == L"stems") return RunStems(deck, words);
  *known = false;
  return false;
}

}  // namespace

std::vector<MacroStep> ParseMacro(std::wstring_view text) {
  std::vector<MacroStep> steps;
  MacroStep step;
  std::wstring word;
  bool quoted = false;
  auto endWord = [&](bool evenEmpty) {
    if (!word.empty() || evenEmpty) step.push_back(std::move(word));
    word.clear();
  };
  auto endStep = [&] {
    endWord(false);
    if (!step.empty()) steps.push_back(std::move(step));
    step.clear();
  };
  for (const wchar_t c : text) {
    if (c == L'"') {
      endWord(quoted);  // an opening quote ends a pending word; a closing one ends even an empty one
      quoted = !quoted;
    } else if (quoted) {
      word += c;
    } else if (c == L'&' || c == L';' || c == L'\r' || c == L'\n') {
      endStep();
    } else if (IsWideSpace(c)) {
      endWord(false);
    } else {
      word += LowerChar(c);
    }
  }
  endStep();
  return steps;
}

double ParseMacroLength(int deck, double count, std::wstring_view unit) {
  double bpm = kNoTrackBpm;
  if (ValidDeck(deck)) {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    const DeckState& state = DeckStateOf(deck);
    if (state.track && state.track->sampleRate > 0) {
      const double beat = BeatLengthAt(*state.track, state.position / state.track->sampleRate);
      if (beat > 0.0 && std::isfinite(beat)) bpm = 60.0 / beat * (1.0 + TempoOffsetOf(LiveDeckViews[deck]));
    }
  }
  if (!std::isfinite(bpm) || bpm < kMinBpm) bpm = kMinBpm;
  const double beat = 60.0 / bpm;
  if (unit.starts_with(L"beat")) return count * beat;
  if (unit.starts_with(L"bar")) return count * kBeatsPerBar * beat;
  if (unit == L"ms") return count / 1000.0;
  return count;
}

bool ParseOverBeats(int deck, float* target, float value, const MacroStep& words, size_t from) {
  size_t over = words.size();
  for (size_t i = from; i + 1 < words.size(); ++i) {
    if (words[i] == L"over") {
      over = i;
      break;
    }
  }
  if (over == words.size()) {
    RemoveGlide(target);
    *target = value;
    return true;
  }
  double count = 0.0;
  if (!NumberAt(words, over + 1, &count)) return false;
  const std::wstring& unit = over + 2 < words.size() ? words[over + 2] : std::wstring(L"beats");
  const double seconds = ParseMacroLength(deck, count, unit);
  RemoveGlide(target);
  ValueGlides.push_back({.target = target, .start = *target, .end = value, .startTime = MacroNow(),
                         .duration = std::max(seconds, kMinGlideSeconds)});
  return true;
}

bool RunMacroCommand(RunningMacro& running, const MacroStep& words) {
  if (words.empty()) return false;
  if (!ValidDeck(running.deck)) running.deck = SideSlots[kLeftSide];
  const std::wstring& key = words[0];
  bool known = false;
  if (const bool done = RunDeckCommand(running, words, &known); known) return done;
  double n = 0.0;
  if (key == L"deck") {
    const std::wstring& which = WordAt(words, 1);
    if (which == L"left") running.deck = SideSlots[kLeftSide];
    else if (which == L"right") running.deck = SideSlots[kRightSide];
    else if (which.size() == 1 && which[0] >= L'a' && which[0] <= L'd') running.deck = which[0] - L'a';
    else if (which == L"other") running.deck = SideSlots[(running.deck & 1) == 0 ? kRightSide : kLeftSide];
    else return false;
    return true;
  }
  if (key == L"left") return running.deck = SideSlots[kLeftSide], true;
  if (key == L"right") return running.deck = SideSlots[kRightSide], true;
  if (key == L"xfader") return RunCrossfader(running.deck, words);
  if (key == L"glide") {
    const std::wstring& where = WordAt(words, 1);
    const float target = where == L"left" ? 0.0f : where == L"right" ? 1.0f : CrossfaderPosition < 0.5f ? 1.0f : 0.0f;
    RemoveGlide(&CrossfaderPosition);
    StartCrossfaderGlide(target, MonotonicSeconds());
    return true;
  }
  if (key == L"master") return RunPercent(running.deck, &MasterSection.masterLevel, words, 1, 0.0f, 1.0f);
  if (key == L"bank") {
    const std::wstring& letter = WordAt(words, 1);
    SelectSamplerBank(letter.empty() ? 0 : std::clamp(static_cast<int>(letter[0]) - 'a', 0, kSamplerBanks - 1));
    return true;
  }
  if (key == L"automix") return RunSwitch(words, Automix.on, ToggleAutomix);
  if (key == L"sandbox") return RunSwitch(words, Sandbox.on, ToggleSandbox);
  if (key == L"rec") return RunSwitch(words, Engine.recording.load(), ToggleRecording);
  if (key == L"browse") {
    if (!NumberAt(words, 1, &n)) return false;
    MoveSelection(static_cast<int>(std::trunc(std::clamp(n, -kMaxBrowseRows, kMaxBrowseRows))));
    return true;
  }
  if (key == L"video") return RunVideo(words);
  if (key == L"say" || key == L"toast") {
    if (words.size() > 1) ShowStatus(UiFormat(L"{}", words[1]), kMacroStatusMs);
    return true;
  }
  if (key == L"wait") {
    if (!NumberAt(words, 1, &n)) return false;
    running.waitUntil = MacroNow() + ParseMacroLength(running.deck, n, words.size() > 2 ? words[2] : L"beats");
    return true;
  }
  return false;
}

void TickMacros() {
  const double now = MacroNow();
  for (size_t m = 0; m < RunningMacros.size();) {
    bool failed = false;
    while (RunningMacros[m].next < RunningMacros[m].steps.size() && now >= RunningMacros[m].waitUntil) {
      RunningMacro& running = RunningMacros[m];
      const MacroStep& step = running.steps[running.next++];
      if (RunMacroCommand(running, step)) continue;
      std::wstring joined;
      for (const std::wstring& word : step) joined += (joined.empty() ? L"" : L" ") + word;
      const int32_t slot = std::clamp(running.slot, 0, kMacroSlots - 1);
      ShowStatus(UiFormat(L"Macro \u201c{}\u201d: don't know \u201c{}\u201d", Settings.MacroName[slot], joined),
                 kMacroErrorMs);
      failed = true;
      break;
    }
    // A last step that waits keeps the macro running, and its button lit, until the wait is over.
    const RunningMacro& ran = RunningMacros[m];
    if (failed || (ran.next >= ran.steps.size() && now >= ran.waitUntil))
      RunningMacros.erase(RunningMacros.begin() + static_cast<std::ptrdiff_t>(m));
    else ++m;
  }
  for (size_t g = 0; g < ValueGlides.size();) {
    ValueGlide& glide = ValueGlides[g];
    const double t = std::clamp((now - glide.startTime) / glide.duration, 0.0, 1.0);
    *glide.target = glide.start + (glide.end - glide.start) * static_cast<float>(t);
    if (t >= 1.0) ValueGlides.erase(ValueGlides.begin() + static_cast<std::ptrdiff_t>(g));
    else ++g;
  }
}

bool MacroSlotRunning(int32_t slot) {
  return std::any_of(RunningMacros.begin(), RunningMacros.end(), [slot](const RunningMacro& m) { return m.slot == slot; });
}

void ClearMacros() {
  RunningMacros.clear();
  ValueGlides.clear();
}
