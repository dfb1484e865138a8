#include "engine/stem_controls.h"

#include <chrono>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "base/log.h"
#include "base/status_message.h"
#include "base/text_parse.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/stems.h"
#include "platform/clock.h"
#include "platform/thread_priority.h"
#include "platform/ui_post.h"

namespace {

constexpr unsigned kStemStopPollMs = 5;

bool SameSwitches(const DeckView& view, const bool wanted[kStemNameCount]) {
  for (int i = 0; i < kStemNameCount; ++i)
    if (view.stemOn[i] != wanted[i]) return false;
  return true;
}

// The status line's "Stems for deck A: " and the reason, each translated on its own: the reason
// comes from the stem engine in English and has rows of its own.
UiText StemFailureText(int deck, const std::wstring& reason) {
  return UiFormat(L"Stems for deck {}: {}", DeckLetter(deck), UiText(reason));
}

// The separation workers, joined once done (when the next one starts, and at the end of the run).
struct StemWorker {
  std::thread thread;
  std::shared_ptr<std::atomic<bool>> cancel;
  std::shared_ptr<std::atomic<bool>> done;  // set by the worker as its last act
};
// Never destroyed: a worker not joined by then would end the process from the destructor.
std::vector<StemWorker>& Workers() {
  static auto* workers = new std::vector<StemWorker>;  // UI thread
  return *workers;
}

// Joins the workers that have finished; true when none is left.
bool JoinFinishedWorkers() {
  std::vector<StemWorker>& workers = Workers();
  std::erase_if(workers, [](StemWorker& worker) {
    if (!worker.done->load(std::memory_order_acquire)) return false;
    worker.thread.join();
    return true;
  });
  return workers.empty();
}

// Starts a separation when the deck has no stems and none is running.
void SeparateUnlessRunning(int deck) {
  if (!LiveDeckViews[deck].stemsRunning) StartStemSeparation(deck);
}

}  // namespace

void FreeStemJob(StemJob* job) { delete job; }

void FreeStemResult(StemResult* result) { delete result; }

void StartStemSeparation(int deck) {
  if (!ValidDeck(deck)) return;
  TrackPtr track;
  StemDataPtr shared;
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    track = DeckStateOf(deck).track;
    for (int other = 0; other < kEngineDecks; ++other) {
      const DeckState& state = DeckStateOf(other);
      if (other != deck && track && state.track == track && state.stems) shared = state.stems;
    }
  }
  DeckView& view = LiveDeckViews[deck];
  if (!track || view.stemsReady || view.stemsRunning) return;
  if (shared) {
    AttachStems(track, shared);
    return;
  }
  std::wstring error;
  if (!StemModelsPresent(&error)) {
    view.stemMessage = error;
    ShowStatus(error);
    return;
  }
  view.stemCancel->store(true);
  view.stemCancel = std::make_shared<std::atomic<bool>>(false);
  view.stemProgress = std::make_shared<std::atomic<float>>(0.0f);
  view.stemsRunning = true;
  view.stemMessage.clear();
  ++view.stemJob;
  JoinFinishedWorkers();
  auto* job = new StemJob{deck, view.stemJob, track, view.stemCancel, view.stemProgress};
  auto done = std::make_shared<std::atomic<bool>>(false);
  try {
    std::thread worker([job, done] {
      StemSeparationThread(job);
      done->store(true, std::memory_order_release);
    });
    Workers().push_back(StemWorker{std::move(worker), view.stemCancel, std::move(done)});
  } catch (const std::system_error& e) {
    // No worker, no completion: the deck must not wait for one for ever.
    WriteLog(L"Stems: couldn't start the separation thread for deck {} ({})", DeckLetter(deck), e.code().value());
    FreeStemJob(job);
    view.stemsRunning = false;
    view.stemMessage = kStemsNoThreadText;
    ShowStatus(StemFailureText(deck, view.stemMessage));
  }
}

bool StopStemJobs(unsigned waitMs) {
  std::vector<StemWorker>& workers = Workers();
  for (StemWorker& worker : workers) worker.cancel->store(true);
  const uint64_t end = MonotonicMs() + waitMs;
  while (!JoinFinishedWorkers() && MonotonicMs() < end) SleepMs(kStemStopPollMs);
  if (workers.empty()) return true;
  // Left running, it may meet the runtime's globals being destroyed after main returns: logged,
  // so that a crash report at the next start can be told from others.
  WriteLog(L"Stems: {} separation(s) still running after {} ms at the end of the run", workers.size(), waitMs);
  for (StemWorker& worker : workers) worker.thread.detach();
  workers.clear();
  return false;
}

void StemSeparationThread(StemJob* job) {
  // Minutes of work on every core must not slow the UI; the helper threads it starts inherit this.
  LowerThreadPriority();
  const auto start = std::chrono::steady_clock::now();
  auto* result = new StemResult{job->deck, job->serial, job->track, nullptr, std::wstring(), false, 0.0};
  result->stems = SeparateStems(*job->track, *job->progress, *job->cancel, result->error, &result->gpu);
  result->seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  FreeStemJob(job);
  if (!PostToUi(kStemsReadyPost, 0, result)) FreeStemResult(result);
}

