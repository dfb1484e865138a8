#include "engine/deck_commands.h"

#include <algorithm>
#include <array>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "base/log.h"
#include "base/settings.h"
#include "base/status_message.h"
#include "base/test_mode.h"
#include "base/track_info.h"
#include "engine/audio_file.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/key_lock.h"
#include "engine/stem_controls.h"
#include "engine/stems.h"
#include "platform/ui_post.h"

namespace {

// Auto gain aims the track's loudness at this level, within +-9 dB of trim.
constexpr double kAutoGainTargetDb = -12.0;
constexpr double kAutoGainLimitDb = 9.0;
constexpr double kGainKnobDbPerUnit = 24.0;  // the gain knob spans -12..+12 dB around 0.5
constexpr int kLoadErrorStatusMs = 6000;      // long enough to read a file name and a reason

// The library's values that win over the fresh analysis, merged into the still private track.
// Returns the record as it stands after the merge (absent when none was found or made).
std::optional<TrackInfo> MergeWithLibrary(Track& track) {
  const TrackInfo* found = FindTrackInfo(track.path);
  if (found && found->analyzed) {
    CopyGridToTrack(*found, track);
    track.key = found->key;
    track.loudness = found->loudness;
    return *found;
  }
  if (found && found->gridImported && found->bpm > 0.0) {
    CopyGridToTrack(*found, track);
    if (found->key >= 0) track.key = found->key;
  }
  RecordAnalysis(track, TrackInfoFor(track.path));
  found = FindTrackInfo(track.path);
  return found ? std::optional<TrackInfo>(*found) : std::nullopt;
}

// Where a freshly loaded track starts: its cue point, play position and hot cues, in frames.
struct Placement {
  double cuePoint = 0.0;
  double position = 0.0;
  std::array<double, kHotCues> hotCueStart;
  std::array<double, kHotCues> hotCueEnd;
};

// The library's cue wins; else the first sound with auto cue, else the start. A pending start
// (seconds) overrides the position, held to the last frame.
Placement PlaceTrack(const Track& track, const TrackInfo* record, double pendingSeek) {
  Placement placement;
  const double rate = track.sampleRate;
  const double lastFrame = track.frames > 0 ? static_cast<double>(track.frames - 1) : 0.0;
  if (record && record->cue > 0.0) placement.cuePoint = record->cue * rate;
  else if (Settings.AutoCue) placement.cuePoint = track.firstSound * rate;
  placement.position = pendingSeek >= 0.0 ? std::min(lastFrame, pendingSeek * rate) : placement.cuePoint;
  for (int i = 0; i < kHotCues; ++i) {
    const bool set = record && record->hotCueStart[i] >= 0.0;
    placement.hotCueStart[i] = set ? record->hotCueStart[i] * rate : kNoHotCue;
    placement.hotCueEnd[i] =
        set && record->hotCueEnd[i] > record->hotCueStart[i] ? record->hotCueEnd[i] * rate : kNoHotCue;
  }
  return placement;
}

// Swaps the track into the engine deck and resets its playback for it. The old track and stems
// come back to the caller, to be released after the lock.
void InstallTrack(int deck, const TrackPtr& track, const Placement& placement, TrackPtr& oldTrack,
                  StemDataPtr& oldStems) {
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  DeckState& state = DeckStateOf(deck);
  oldTrack = std::move(state.track);
  state.track = track;
  oldStems = std::move(state.stems);
  state.cuePoint = placement.cuePoint;
  state.position = placement.position;
  std::copy(placement.hotCueStart.begin(), placement.hotCueStart.end(), std::begin(state.hotCueStart));
  std::copy(placement.hotCueEnd.begin(), placement.hotCueEnd.end(), std::begin(state.hotCueEnd));
  state.slipOn = false;  // the SLIP switch itself keeps its state
  state.reverse = false;
  state.loopOn = false;
  state.playing = false;
  state.jogTouched = false;
  state.stopMode = kStopNone;
  state.fadeIn = 0.0f;
  state.oldFade = 0.0f;
  state.olderFade = 0.0f;  // a voice of the old track must not read the new one
  state.speed = 0.0;
  ResetStretch(state.stretch);
}

void ResetViewForTrack(DeckView& view, const Track& track, const TrackInfo* record, const Placement& placement) {
  view.cuePreview = false;
  view.rollIndex = -1;
  view.keyShift = 0;
  view.error = {};
  view.path = track.path;
  view.playCounted = false;  // a new load is a new play to count
  view.libraryCue = record ? record->cue * track.sampleRate : 0.0;
  view.libraryHotCueStart = placement.hotCueStart;
  view.libraryHotCueEnd = placement.hotCueEnd;
  view.cuesPath = track.path;
  for (int i = 0; i < kHotCues; ++i) {
    view.hotCueName[i] = record ? record->hotCueName[i] : std::wstring();
    view.hotCueColour[i] = record ? record->hotCueColor[i] : kNoColour;
  }
  view.memoryCues = record ? record->memoryCues : std::vector<double>();
  view.phrasesFor.reset();
}

// A separation of the old track stops; the stem switches start over, and with [Stems] Auto the
// new track is separated.
void ResetStems(int deck, DeckView& view) {
  ResetStemSwitches(view);
  if (Settings.StemsAuto && !TestMode && StemModelsPresent(nullptr)) StartStemSeparation(deck);
}

// The error goes on the deck (an empty deck shows it in place of its title) and on the status
// line, where it is seen also when the deck keeps its track.
void FailedLoad(int deck, DeckView& view, const DeckLoadResult& result) {
  view.error = result.message.empty() ? UiText(result.error) : result.message;
  WriteLog(L"Deck {}: couldn't load \"{}\": {}", DeckLetter(deck), view.title, view.error);
  ShowStatus(UiFormat(L"Deck {}: {}", DeckLetter(deck), view.error), kLoadErrorStatusMs);
  if (DeckLoadedHook) DeckLoadedHook(deck, false);
}

}  // namespace

