#include "engine/engine.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <utility>

#include "base/beat_grid.h"

AudioEngine Engine;

namespace {

// Grows `target` to at least `size` elements without allocating under the lock: the bigger
// vector is built first, swapped in under the lock, and the old storage freed after unlocking.
template <typename T>
void GrowOutside(AudioEngine& engine, std::vector<T>& target, size_t size) {
  std::vector<T> grown;
  {
    std::lock_guard<RealtimeMutex> guard(engine.lock);
    if (target.size() >= size) return;
  }
  grown.assign(size, T{});
  std::lock_guard<RealtimeMutex> guard(engine.lock);
  if (target.size() < size) target.swap(grown);
}

// Same for an effect unit: a unit prepared for `rate` replaces one whose storage is smaller.
void PrepareUnitOutside(AudioEngine& engine, EffectUnit& unit, int rate) {
  {
    std::lock_guard<RealtimeMutex> guard(engine.lock);
    if (unit.capacityRate >= rate) return;
  }
  EffectUnit prepared;
  PrepareEffectUnit(prepared, rate);
  std::lock_guard<RealtimeMutex> guard(engine.lock);
  if (unit.capacityRate < rate) std::swap(unit, prepared);
}

void PrepareDeckOutside(AudioEngine& engine, DeckState& deck, int frames, int rate) {
  const size_t stereo = static_cast<size_t>(frames) * 2;
  GrowOutside(engine, deck.stemScratch, stereo);
  GrowOutside(engine, deck.blockScratch, stereo);
  GrowOutside(engine, deck.blockPositions, static_cast<size_t>(frames));
  PrepareUnitOutside(engine, deck.fxUnit, rate);
  PrepareUnitOutside(engine, deck.colorFxUnit, rate);
}

}  // namespace

void StartDeclick(DeckState& deck) {
  if (deck.oldFade > 0.0f) {
    deck.olderPosition = deck.oldPosition;
    deck.olderSpeed = deck.oldSpeed;
    deck.olderFade = deck.oldFade;
  }
  // The current position fades out from the level it sounds at now (below 1 while it is still
  // fading in), so the sum of the voices never jumps.
  deck.oldPosition = deck.position;
  deck.oldSpeed = deck.speed;
  deck.oldFade = deck.fadeIn;
  deck.fadeIn = 0.0f;
  ResetStretch(deck.stretch);
}

DeckState::DeckState() {
  for (int i = 0; i < kEffectCount; ++i) {
    fxAmount[i].store(0.5f, std::memory_order_relaxed);
    fxParam[i].store(kDefaultFxParams[i], std::memory_order_relaxed);
  }
}

AudioEngine::AudioEngine() = default;

AudioEngine::~AudioEngine() {
  // Outputs first, then the recorder and the input: a joinable thread must never be destroyed.
  stopOutputs.store(true);
  for (std::thread* t : {&masterThread, &phones.thread, &booth.thread})
    if (t->joinable()) t->join();
  recording.store(false);
  if (recorderThread.joinable()) recorderThread.join();
  if (recordFile != nullptr) {
    std::fclose(recordFile);
    recordFile = nullptr;
  }
  inputStop.store(true);
  inputOn.store(false);
  if (inputThread.joinable()) inputThread.join();
}

void CopyDeckState(DeckState& d, const DeckState& s) {
  static_cast<DeckPlain&>(d) = static_cast<const DeckPlain&>(s);
  for (int i = 0; i < kStemParts; ++i) d.stemGain[i].store(s.stemGain[i].load());
  for (int i = 0; i < kEffectCount; ++i) {
    d.fxAmount[i].store(s.fxAmount[i].load());
    d.fxParam[i].store(s.fxParam[i].load());
  }
  d.peak.store(s.peak.load());
}

void SwapSandbox(AudioEngine& engine) {
  // References leaving the engine are released here, after the lock is dropped.
  TrackPtr released[2 * kEngineDecks];
  StemDataPtr releasedStems[2 * kEngineDecks];
  {
    std::lock_guard<RealtimeMutex> guard(engine.lock);
    if (!engine.sandboxOn.load()) return;
    for (int i = 0; i < kEngineDecks; ++i) {
      DeckState& live = engine.decks[i];
      DeckState& saved = engine.sandboxDecks[i];
      const bool sameTrack = live.track == saved.track;
      const double cuePoint = live.cuePoint;
      const std::array<double, kHotCues> hotStart = live.hotCueStart, hotEnd = live.hotCueEnd;
      released[2 * i] = live.track;
      releasedStems[2 * i] = live.stems;
      CopyDeckState(live, saved);
      if (sameTrack) {
        live.cuePoint = cuePoint;
        live.hotCueStart = hotStart;
        live.hotCueEnd = hotEnd;
      }
      // Swapped, not copied: no allocation under the lock; the saved deck keeps the rehearsal's
      // units until the sandbox is entered again.
      std::swap(live.fxUnit, saved.fxUnit);
      std::swap(live.colorFxUnit, saved.colorFxUnit);
      released[2 * i + 1] = std::move(saved.track);
      releasedStems[2 * i + 1] = std::move(saved.stems);
    }
    engine.sandboxOn.store(false);
  }
}

void SeekDeck(AudioEngine& engine, int deckIndex, double position) {
  if (deckIndex < 0 || deckIndex >= kEngineDecks || !std::isfinite(position)) return;
  std::lock_guard<RealtimeMutex> guard(engine.lock);
  DeckState& deck = engine.decks[deckIndex];
  if (!deck.track) return;
  if (deck.playing || deck.jogTouched) StartDeclick(deck);
  else ResetStretch(deck.stretch);
  const double last = deck.track->frames > 0 ? static_cast<double>(deck.track->frames - 1) : 0.0;
  deck.position = std::clamp(position, 0.0, last);
}

bool InputEnabled(const AudioEngine& engine) { return engine.inputOn.load(); }

void PublishOutputStarted(AudioEngine& engine, int32_t rate) {
  engine.sampleRate.store(rate);
  engine.outputRunning.store(true);
}

void PublishOutputStopped(AudioEngine& engine) {
  // Running goes first: a reader that still sees it true finds the rate of the run just ended.
  engine.outputRunning.store(false);
  engine.sampleRate.store(0);
}

int32_t RunningOutputRate(const AudioEngine& engine) {
  if (!engine.outputRunning.load()) return 0;
  return std::max(engine.sampleRate.load(), 0);
}

double TempoAtTime(const Track& track, double seconds) {
  const double beatLength = BeatLengthAt(track, seconds);
  return beatLength > 0.0 ? 60.0 / beatLength : 0.0;
}

void PrepareRenderBuffers(AudioEngine& engine, int frames, int rate) {
  AssertNotAudioThread();
  if (frames <= 0 || rate <= 0) return;
  const size_t stereo = static_cast<size_t>(frames) * 2;
  for (std::vector<float>* buffer : {&engine.cueBuffer, &engine.phonesBuffer, &engine.boothBuffer,
                                     &engine.extraBuffer, &engine.micBuffer, &engine.liveMixBuffer,
                                     &engine.sandboxCueBuffer})
    GrowOutside(engine, *buffer, stereo);
  for (std::vector<float>& buffer : engine.deckOutBuffers) GrowOutside(engine, buffer, stereo);
  for (DeckState& deck : engine.decks) PrepareDeckOutside(engine, deck, frames, rate);
  for (DeckState& deck : engine.sandboxDecks) PrepareDeckOutside(engine, deck, frames, rate);
  PrepareUnitOutside(engine, engine.masterFx, rate);
  PrepareUnitOutside(engine, engine.micEffects, rate);
}