void OnStemsReady(StemResult* result) {
  if (!result) return;
  std::unique_ptr<StemResult> owned(result);
  const int deck = result->deck;
  if (!ValidDeck(deck) || result->serial != LiveDeckViews[deck].stemJob) return;
  DeckView& view = LiveDeckViews[deck];
  view.stemsRunning = false;
  if (result->stems) {
    if (!AttachStems(result->track, result->stems)) return;
    ShowStatus(UiFormat(L"Stems ready on deck {} ({:.0f} s on the {})", DeckLetter(deck), result->seconds,
                        result->gpu ? L"GPU" : L"CPU"));
    return;
  }
  view.stemMessage = result->error;
  if (result->error == kStemsCancelledText) return;
  ShowStatus(StemFailureText(deck, result->error));
}

bool AttachStems(const TrackPtr& track, const StemDataPtr& stems) {
  if (!track) return false;
  bool live[kEngineDecks] = {}, saved[kEngineDecks] = {};
  StemDataPtr released[2 * kEngineDecks];  // stems the decks held before, freed after the lock
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    for (int d = 0; d < kEngineDecks; ++d) {
      DeckState& state = Engine.decks[d];
      if (state.track == track) {
        released[d] = std::exchange(state.stems, stems);
        live[d] = true;
      }
      // While the sandbox runs the crowd's decks wait in the saved slots: they get them too.
      DeckState& waiting = Engine.sandboxDecks[d];
      if (Engine.sandboxOn.load() && waiting.track == track) {
        released[kEngineDecks + d] = std::exchange(waiting.stems, stems);
        saved[d] = true;
      }
    }
  }
  bool any = false;
  for (int d = 0; d < kEngineDecks; ++d) {
    for (DeckView* view : {live[d] ? &LiveDeckViews[d] : nullptr, saved[d] ? &SandboxDeckViews[d] : nullptr}) {
      if (!view) continue;
      view->stemsReady = true;
      view->stemsRunning = false;
      view->stemMessage.clear();
    }
    any = any || live[d];
  }
  return any;
}

void SetStemMix(int deck, bool vocals, bool drums, bool bass, bool melody) {
  if (!ValidDeck(deck)) return;
  DeckView& view = LiveDeckViews[deck];
  if (!view.stemsReady) {
    SeparateUnlessRunning(deck);
    return;
  }
  const bool wanted[kStemNameCount] = {vocals, drums, bass, melody};
  if (SameSwitches(view, wanted)) view.stemOn = {true, true, true, true};
  else view.stemOn = {vocals, drums, bass, melody};
  view.stemPreset = 0;
}

void ToggleStem(int deck, int n) {
  if (!ValidDeck(deck)) return;
  DeckView& view = LiveDeckViews[deck];
  if (n >= 0 && n < kStemNameCount) {
    if (!view.stemsReady) return SeparateUnlessRunning(deck);
    view.stemOn[n] = !view.stemOn[n];
    view.stemPreset = 0;
  } else if (n == kStemKickSwitch || n == kStemHatSwitch) {
    if (!view.stemsReady) return SeparateUnlessRunning(deck);
    bool& flag = n == kStemKickSwitch ? view.kickOn : view.hatOn;
    flag = !flag;
  } else if (n == kStemVocalsOnlyPad || n == kStemNoVocalsPad) {
    const bool* row = kStemPadPresets[n - kStemVocalsOnlyPad];
    SetStemMix(deck, row[0], row[1], row[2], row[3]);
    view.kickOn = true;
    view.hatOn = true;
  }
}

void SetStemPreset(int deck, uint32_t preset) {
  DeckView& view = LiveDeckViews[deck];
  view.stemPreset = view.stemPreset == preset ? kStemPresetNone : preset;
  std::wstring error;
  if (view.stemPreset != kStemPresetNone && !view.stemsReady && !StemModelsPresent(&error))
    ShowStatus(StemFailureText(deck, error));
}

void SetStemEffectsTarget(int deck, int stem) {
  if (!ValidDeck(deck) || stem < 0 || stem >= kStemNameCount) return;
  DeckView& view = LiveDeckViews[deck];
  if (!view.stemsReady) {
    ShowStatus(L"Separate the stems first \u2014 then the effects can go on just one of them");
    return;
  }
  view.stemFxTarget = view.stemFxTarget == stem ? -1 : stem;
  if (view.stemFxTarget < 0) {
    ShowStatus(L"Deck " + DeckLetter(deck) + L" effects: on everything");
    return;
  }
  ShowStatus(L"Deck " + DeckLetter(deck) + L" effects: on the " + LowerText(StemNames[stem]) + L" only");
}

void ResetStemSwitches(DeckView& view) {
  view.stemCancel->store(true);
  ++view.stemJob;
  view.stemsReady = false;
  view.stemsRunning = false;
  view.stemMessage.clear();
  view.stemOn = {true, true, true, true};
  view.kickOn = true;
  view.hatOn = true;
  view.stemFxTarget = -1;
}

int32_t StemPartGains(bool stemsReady, uint32_t preset, const float manual[kStemNameCount], float gains[kStemNameCount]) {
  const bool presetRow = stemsReady && (preset == kStemPresetVocals || preset == kStemPresetInstrumental);
  for (int part = 0; part < kStemNameCount; ++part) {
    if (!presetRow) gains[part] = manual[part];
    else gains[part] = kStemPadPresets[preset == kStemPresetVocals ? 0 : 1][part] ? 1.0f : 0.0f;
  }
  return stemsReady ? 0 : static_cast<int32_t>(preset);
}
