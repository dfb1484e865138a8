#include "engine/sandbox.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <iterator>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "base/log.h"
#include "base/status_message.h"
#include "engine/audio_file.h"
#include "engine/automix.h"
#include "engine/engine.h"
#include "engine/jog_loops.h"
#include "engine/key_lock.h"
#include "engine/mixer_controls.h"
#include "engine/render.h"
#include "engine/sampler_bank.h"
#include "engine/stem_controls.h"
#include "platform/clock.h"
#include "platform/ui_post.h"

SandboxState Sandbox;
PrelistenState Prelisten;

namespace {

// The controls that come back from the saved view when the sandbox ends.
void RestoreControls(DeckView& live, const DeckView& saved) {
  live.tempoFader = saved.tempoFader;
  live.pitchRange = saved.pitchRange;
  live.gain = saved.gain;
  live.eqHigh = saved.eqHigh;
  live.eqMid = saved.eqMid;
  live.eqLow = saved.eqLow;
  live.filter = saved.filter;
  live.fader = saved.fader;
  live.keyShift = saved.keyShift;
  live.keyLock = saved.keyLock;
  live.headphoneCue = saved.headphoneCue;
  live.stemPreset = saved.stemPreset;
  live.fxSlotEffect = saved.fxSlotEffect;
  live.fxSlotOn = saved.fxSlotOn;
  live.fxSlotAmount = saved.fxSlotAmount;
  live.fxParam = saved.fxParam;
  live.loopSizeIndex = saved.loopSizeIndex;
  live.syncLock = saved.syncLock;
  live.xfAssign = saved.xfAssign;
  live.xfAssignSet = saved.xfAssignSet;
  live.stemOn = saved.stemOn;
  live.kickOn = saved.kickOn;
  live.hatOn = saved.hatOn;
  live.stemFxTarget = saved.stemFxTarget;
  live.colorFx = saved.colorFx;
}

// The whole saved view comes back, but serials only ever rise: a load or separation dropped
// while the sandbox ran must stay dropped.
void RestoreWholeView(DeckView& live, const DeckView& saved) {
  const uint32_t loadSerial = std::max(live.loadSerial, saved.loadSerial) + 1;
  const uint32_t stemJob = std::max(live.stemJob, saved.stemJob) + 1;
  live.stemCancel->store(true);
  CopyDeckView(live, saved);
  live.loadSerial = loadSerial;
  live.stemJob = stemJob;
  live.loading = false;
  if (live.stemsRunning) {
    // Its job's result now carries an old serial; the saved deck keeps no half-made stems.
    live.stemsRunning = false;
    live.stemCancel->store(true);
  }
}


// Under the lock: deck `to` takes `from`'s track, stems, position, cues and loop and plays in
// step with it. Returns the refusal text, or null when the copy was made; the replaced track and
// stems come back through old* to be released after the lock.
const wchar_t* DoubleDeckState(int to, int from, TrackPtr& oldTrack, StemDataPtr& oldStems, DeckPlace& copied) {
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  DeckState& source = DeckStateOf(from);
  DeckState& target = DeckStateOf(to);
  if (!source.track) return L"Nothing on the other deck to copy";
  if (target.playing) return L"Pause this deck first";
  oldTrack = target.track;
  oldStems = std::exchange(target.stems, source.stems);
  const bool slipMode = target.slipMode;  // the SLIP switch stays the target's own
  const double slipPosition = target.slipPosition;
  static_cast<DeckPlace&>(target) = static_cast<const DeckPlace&>(source);
  target.slipMode = slipMode;
  target.slipPosition = slipPosition;
  target.reverse = false;
  target.slipOn = false;
  target.jogTouched = false;
  target.stopMode = kStopNone;
  target.fadeIn = 0.0f;  // a copy that plays fades in
  target.oldFade = 0.0f;
  target.olderFade = 0.0f;
  target.speed = 0.0;
  ResetStretch(target.stretch);
  copied = static_cast<const DeckPlace&>(source);
  return nullptr;
}

void TurnSandboxOn() {
  if (!HeadphoneOutputUsable()) {
    ShowStatus(L"Sandbox needs headphones \u2014 set a headphone output in Settings \u25b8 AUDIO");
    return;
  }
  if (Automix.on) {
    ShowStatus(L"Turn Automix off to use the sandbox");
    return;
  }
  // A load finishing inside the sandbox would land on the rehearsal deck and its cues would be
  // kept for the crowd's track on leaving: such a load is dropped now.
  std::wstring dropped;
  for (int d = 0; d < kEngineDecks; ++d) {
    DeckView& view = LiveDeckViews[d];
    if (!view.loading) continue;
    ++view.loadSerial;
    view.loading = false;
    view.title = FileNameOf(view.path);
    dropped += dropped.empty() ? DeckLetter(d) : L", " + DeckLetter(d);
  }
  for (int d = 0; d < kEngineDecks; ++d) CopyDeckView(SandboxDeckViews[d], LiveDeckViews[d]);
  Sandbox.savedCrossfader = CrossfaderPosition;
  Sandbox.savedMasterFx = MasterFx;

  TrackPtr released[kEngineDecks];
  StemDataPtr releasedStems[kEngineDecks];
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    if (!Engine.sandboxOn.load()) {
      for (int d = 0; d < kEngineDecks; ++d) {
        DeckState& live = Engine.decks[d];
        DeckState& saved = Engine.sandboxDecks[d];
        released[d] = std::move(saved.track);
        releasedStems[d] = std::move(saved.stems);
        CopyDeckState(saved, live);
        // The saved deck takes the units as they sound (swapped: no allocation under the lock);
        // the live deck's units start clean, laid out afresh on their next block.
        std::swap(saved.fxUnit, live.fxUnit);
        std::swap(saved.colorFxUnit, live.colorFxUnit);
        live.fxUnit.rate = 0;
        live.colorFxUnit.rate = 0;
      }
      Engine.sandboxXfPosition = Engine.xfPosition;
      Engine.sandboxOn.store(true);
    }
  }
  Sandbox.on = true;
  Sandbox.since = MonotonicSeconds();
  if (dropped.empty()) {
    ShowStatus(L"SANDBOX: the crowd hears the mix as it is \u2014 try your next mix in the headphones",
               kSandboxOnStatusMs);
  } else {
    ShowStatus(UiFormat(L"SANDBOX: the crowd hears the mix as it is \u2014 the load on deck {} was dropped", dropped),
               kSandboxOnStatusMs);
  }
}

