#include "screens/screen_signature.h"

#include <cmath>
#include <cstring>
#include <string>
#include <type_traits>

#include "base/palette.h"
#include "base/settings.h"
#include "base/status_message.h"
#include "broadcast/audio_stream.h"
#include "broadcast/live_video.h"
#include "control/macros_panel.h"
#include "control/midi_learn.h"
#include "engine/automix.h"
#include "engine/control_input.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/mix_meters.h"
#include "engine/mixer_controls.h"
#include "engine/sandbox.h"
#include "engine/side_slots.h"
#include "karaoke/karaoke_panel.h"
#include "library/analysis_queue.h"
#include "library/crates.h"
#include "library/now_playing.h"
#include "library/track_lists.h"
#include "library/track_view.h"
#include "platform/clock.h"
#include "screens/browser_seams.h"
#include "screens/deck_panel.h"
#include "screens/layout.h"
#include "screens/main_screen.h"
#include "screens/overview.h"
#include "screens/sidebar.h"
#include "screens/slim_layout.h"
#include "screens/top_bar.h"

namespace {

constexpr uint64_t kFnvOffset = 1469598103934665603ull, kFnvPrime = 1099511628211ull;

// FNV-1a over the bytes of plain values and strings.
class Fold {
 public:
  template <typename T>
  Fold& operator<<(const T& value) {
    static_assert(std::is_trivially_copyable_v<T>);
    unsigned char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    for (unsigned char b : bytes) hash_ = (hash_ ^ b) * kFnvPrime;
    return *this;
  }
  Fold& operator<<(const std::wstring& text) {
    *this << text.size();
    for (wchar_t c : text) *this << c;
    return *this;
  }
  uint64_t hash() const { return hash_; }

 private:
  uint64_t hash_ = kFnvOffset;
};

void FoldInput(Fold& f) {
  f << Input.x << Input.y << Input.held << Input.pressed << Input.released << Input.rightPressed
    << Input.doubleClicked << Input.wheel << Input.shiftHeld << Input.movePending << ActiveControlId;
  f << pressedIds.size() << releasedIds.size() << heldIds.size() << absolutePositions.size();
  for (int32_t id : heldIds) f << id;
}

// Whether the decks' motion and the spectrum are screen parts of their own (the library layout).
bool MotionInParts() { return VariantOf(Settings.Layout).slimPanels; }

// What a deck's playing changes from frame to frame.
void FoldDeckMotion(Fold& f, int d) {
  const DeckSnapshot& s = DeckSnapshots[d];
  f << s.position << s.slipPosition << BeatPulse[d] << LiveDeckViews[d].meterLevel;
}

// What a side's slim deck, its light and the top bar's pulse line of deck A (B) show of the decks'
// motion. A paused deck's position moves only by a seek, which may light its CUE: all of it.
void FoldSidePanel(Fold& f, int side) {
  f << BeatPulse[side];
  const int d = SideSlots[side];
  if (!ValidDeck(d)) return;
  const DeckSnapshot& s = DeckSnapshots[d];
  f << BeatPulse[d];
  if (!s.track || s.track->sampleRate <= 0) return;
  if (!s.playing) {
    f << s.position;
    return;
  }
  const double rate = s.track->sampleRate, elapsed = std::max(0.0, s.position / rate);
  const Rc panel = side == kLeftSide ? Screen.leftPanel : Screen.rightPanel;
  f << HeaderTenths(elapsed) << HeaderTenths(static_cast<double>(s.track->frames) / rate - elapsed)
    << OverviewPlayheadX(SlimOverviewRect(panel), s.position, static_cast<double>(s.track->frames));
}

void FoldDecks(Fold& f, bool motion) {
  for (int d = 0; d < kEngineDecks; ++d) {
    const DeckSnapshot& s = DeckSnapshots[d];
    if (motion) FoldDeckMotion(f, d);
    f << s.track.get() << s.playing << s.jogTouched << s.cuePoint << s.hotCueStart << s.hotCueEnd << s.loopOn
      << s.loopIn << s.loopOut << s.reverse << s.slipMode << s.slipOn << s.stopEffect;
    if (s.track) f << s.track->bpm << s.track->firstBeat << s.track->key;
    const DeckView& v = LiveDeckViews[d];
    f << v.tempoFader << v.pitchRange << v.gain << v.eqHigh << v.eqMid << v.eqLow << v.filter << v.fader
      << v.keyShift << v.keyLock << v.headphoneCue << v.loading << v.loadSerial << v.syncLock << v.stemsReady
      << v.jogBend << v.fxSlotOn << v.fxSlotAmount << v.loopSizeIndex << v.padMode;
    f << (v.loadProgress ? v.loadProgress->load() : 0.0f) << v.title;
  }
  for (int side = 0; side < 2; ++side) f << SideSlots[side];
  f << SamplerShot.padPlaying << SamplerShot.recording << SamplerShot.recordProgress << SamplerShot.recordingName;
}

// The slim mixer shows no level meters: with the motion in parts, the spectrum is the top bar's
// part and the master meters show nowhere.
void FoldMixAndMeters(Fold& f, uint64_t nowMs, bool motion) {
  f << CrossfaderPosition << Meters.microphone;
  if (motion) f << Meters.masterLeft << Meters.masterRight << Meters.limiterDb << Meters.spectrum
                << (nowMs < Meters.clipUntilMs);
  f << Engine.outputRunning.load() << Engine.sampleRate.load() << Engine.bufferFrames.load()
    << Engine.recording.load() << Engine.inputOn.load() << Engine.inputCapturing.load()
    << Engine.padRecordState.load() << Engine.booth.wanted.load() << Engine.phones.running.load();
  const int32_t rate = Engine.recordRate.load();
  f << (rate > 0 ? Engine.recordFrames.load() / static_cast<uint64_t>(rate) : 0);
}

void FoldShell(Fold& f, uint64_t nowMs) {
  const LocalTime now = TopBarClockHook();
  f << now.hour << now.minute;
  const bool status = StatusShowing(nowMs);
  f << status;
  if (status) f << Status.text;
  f << Sandbox.on << midiLearnOn << midiLearnTarget;
  if (Sandbox.on) f << static_cast<int64_t>(std::floor(MonotonicSeconds() - Sandbox.since));
  f << Automix.on << Automix.transition;
  f << (TrackLists.size() > kAutomixList ? TrackLists[kAutomixList].paths.size() : 0);
  f << LiveStreamState() << LiveVideoState() << static_cast<int64_t>(LiveStreamSeconds())
    << static_cast<int64_t>(LiveVideoSeconds());
  f << Settings.Layout << Settings.Vertical << Settings.FourDecks << SearchText << OpenOverlay();
}

}  // namespace