void FreeDeckLoadJob(DeckLoadJob* job) { delete job; }

void FreeDeckLoadResult(DeckLoadResult* result) { delete result; }

bool LoadTrack(int deck, const std::wstring& path) {
  AssertNotAudioThread();
  if (!ValidDeck(deck)) return false;
  if (Engine.sandboxOn.load()) {
    ShowStatus(L"Leave the sandbox to load tracks (SANDBOX in the top bar)");
    return false;
  }
  bool playing = false;
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    playing = DeckStateOf(deck).playing;
  }
  if (playing) {
    ShowStatus(L"Deck " + DeckLetter(deck) + L" is playing \u2014 pause it before loading");
    return false;
  }
  DeckView& view = LiveDeckViews[deck];
  ++view.loadSerial;
  view.loading = true;
  view.error = {};
  view.title = FileNameOf(path);
  view.loadProgress = std::make_shared<std::atomic<float>>(0.0f);

  auto* job = new DeckLoadJob{deck, view.loadSerial, path, view.loadProgress};
  try {
    std::thread(DeckLoadThread, job).detach();
  } catch (const std::system_error& e) {
    // No thread, no completion: the deck must not stay "loading" for ever.
    WriteLog(L"Deck {}: couldn't start the load thread ({})", DeckLetter(deck), e.code().value());
    FreeDeckLoadJob(job);
    view.loading = false;
    view.error = L"Couldn't start loading \u2014 the system is out of threads.";
    return false;
  }
  return true;
}

void DeckLoadThread(DeckLoadJob* job) {
  auto* result = new DeckLoadResult{job->deck, job->serial, nullptr, std::wstring(), UiText()};
  result->track = DecodeFile(job->path, job->progress.get(), &result->error, true);
  if (!result->track) result->message = LoadFailureText(job->path, result->error);
  if (!PostToUi(kDeckLoadPost, 0, result)) FreeDeckLoadResult(result);
  FreeDeckLoadJob(job);
}

void FinishDeckLoad(uintptr_t, DeckLoadResult* result) {
  AssertNotAudioThread();
  if (!result) return;
  const int deck = result->deck;
  if (!ValidDeck(deck) || result->serial != LiveDeckViews[deck].loadSerial) {
    FreeDeckLoadResult(result);
    return;
  }
  DeckView& view = LiveDeckViews[deck];
  view.loading = false;
  if (!result->track) {
    FailedLoad(deck, view, *result);
    FreeDeckLoadResult(result);
    return;
  }

  // Nobody else holds the track yet, so its grid may change outside the lock.
  TrackPtr track = result->track;
  const std::optional<TrackInfo> record = MergeWithLibrary(*track);
  const Placement placement = PlaceTrack(*track, record ? &*record : nullptr, view.pendingSeek);
  TrackPtr oldTrack;
  StemDataPtr oldStems;
  InstallTrack(deck, track, placement, oldTrack, oldStems);
  ResetViewForTrack(view, *track, record ? &*record : nullptr, placement);
  ResetStems(deck, view);
  if (Settings.AutoGain) {
    const double g = std::clamp(kAutoGainTargetDb - track->loudness, -kAutoGainLimitDb, kAutoGainLimitDb);
    view.gain = static_cast<float>(g / kGainKnobDbPerUnit + 0.5);
  }
  view.pendingSeek = kNoPendingSeek;
  WriteLog(L"Deck {}: loaded \"{}\"", DeckLetter(deck), FileNameOf(track->path));
  if (DeckLoadedHook) DeckLoadedHook(deck, true);

  track.reset();
  oldTrack.reset();  // the old track and stems go here, outside the lock
  oldStems.reset();
  FreeDeckLoadResult(result);
}

DeckLoadedFn DeckLoadedHook = nullptr;

void SetPendingSeek(int deck, double seconds) {
  if (ValidDeck(deck)) LiveDeckViews[deck].pendingSeek = seconds;
}

double PendingSeek(int deck) { return ValidDeck(deck) ? LiveDeckViews[deck].pendingSeek : kNoPendingSeek; }