void TurnSandboxOff() {
  bool trackChanged[kEngineDecks] = {};
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    if (Engine.sandboxOn.load())
      for (int d = 0; d < kEngineDecks; ++d) trackChanged[d] = Engine.decks[d].track != Engine.sandboxDecks[d].track;
  }
  SwapSandbox(Engine);
  Sandbox.on = false;
  for (int d = 0; d < kEngineDecks; ++d) {
    DeckView& live = LiveDeckViews[d];
    const DeckView& saved = SandboxDeckViews[d];
    if (live.jogScratching) {
      live.jogHeld = false;
      JogRelease(d);
      live.jogScratching = false;
    }
    if (trackChanged[d]) RestoreWholeView(live, saved);
    else RestoreControls(live, saved);
    live.bendHeld = 0.0f;
    live.jogBend = 0.0f;
    live.censorHeld = false;
    live.rollIndex = -1;
    live.cuePreview = false;
  }
  CrossfaderPosition = Sandbox.savedCrossfader;
  MasterFx = Sandbox.savedMasterFx;
  XfGlide.active = false;
  ShowStatus(L"Sandbox off \u2014 back with the crowd's mix", kSandboxOffStatusMs);
}

}  // namespace

bool HeadphoneOutputUsable() {
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  return HeadphonesApart(Engine);
}

void ToggleSandbox() {
  if (Sandbox.on) TurnSandboxOff();
  else TurnSandboxOn();
}

void CopyDeckView(DeckView& destination, const DeckView& source) { destination = source; }

void EjectDeck(int deck) {
  if (!ValidDeck(deck)) return;
  if (Sandbox.on) {
    ShowStatus(L"Leave the sandbox first");
    return;
  }
  TrackPtr oldTrack;
  StemDataPtr oldStems;
  bool playing = false;
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    DeckState& state = DeckStateOf(deck);
    playing = state.playing;
    if (!playing) {
      oldTrack = std::move(state.track);
      oldStems = std::move(state.stems);
      state.cuePoint = 0.0;
      state.position = 0.0;
      state.slipOn = false;
      state.reverse = false;
      state.loopOn = false;
      std::fill(std::begin(state.hotCueStart), std::end(state.hotCueStart), kNoHotCue);
      std::fill(std::begin(state.hotCueEnd), std::end(state.hotCueEnd), kNoHotCue);
    }
  }
  if (playing) {
    ShowStatus(L"Pause the deck before ejecting");
    return;
  }
  DeckView& view = LiveDeckViews[deck];
  ResetStemSwitches(view);
  ++view.loadSerial;
  view.memoryCues.clear();
  view.phrases.clear();
  view.phrasesFor.reset();
  view.loading = false;
  view.path.clear();
  view.error = {};
  view.syncLock = false;
}

