#include "engine/undo.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <utility>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "base/beat_grid.h"
#include "base/cue_colours.h"
#include "base/palette.h"
#include "base/status_message.h"
#include "engine/grid_edits.h"
#include "engine/key_lock.h"
#include "engine/phrases.h"
#include "engine/transport.h"

std::vector<UndoRecord> UndoStack;

namespace {

constexpr double kNextCueMarginSeconds = 0.01;      // a cue this close ahead is where we are
constexpr double kPreviousCuePausedSeconds = 0.01;
constexpr double kPreviousCuePlayingSeconds = 0.5;  // a playing deck skips a cue it just passed
constexpr double kSecondsPerMinute = 60.0;
constexpr double kTenthsPerSecond = 10.0;
constexpr double kTenthsEpsilon = 1e-6;             // 2.3 stored as 2.2999... still shows 2.3
constexpr uint32_t kIntroCueRgb = 0x3BA7FF;
constexpr uint32_t kOutroCueRgb = 0x8C93A6;

double LastFrame(const Track& track) { return track.frames > 0 ? static_cast<double>(track.frames - 1) : 0.0; }

// "m:ss.s": whole minutes and the seconds rounded down to tenths.
std::wstring CueTimeText(double seconds) {
  const double t = std::max(seconds, 0.0);
  const double minutes = std::floor(t / kSecondsPerMinute);
  const double rest =
      std::floor((t - minutes * kSecondsPerMinute) * kTenthsPerSecond + kTenthsEpsilon) / kTenthsPerSecond;
  return fmt::format(L"{}:{:04.1f}", static_cast<long long>(minutes), rest);
}

void InsertSorted(std::vector<double>& cues, double t) {
  cues.insert(std::upper_bound(cues.begin(), cues.end(), t), t);
}

bool AnyWithin(const std::vector<double>& cues, double t, double distance) {
  return std::any_of(cues.begin(), cues.end(), [&](double c) { return std::abs(c - t) < distance; });
}

}  // namespace

void PushUndo(int deck, const std::wstring& label) {
  AssertNotAudioThread();
  if (!ValidDeck(deck)) return;
  UndoRecord record;
  TrackPtr track;
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    const DeckState& state = DeckStateOf(deck);
    if (!state.track) return;
    track = state.track;
    record.cuePoint = state.cuePoint;
    std::copy(std::begin(state.hotCueStart), std::end(state.hotCueStart), record.hotCueStart.begin());
    std::copy(std::begin(state.hotCueEnd), std::end(state.hotCueEnd), record.hotCueEnd.begin());
  }
  // Only the UI thread changes a grid, so reading it here, outside the lock, is safe.
  const DeckView& view = LiveDeckViews[deck];
  record.deck = deck;
  record.trackPath = track->path;
  record.label = label;
  record.hotCueName = view.hotCueName;
  record.hotCueColour = view.hotCueColour;
  record.memoryCues = view.memoryCues;
  record.bpm = track->bpm;
  record.firstBeat = track->firstBeat;
  record.tempoMarkers = track->tempoMarkers;
  UndoStack.push_back(std::move(record));
  if (UndoStack.size() > kUndoLimit) UndoStack.erase(UndoStack.begin());
}

void Undo() {
  while (!UndoStack.empty()) {
    UndoRecord record = std::move(UndoStack.back());
    UndoStack.pop_back();
    if (!ValidDeck(record.deck)) continue;
    TrackPtr track;
    {
      std::lock_guard<RealtimeMutex> lock(Engine.lock);
      DeckState& state = DeckStateOf(record.deck);
      if (!state.track || state.track->path != record.trackPath) continue;
      track = state.track;
      state.cuePoint = record.cuePoint;
      std::copy(record.hotCueStart.begin(), record.hotCueStart.end(), std::begin(state.hotCueStart));
      std::copy(record.hotCueEnd.begin(), record.hotCueEnd.end(), std::begin(state.hotCueEnd));
      track->bpm = record.bpm;
      track->firstBeat = record.firstBeat;
      track->tempoMarkers.swap(record.tempoMarkers);  // no allocation under the lock
    }
    DeckView& view = LiveDeckViews[record.deck];
    view.hotCueName = std::move(record.hotCueName);
    view.hotCueColour = record.hotCueColour;
    view.memoryCues = std::move(record.memoryCues);
    WriteGridToLibrary(*track);
    StoreDeckCues(record.deck);
    ShowStatus(L"Undone: " + record.label);
    return;
  }
  ShowStatus(L"Nothing to undo");
}

void AddMemoryCue(int deck) {
  if (!ValidDeck(deck)) return;
  TrackPtr track;
  double position = 0.0;
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    track = DeckStateOf(deck).track;
    position = DeckStateOf(deck).position;
  }
  if (!track || track->sampleRate <= 0) return;
  const double t = MaybeQuantise(*track, position) / track->sampleRate;
  DeckView& view = LiveDeckViews[deck];
  const bool taken = std::any_of(view.memoryCues.begin(), view.memoryCues.end(),
                                 [&](double c) { return std::abs(c - t) <= kMemoryCueSpacingSeconds; });
  if (taken) {
    ShowStatus(L"There's already a memory cue here");
    return;
  }
  InsertSorted(view.memoryCues, t);
  StoreDeckCues(deck);
  ShowStatus(UiFormat(L"Memory cue {} set at {}", view.memoryCues.size(), CueTimeText(t)));
}

