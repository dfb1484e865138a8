#include "app/publish_controls.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "base/beat_grid.h"
#include "base/log.h"
#include "base/settings.h"
#include "broadcast/camera.h"
#include "broadcast/visualiser.h"
#include "control/midi_clock.h"
#include "engine/audio_output.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/effects.h"
#include "engine/mixer_controls.h"
#include "engine/output_loss.h"
#include "engine/stem_controls.h"
#include "karaoke/karaoke_show.h"
#include "library/now_playing.h"
#include "library/track_view.h"
#include "platform/clock.h"
#include "settings/demo_tracks.h"
#include "settings/settings_screen.h"
#include "ui/modal.h"
#include "ui/status_line.h"

namespace {

constexpr int kVocalPart = 0;               // stem parts: VOCALS, DRUMS, BASS, MELODY
constexpr float kPercent = 100.0f;
constexpr int32_t kXfSideA = 0, kXfSideB = 2;
constexpr uint32_t kMicEffectBits = 3;      // [Mic] Fx: bit 0 ECHO, bit 1 REVERB

// The stop effects run through the deck's stop mode, never through an effect mask.
bool IsStopEffect(uint32_t effect) { return effect == kFxBrake || effect == kFxBackspin; }

// Read-and-reset of a meter the render raises.
float TakePeak(std::atomic<float>& peak) { return peak.exchange(0.0f); }

// A level falling away reaches exactly zero once no meter could show it: a screen at rest then
// stays the same, and is not redrawn while the levels creep towards zero for many seconds.
constexpr float kShownFloor = 1e-5f;
float Decayed(float shown, float factor, float peak) {
  const float level = std::max(shown * factor, peak);
  return level < kShownFloor ? 0.0f : level;
}

// One deck's view into its engine deck. Caller holds the engine lock.
void PublishDeck(int d, DeckView& view, DeckState& deck) {
  view.jogBend *= kNudgeDecay;
  if (std::fabs(view.jogBend) < kNudgeFloor) view.jogBend = 0.0f;
  deck.tempo = static_cast<float>(TempoOffsetOf(view));
  deck.bend = view.bendHeld + view.jogBend;
  deck.keyShift = static_cast<float>(view.keyShift);
  deck.keyLock = view.keyLock;
  deck.cue = view.headphoneCue;
  // The preset acts through the stems once they are ready, through the voice band until then.
  float switches[kStemParts], gains[kStemParts];
  for (int part = 0; part < kStemParts; ++part) switches[part] = view.stemOn[static_cast<size_t>(part)] ? 1.0f : 0.0f;
  deck.vocalMode = StemPartGains(view.stemsReady, view.stemPreset, switches, gains);
  const float guide = KaraokeGuideGain(d);
  if (guide >= 0.0f && view.stemsReady && view.stemPreset == kStemPresetInstrumental) gains[kVocalPart] = guide;
  for (int part = 0; part < kStemParts; ++part) deck.stemGain[part].store(gains[part]);
  deck.kickTarget = view.stemsReady && !view.kickOn ? 0.0f : 1.0f;
  deck.hatTarget = view.stemsReady && !view.hatOn ? 0.0f : 1.0f;
  deck.stemFxTarget = view.stemsReady ? view.stemFxTarget : -1;
  deck.colorFx = view.colorFx;
  deck.gain = view.gain;
  deck.eqHigh = view.eqHigh;
  deck.eqMid = view.eqMid;
  deck.eqLow = view.eqLow;
  deck.filter = view.filter;
  deck.fader = view.fader;
  deck.xfAssign = view.xfAssignSet ? view.xfAssign : (d % 2 == 0 ? kXfSideA : kXfSideB);
  uint32_t mask = 0;
  for (int slot = 0; slot < kDeckFxSlots; ++slot) {
    const uint32_t effect = view.fxSlotEffect[static_cast<size_t>(slot)];
    if (effect >= static_cast<uint32_t>(kEffectCount)) continue;
    deck.fxAmount[effect].store(view.fxSlotAmount[static_cast<size_t>(slot)]);
    if (view.fxSlotOn[static_cast<size_t>(slot)] && !IsStopEffect(effect)) mask |= EffectBit(static_cast<int>(effect));
  }
  deck.fxMask = mask;
  for (int i = 0; i < kEffectCount; ++i) deck.fxParam[i].store(view.fxParam[static_cast<size_t>(i)]);
  view.meterLevel = Decayed(view.meterLevel, kDeckMeterDecay, TakePeak(deck.peak));
}

// While a karaoke song runs on a playing stage deck the microphone is the show: the music does not
// duck under it. Caller holds the engine lock.
bool KaraokeSongSung() {
  const int stage = KaraokeSingingDeck();
  return ValidDeck(stage) && Engine.decks[stage].playing;
}

// Caller holds the engine lock.
void PublishMasterSection() {
  Engine.xfPosition = Settings.XfReverse ? 1.0f - CrossfaderPosition : CrossfaderPosition;
  Engine.xfCurve = Settings.XfCurve;
  Engine.masterVolume = MasterSection.masterLevel;
  Engine.headphoneMix = MasterSection.headphoneMix;
  Engine.headphoneVolume = MasterSection.headphoneLevel;
  Engine.samplerVolume = MasterSection.samplerLevel;
  Engine.boothVolume = MasterSection.boothLevel;
  Engine.micGain = Settings.MicGain;
  Engine.micEffectMask = static_cast<uint32_t>(Settings.MicFx) & kMicEffectBits;
  Engine.micDuck = Settings.MicDuck && !KaraokeSongSung();
  Engine.limiterOn = Settings.Limiter;
  const bool fxValid = MasterFx.effect >= 0 && MasterFx.effect < kEffectCount;
  Engine.masterFxMask = MasterFx.on && fxValid && !IsStopEffect(static_cast<uint32_t>(MasterFx.effect))
                            ? EffectBit(MasterFx.effect)
                            : 0;
  Engine.masterFxAmount = MasterFx.amount;
  Engine.masterFxParam = MasterFx.beats;
}

double FiniteOrZero(double v) { return std::isfinite(v) ? v : 0.0; }

// The leader's tempo and beat for the clock sender, both 0 unless it plays forward untouched.
void FeedMidiClock(int leader) {
  if (!MidiClock) return;
  double tempo = 0.0, beat = 0.0;
  if (ValidDeck(leader)) {
    const DeckSnapshot& shot = DeckSnapshots[leader];
    if (shot.track && shot.playing && !shot.jogTouched && !shot.reverse && !shot.stopEffect) {
      tempo = FiniteOrZero(DeckBpm(leader));
      beat = FiniteOrZero(BeatAtTime(*shot.track, shot.position / std::max(shot.track->sampleRate, 1)));
    }
  }
  std::lock_guard<std::mutex> lock(MidiClock->lock);
  MidiClock->tempo = tempo;
  MidiClock->beat = beat;
  MidiClock->stampSeconds = MonotonicSeconds();
}

void DecayMixMeters(uint64_t nowMs) {
  Meters.masterLeft = Decayed(Meters.masterLeft, kMasterMeterDecay, TakePeak(Engine.masterPeakL));
  Meters.masterRight = Decayed(Meters.masterRight, kMasterMeterDecay, TakePeak(Engine.masterPeakR));
  Meters.microphone = Decayed(Meters.microphone, kMicMeterDecay, TakePeak(Engine.inputPeak));
  Meters.limiterDb = Decayed(Meters.limiterDb, kLimiterMeterDecay, TakePeak(Engine.limiterReductionDb));
  for (int b = 0; b < kSpectrumBands; ++b)
    Meters.spectrum[static_cast<size_t>(b)] =
        Decayed(Meters.spectrum[static_cast<size_t>(b)], kSpectrumDecay, TakePeak(Engine.spectrum[b]));
  if (Engine.clipped.exchange(false)) Meters.clipUntilMs = nowMs + kClipHoldMs;
  const float load = TakePeak(Engine.loadPeak);
  Meters.load = Decayed(Meters.load, kLoadDecay, load);
  Meters.loadHighest = std::max(Meters.loadHighest, load);
}

// The top bar counts every kind of dropout; this line tells of late device wake-ups, and the
// output's own lines of the other kinds.
void LogDropouts(uint64_t nowMs) {
  const uint32_t count = Engine.dropouts.load();
  const uint32_t total = count + Engine.renderLockMisses.load() + Engine.serverUnderruns.load();
  if (total > Meters.dropouts) Meters.dropoutRiseMs = nowMs;
  Meters.dropouts = total;
  if (count <= Meters.dropoutsLogged) return;
  if (Meters.dropoutLogged && nowMs - Meters.dropoutLogMs <= kDropoutLogGapMs) return;
  WriteLog(L"Audio: {} dropout(s) ({} since start): the device woke the output late; audio load {:.0f}%, "
           L"highest {:.0f}%, {}-frame buffer",
           count - Meters.dropoutsLogged, count, Meters.load * kPercent, Meters.loadHighest * kPercent,
           Engine.bufferFrames.load());
  Meters.dropoutLogged = true;
  Meters.dropoutsLogged = count;
  Meters.dropoutLogMs = nowMs;
}

void AnnounceDemoTracks() {
  int32_t done = kDemoDone;
  if (DemoTrackState.compare_exchange_strong(done, kDemoAnnounced)) {
    QueueDeferredAction([] {
      AddMusicDir(DemoTracksFolder());
      ShowStatus(L"Two demo tracks added \u2014 load one onto each deck and press SYNC");
    });
    return;
  }
  int32_t failed = kDemoFailed;
  if (DemoTrackState.compare_exchange_strong(failed, kDemoIdle))
    ShowStatus(UiFormat(L"Couldn't make the demo tracks: {}", UiText(DemoTrackError)));
}

void FollowCameraSetting() {
  const bool shown = VisualiserWindowOpen || (SettingsOpen && SettingsPage == kSettingsPageKaraoke);
  if (Settings.CameraOn && shown) StartCamera(Settings.CameraDevice);
  else if (CameraRunning()) StopCamera();
}

}  // namespace

void DemoTickAt(uint64_t nowMs) {
  int leader = -1;
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    for (int d = 0; d < kEngineDecks; ++d) PublishDeck(d, LiveDeckViews[d], Engine.decks[d]);
    PublishMasterSection();
    leader = LoudestAudibleDeck();
    if (leader >= 0) Engine.leaderDeck = leader;
  }
  FeedMidiClock(leader);
  DecayMixMeters(nowMs);
  LogDropouts(nowMs);
  LogRenderDropouts(Engine, nowMs);
  ShowLostOutputs(nowMs);
  AnnounceDemoTracks();
  FollowCameraSetting();
}

void DemoTick() { DemoTickAt(MonotonicMs()); }