void InstantDouble(int to, int from) {
  if (!ValidDeck(to) || !ValidDeck(from) || to == from) return;
  // The copy would become the crowd's deck's view on leaving the sandbox, cues and all.
  if (Sandbox.on) {
    ShowStatus(L"Leave the sandbox first");
    return;
  }
  TrackPtr oldTrack;
  StemDataPtr oldStems;
  DeckPlace copied;
  if (const wchar_t* refusal = DoubleDeckState(to, from, oldTrack, oldStems, copied)) {
    ShowStatus(refusal);
    return;
  }
  DeckView& view = LiveDeckViews[to];
  const DeckView& original = LiveDeckViews[from];
  ++view.loadSerial;
  view.loading = false;
  view.error = {};
  view.pitchRange = original.pitchRange;
  view.tempoFader = original.tempoFader;
  view.keyLock = original.keyLock;
  view.keyShift = original.keyShift;
  view.gain = original.gain;
  view.path = copied.track ? copied.track->path : std::wstring();
  view.title = FileNameOf(view.path);
  view.libraryCue = copied.cuePoint;
  view.libraryHotCueStart = copied.hotCueStart;
  view.libraryHotCueEnd = copied.hotCueEnd;
  view.cuesPath = view.path;  // cue edits on the copy reach the same record
  view.hotCueName = original.hotCueName;
  view.hotCueColour = original.hotCueColour;
  view.memoryCues = original.memoryCues;
  view.stemCancel->store(true);
  ++view.stemJob;
  view.stemsRunning = false;
  view.stemMessage.clear();
  view.stemsReady = original.stemsReady;
  view.stemOn = original.stemOn;
  ShowStatus(L"Instant double: deck " + DeckLetter(to) + L" now mirrors deck " + DeckLetter(from));
}

void StopPrelisten() {
  TrackPtr old;
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.prelistenPlaying = false;
    old = std::move(Engine.prelistenTrack);
  }
  Prelisten.path.clear();
  Prelisten.on = false;
  Prelisten.loading = false;
  ++Prelisten.serial;
}

void TogglePrelisten(const std::wstring& path) {
  if (path == Prelisten.path && !Prelisten.path.empty()) {
    StopPrelisten();
    return;
  }
  StopPrelisten();
  Prelisten.path = path;
  Prelisten.on = true;
  Prelisten.loading = true;
  ++Prelisten.serial;
  if (!HeadphoneOutputUsable())
    ShowStatus(L"No headphone output set \u2014 prelisten plays through the master (see Settings)");
  auto* job = new PrelistenJob{path, Prelisten.serial};
  try {
    std::thread(PrelistenLoadThread, job).detach();
  } catch (const std::system_error& e) {
    WriteLog(L"Couldn't start the prelisten thread ({})", e.code().value());
    delete job;
    Prelisten.path.clear();
    Prelisten.on = false;
    Prelisten.loading = false;
  }
}

void OnPrelistenReady(uintptr_t serial, TrackPtr* sound) {
  std::unique_ptr<TrackPtr> holder(sound);
  if (serial != Prelisten.serial) return;
  Prelisten.loading = false;
  if (!holder || !*holder) {
    Prelisten.path.clear();
    Prelisten.on = false;
    ShowStatus(L"Couldn't open that file for prelisten");
    return;
  }
  const double start = static_cast<double>((*holder)->frames) * kPrelistenStartFraction;
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  // The engine held no prelisten track (the request stopped the last one): the swap frees nothing.
  std::swap(Engine.prelistenTrack, *holder);
  Engine.prelistenPosition = start;
  Engine.prelistenPlaying = true;
}

void LoadSamplerSlot(int slot, const std::wstring& path) {
  if (slot < 0 || slot >= kSamplerSlotCount) return;
  auto* job = new SampleLoadJob{slot, path};
  try {
    std::thread(SampleLoadThread, job).detach();
  } catch (const std::system_error& e) {
    WriteLog(L"Couldn't start loading a sampler sound ({})", e.code().value());
    delete job;
  }
}

void SampleLoadThread(SampleLoadJob* job) {
  std::atomic<float> progress{0.0f};
  std::wstring error;
  TrackPtr sound = DecodeFile(job->path, &progress, &error, false);
  if (sound && (sound->sampleRate <= 0 ||
                static_cast<double>(sound->frames) / sound->sampleRate > kMaxSampleSeconds)) {
    sound.reset();
  }
  auto* result = new TrackPtr(std::move(sound));
  if (!PostToUi(kSamplerSlotPost, static_cast<uintptr_t>(job->slot), result)) delete result;
  delete job;
}

void TriggerSamplerPad(int pad) {
  if (pad < 0 || pad >= kEnginePads) return;
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  SamplerPad& target = Engine.pads[pad];
  if (!target.track) return;
  if (target.loop && target.playing) {
    target.playing = false;
    return;
  }
  target.position = 0.0;
  target.playing = true;
}