void DeleteMemoryCue(int deck) {
  if (!ValidDeck(deck)) return;
  TrackPtr track;
  double position = 0.0;
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    track = DeckStateOf(deck).track;
    position = DeckStateOf(deck).position;
  }
  DeckView& view = LiveDeckViews[deck];
  if (!track || track->sampleRate <= 0 || view.memoryCues.empty()) return;
  const double t = position / track->sampleRate;
  size_t nearest = 0;
  for (size_t i = 1; i < view.memoryCues.size(); ++i)
    if (std::abs(view.memoryCues[i] - t) < std::abs(view.memoryCues[nearest] - t)) nearest = i;
  PushUndo(deck, L"deleted a memory cue");
  view.memoryCues.erase(view.memoryCues.begin() + static_cast<std::ptrdiff_t>(nearest));
  StoreDeckCues(deck);
}

void JumpMemoryCue(int deck, int direction) {
  if (!ValidDeck(deck)) return;
  const DeckView& view = LiveDeckViews[deck];
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  DeckState& state = DeckStateOf(deck);
  if (view.memoryCues.empty()) {
    if (state.track) ShowStatus(L"No memory cues on this track yet \u2014 press MEM to set one");
    return;
  }
  if (!state.track || state.track->sampleRate <= 0) return;
  const double rate = state.track->sampleRate;
  const double t = state.position / rate;
  const std::vector<double>& cues = view.memoryCues;
  const double* cue = nullptr;
  if (direction >= 0) {
    auto next = std::find_if(cues.begin(), cues.end(), [&](double c) { return c > t + kNextCueMarginSeconds; });
    if (next != cues.end()) cue = &*next;
  } else {
    const double margin = state.playing ? kPreviousCuePlayingSeconds : kPreviousCuePausedSeconds;
    auto previous = std::find_if(cues.rbegin(), cues.rend(), [&](double c) { return c < t - margin; });
    if (previous != cues.rend()) cue = &*previous;
  }
  if (!cue || *cue < 0.0) return;
  const double target = std::min(LastFrame(*state.track), *cue * rate);
  if (state.loopOn && !(state.loopIn <= target && target < state.loopOut)) state.loopOn = false;
  if (state.playing) {
    SeekDeck(Engine, deck, target);
  } else {
    state.cuePoint = target;
    state.position = target;
    ResetStretch(state.stretch);
  }
}

int32_t PhraseCueColour(int32_t kind) {
  switch (kind) {
    case kPhraseIntro: return NearestTrackColour(kIntroCueRgb);
    case kPhraseDrop: return NearestTrackColour(Pal.Red);
    case kPhraseBreak: return NearestTrackColour(Pal.Purple);
    default: return NearestTrackColour(kOutroCueRgb);
  }
}

void AutoCues(int deck) {
  if (!ValidDeck(deck)) return;
  TrackPtr track;
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    track = DeckStateOf(deck).track;
  }
  if (!track || track->sampleRate <= 0) return;
  DeckView& view = LiveDeckViews[deck];
  if (view.phrases.empty()) {
    ShowStatus(L"No song structure found in this track to place cues on");
    return;
  }
  PushUndo(deck, L"auto cues");
  const double rate = track->sampleRate;
  const double halfBeat = 0.5 * BeatSamples(*track) / rate;  // seconds

  // The hot cues are read and written under the lock; the cue lists are built outside it (only
  // the UI thread changes hot cues, so nothing moves in between).
  std::array<double, kHotCues> start, end;
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    const DeckState& state = DeckStateOf(deck);
    if (state.track != track) return;
    std::copy(std::begin(state.hotCueStart), std::end(state.hotCueStart), start.begin());
    std::copy(std::begin(state.hotCueEnd), std::end(state.hotCueEnd), end.begin());
  }
  const double length = static_cast<double>(track->frames) / rate;
  int hotAdded = 0, memoryAdded = 0;
  size_t slot = 0;
  for (const Phrase& phrase : view.phrases) {
    const double t = TimeAtBeat(*track, phrase.beat);
    if (!(t >= 0.0) || t >= length) continue;
    if (!AnyWithin(view.memoryCues, t, halfBeat)) {
      InsertSorted(view.memoryCues, t);
      ++memoryAdded;
    }
    const bool near = std::any_of(start.begin(), start.end(),
                                  [&](double s) { return s >= 0.0 && std::abs(s / rate - t) < halfBeat; });
    if (near || slot >= start.size()) continue;
    while (slot < start.size() && start[slot] >= 0.0) ++slot;
    if (slot >= start.size()) continue;
    start[slot] = t * rate;
    end[slot] = kNoHotCue;
    const char* word = PhraseKindName(phrase.kind);
    view.hotCueName[slot] = std::wstring(word, word + std::char_traits<char>::length(word));
    view.hotCueColour[slot] = PhraseCueColour(phrase.kind);
    ++hotAdded;
  }
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    DeckState& state = DeckStateOf(deck);
    if (state.track == track) {
      std::copy(start.begin(), start.end(), std::begin(state.hotCueStart));
      std::copy(end.begin(), end.end(), std::begin(state.hotCueEnd));
    }
  }
  StoreDeckCues(deck);
  if (hotAdded + memoryAdded == 0) ShowStatus(L"Cues are already on every phrase");
  else
    ShowStatus(UiFormat(L"Auto cues: {} and {} from the phrases",
                        CountText(static_cast<uint64_t>(hotAdded), L"1 hot cue", L"{} hot cues"),
                        CountText(static_cast<uint64_t>(memoryAdded), L"1 memory cue", L"{} memory cues")));
}