uint64_t ScreenPartSignature(int part, uint64_t nowMs) {
  Fold f;
  switch (part) {
    case kLoadMeterPart:
      f << ShownLoad(Meters.load) << LoadColour(Meters.load) << Meters.dropouts << Meters.dropoutRiseMs
        << DropoutRecent(nowMs);
      break;
    case kSpectrumPart:
      if (MotionInParts()) f << Meters.spectrum;
      break;
    default:
      if (!MotionInParts()) break;
      if (part >= kDeckMotionPart && part < kSidePanelPart) FoldDeckMotion(f, part - kDeckMotionPart);
      if (part >= kSidePanelPart && part < kScreenParts) FoldSidePanel(f, part - kSidePanelPart);
      break;
  }
  return f.hash();
}

uint64_t BrowserSignature(uint64_t nowMs) {
  Fold f;
  FoldInput(f);
  f << Pal << SideSlots[0] << SideSlots[1] << OnAirDeck() << MatchDeck;
  for (const DeckSnapshot& shot : DeckSnapshots) f << shot.track.get();
  f << ViewKind << ViewIndex << ViewItems.size() << ViewOrder.size() << Selection << ScrollRow << SortColumn
    << SortAscending << SearchText << SearchFocused << CrateSearch << Scanning << MusicFolders.size()
    << SmartCrates.size() << TrackLists.size() << SidebarOffset;
  for (const TrackList& list : TrackLists) f << list.paths.size();
  f << Analysing << AnalysisDone << AnalysisTotal << AiSetJobRunning() << MacrosPanelOpen << KaraokePanelShown
    << NowPlaying.playedThisSession.size() << midiLearnOn << midiLearnTarget << RowDrag.dragging;
  f << Prelisten.on << Prelisten.loading << Prelisten.serial;
  if (Prelisten.on) {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    f << Engine.prelistenPosition;
  }
  const bool status = StatusShowing(nowMs);
  f << status;
  if (status) f << Status.text;
  f << Settings.Layout << Settings.Vertical << Settings.FourDecks << OpenOverlay();
  return f.hash();
}

uint64_t MainScreenSignature(uint64_t nowMs) {
  Fold f;
  FoldInput(f);
  const bool motion = !MotionInParts();
  FoldDecks(f, motion);
  FoldMixAndMeters(f, nowMs, motion);
  FoldShell(f, nowMs);
  return f.hash();
}
