#include "app/frame_tick.h"
#include "app/main_window.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "app/publish_controls.h"
#include "base/log.h"
#include "base/settings.h"
#include "base/status_message.h"
#include "base/test_mode.h"
#include "broadcast/audio_stream.h"
#include "broadcast/live_video.h"
#include "broadcast/mix_recording.h"
#include "broadcast/video_feed.h"
#include "control/controller_leds.h"
#include "control/macros.h"
#include "control/midi_clock.h"
#include "control/remote_state.h"
#include "control/timecode.h"
#include "engine/automix.h"
#include "engine/control_input.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/mixer_controls.h"
#include "engine/phrases.h"
#include "engine/sampler.h"
#include "engine/side_slots.h"
#include "engine/sync.h"
#include "karaoke/karaoke_tick.h"
#include "karaoke/karaoke_window.h"
#include "library/now_playing.h"
#include "library/track_view.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "platform/window.h"
#include "screens/main_screen.h"
#include "screens/screen_signature.h"
#include "screens/visualiser_toggle.h"
#include "settings/updates.h"
#include "ui/modal.h"
#include "ui/status_line.h"
#include "ui/widgets.h"

TickMemory AppTickMemory;
bool FullRedraw = [] {
  const char* value = std::getenv("VELDMIX_FULL_REDRAW");
  return value && *value && *value != '0';
}();

namespace {

// Phrases are analysed again only when a deck's track or its grid changed.
void UpdatePhraseCache() {
  for (int d = 0; d < kEngineDecks; ++d) {
    DeckView& view = LiveDeckViews[d];
    const TrackPtr& track = DeckSnapshots[d].track;
    if (!track) {
      view.phrases.clear();
      view.phrasesFor.reset();
      continue;
    }
    if (view.phrasesFor == track && view.phrasesBpm == track->bpm && view.phrasesFirstBeat == track->firstBeat)
      continue;
    view.phrasesFor = track;
    view.phrasesBpm = track->bpm;
    view.phrasesFirstBeat = track->firstBeat;
    view.phrases = AnalyzePhrases(*track);
  }
}

// Awake while the mix is recorded, streamed or played; the system is told only on a change.
void FollowKeepAwake() {
  bool awake = Engine.recording.load() || LiveStreamState() != kStreamOff || LiveVideoState() != kStreamOff;
  for (const DeckSnapshot& shot : DeckSnapshots) awake = awake || shot.playing;
  if (awake == AppTickMemory.keepAwake) return;
  AppTickMemory.keepAwake = awake;
  KeepAwake(awake);
}

// Once per process: an installation accepted in the last run either took (the program file
// changed) or did not; the pending stamp moves to Installed or Dismissed.
void ShowUpdateNotice(uint64_t nowMs) {
  AppTickMemory.updateNoticeDone = true;
  if (Settings.Pending != 0) {
    if (static_cast<int64_t>(BuildStamp()) != Settings.PendingBuild) {
      Settings.Installed = Settings.Pending;
      std::error_code ignored;
      std::filesystem::remove_all(PathToBytes(UpdateDownloadFolder()), ignored);
      WriteLog(L"Updates: now running the update put on the site {}", FormatStamp(Settings.Pending));
      ShowStatus(UiFormat(L"Veldmix has been updated \u2014 this is version {}", L"" VELDMIX_VERSION), kUpdatedNoticeMs);
    } else {
      Settings.Dismissed = Settings.Pending;
    }
    Settings.Pending = 0;
    Settings.PendingBuild = 0;
    SaveSettings();
  }
  Updates.nextAutoCheck = nowMs + kFirstUpdateCheckDelayMs;
}

void FollowUpdates(uint64_t nowMs) {
  if (!AppTickMemory.updateNoticeDone) ShowUpdateNotice(nowMs);
  if (Settings.UpdatesCheck && Updates.phase == kUpdateIdle && nowMs >= Updates.nextAutoCheck) StartUpdateCheck(false);
}

// The karaoke screen's pulse and bass come from this tick's pulses and the meters.
void FeedKaraoke() {
  for (int d = 0; d < kEngineDecks; ++d) KaraokeFeed.beatPulse[static_cast<size_t>(d)] = BeatPulse[d];
  KaraokeFeed.bands = Meters.spectrum;
}

}  // namespace

void AppTickAt(uint64_t nowMs) {
  if (!Settings.FourDecks) ShowDecksAB();
  SyncLockTick();
  GlideCrossfader(nowMs);
  DemoTickAt(nowMs);
  SnapshotDecks();
  PublishMidiClockTempo();
  UpdateBeatPulses();
  UpdatePhraseCache();
  AutomixTick();
  NowPlayingTick();
  if (TakeViewSort()) NoteScreenEvent();  // the rows moved: the browser is drawn again
  MixRecordingTick();
  FeedKaraoke();
  KaraokeTick();
  FinishPadRecording();
  BuildRemoteState();
  TickMacros();
  ApplyTimecodeSpeed();
  UpdateVideoFeed();
  SendControllerLeds();
  FollowKeepAwake();
  if (!TestMode) FollowUpdates(nowMs);
  if (SelfTestTickHook) SelfTestTickHook();
}

void AppTick() { AppTickAt(MonotonicMs()); }

// ---- the frame -----------------------------------------------------------------------------------

namespace {

// A frame drawn for a change draws this many more: what its clicks and keys changed shows in the
// frames after it, and the drawing caches (kept text, panels in the backdrop) settle into what
// every later frame of the same screen draws.
constexpr int kSettleFrames = 2;

struct FrameMemory {
  bool drawnOnce = false;
  FrameWindow window;         // the last drawn frame's
  uint64_t signature = 0;     // what the last drawn frame showed
  bool eventSince = false;    // a window event or worker result since
  int settleFrames = 0;
  uint64_t drawn = 0;
  uint64_t parts = 0;  // of them, parts of the frame
  uint64_t partSignatures[kScreenParts] = {};  // what the parts that change alone showed
  uint64_t browser = 0;  // what the browser's area showed
  int browserSettle = 0;  // frames that draw the browser's area after it changed
  uint64_t browserKept = 0;  // frames that kept the browser's area
  float pointerX = 0.0f, pointerY = 0.0f;  // where the pointer was for `signature`
  bool changedLast = false;  // the last frame showed a change of what the screen shows
};
FrameMemory Shown;

bool SameWindow(const FrameWindow& a, const FrameWindow& b) {
  return a.pixelWidth == b.pixelWidth && a.pixelHeight == b.pixelHeight && a.minimised == b.minimised &&
         a.scale == b.scale;
}

bool InputThisFrame() {
  return Input.pressed || Input.released || Input.rightPressed || Input.doubleClicked || Input.wheel != 0.0f ||
         !pressedIds.empty() || !releasedIds.empty() || !absolutePositions.empty();
}

// Whatever the signatures say, the whole frame is drawn: the window asked for it, it changed, or
// something came that the signatures do not follow.
bool WholeFrameAsked(const FrameWindow& window, FrameAsk ask) {
  return FullRedraw || ask == FrameAsk::Paint || !Shown.drawnOnce || !HasDevice() ||
         !SameWindow(window, Shown.window) || Shown.eventSince || InputThisFrame() || !DeferredActions.empty();
}

// A change the screen must show (beyond the frames that settle the last one), not counting the
// redraws that animations asked for.
bool ScreenChanged(const FrameWindow& window, FrameAsk ask, uint64_t signature) {
  return WholeFrameAsked(window, ask) || signature != Shown.signature;
}

// The screen changed only where the pointer went: with it put back where the last drawn frame
// had it, the screen would show what that frame showed.
bool PointerMovedAlone(const FrameWindow& window, FrameAsk ask, uint64_t nowMs) {
  const float x = Input.x, y = Input.y;
  if ((x == Shown.pointerX && y == Shown.pointerY) || WholeFrameAsked(window, ask) || nowMs >= RedrawDueMs())
    return false;
  Input.x = Shown.pointerX, Input.y = Shown.pointerY;
  const uint64_t signature = MainScreenSignature(nowMs);
  Input.x = x, Input.y = y;
  return signature == Shown.signature;
}

}  // namespace

void NoteScreenEvent() { Shown.eventSince = true; }

void NoteWindowEvent(WindowEventKind kind) {
  if (kind == WindowEventKind::Timer || kind == WindowEventKind::None) return;
  const bool buttons = Input.held || Input.pressed || Input.released || Input.rightPressed;
  if (kind == WindowEventKind::MouseMove && !buttons && ActiveControlId == kNoActiveControl) return;
  NoteScreenEvent();
}

namespace {

// What the tick runs on its own, frame by frame, while it lasts.
bool TickBusy() {
  for (int d = 0; d < kEngineDecks; ++d)
    if (DeckSnapshots[d].playing || LiveDeckViews[d].loading) return true;
  return BeatPulsesFalling() || Input.held || ActiveControlId != kNoActiveControl || XfGlide.active ||
         !DeferredActions.empty() ||
         Engine.recording.load() || LiveStreamState() != kStreamOff || LiveVideoState() != kStreamOff ||
         Automix.on || ViewSortPending() || !RunningMacros.empty() || TimecodeInputRunning() || SelfTest.active ||
         KaraokeScreenWindow() != nullptr || VisualiserScreenWindow() != nullptr;
}

}  // namespace

uint64_t NextFrameDueMs(uint64_t nowMs) {
  if (FullRedraw || Shown.changedLast || Shown.settleFrames > 0 || Shown.browserSettle > 0 || TickBusy())
    return nowMs;
  uint64_t due = std::min({nowMs + kIdleFrameMs, RedrawDueMs(), PartRedrawDueMs()});
  if (StatusShowing(nowMs)) due = std::min(due, Status.undrawnMs > 0 ? nowMs : Status.expiresAtMs);
  return std::max(due, nowMs);
}

uint64_t DrawnFrameCount() { return Shown.drawn; }

uint64_t PartFrameCount() { return Shown.parts; }

uint64_t BrowserKeptCount() { return Shown.browserKept; }

namespace {

// The boxes of frame pixels that the parts due now cover: the animations that asked for parts,
// and the parts that change alone whose look changed. False when one of them needs the whole
// frame (its part no longer holds, or it was not drawn last time); *any tells whether one is due.
bool PartsDue(uint64_t nowMs, const uint64_t* partSignatures, PartBoxes* boxes, bool* any) {
  *any = false;
  bool hold = true;
  if (nowMs >= PartRedrawDueMs()) {
    *any = true;
    hold = RedrawPartDue(nowMs, boxes);
  }
  for (int p = 0; p < kScreenParts; ++p) {
    if (partSignatures[p] == Shown.partSignatures[p]) continue;
    *any = true;
    hold = PartDrawnBoxes(p, boxes) && hold;
  }
  return hold;
}

}  // namespace

bool DriveFrame(const FrameWindow& window, FrameAsk ask) {
  const uint64_t nowMs = FrameNowHook();
  AppTickAt(nowMs);
  bool drawn = false;
  const bool drawable = WindowDrawable(window);
  const bool moved =
      drawable && (nowMs >= RedrawDueMs() || ScreenChanged(window, ask, MainScreenSignature(nowMs)));
  // A hover shows in the frame that draws it; only other changes need frames to settle.
  const bool settles = moved && !PointerMovedAlone(window, ask, nowMs);
  // A pointer that moved alone over nothing the last frame tested changes nothing drawn.
  const bool changed =
      moved && (settles || !PointerMoveChangesNothing(Shown.pointerX, Shown.pointerY, Input.x, Input.y));
  // With nothing else changed, only the parts that changed or animate are drawn (the whole, when
  // one of them cannot be drawn alone or the last change is still settling).
  uint64_t partSignatures[kScreenParts];
  for (int p = 0; p < kScreenParts; ++p) partSignatures[p] = ScreenPartSignature(p, nowMs);
  PartBoxes parts;
  bool partDue = false;
  const bool partsHold = drawable && PartsDue(nowMs, partSignatures, &parts, &partDue);
  const bool partOnly = partDue && partsHold && !changed && Shown.settleFrames == 0;
  const bool whole = changed || (drawable && Shown.settleFrames > 0) || (drawable && partDue && !partOnly);
  // A whole frame whose browser area shows what it showed, settled, and that nothing drawn above
  // reaches: all but that area is drawn.
  const uint64_t browser = BrowserSignature(nowMs);
  const bool browserMoved = !drawable || WholeFrameAsked(window, ask) || browser != Shown.browser;
  PixelBox still;
  const bool keepBrowser = whole && !partOnly && !browserMoved && Shown.browserSettle == 0 && StillAreaBox(&still) &&
                           still.x0 <= 0 && still.x1 >= window.pixelWidth && still.y1 >= window.pixelHeight &&
                           still.y0 > 0 && still.y0 < window.pixelHeight;
  if (partOnly) {
    drawn = DrawWindowFrame(window, DrawMainScreen, parts);
    Shown.parts += drawn;
  } else if (whole) {
    const PixelBox above{0, 0, window.pixelWidth, keepBrowser ? still.y0 : 0};
    StartPointerNotes();
    drawn = keepBrowser && DrawWindowFrame(window, DrawMainScreen, &above);
    Shown.browserKept += drawn;
    if (!drawn) {
      StartPointerNotes();
      drawn = DrawWindowFrame(window, DrawMainScreen);
      if (drawn) Shown.browserSettle = browserMoved ? kSettleFrames : std::max(0, Shown.browserSettle - 1);
    }
    StopPointerNotes(drawn);
    if (drawn) {
      Shown.drawnOnce = true;
      Shown.window = window;
      Shown.eventSince = false;
      Shown.settleFrames = settles ? kSettleFrames : std::max(0, Shown.settleFrames - 1);
    }
  }
  Shown.drawn += drawn;
  bool partChanged = false;
  for (int p = 0; p < kScreenParts; ++p) partChanged = partChanged || partSignatures[p] != Shown.partSignatures[p];
  Shown.changedLast = drawn && (changed || partChanged);
  RunDeferredActions();
  // Taken after the frame and its actions: what the next tick must differ from to be drawn.
  if (drawn) {
    const uint64_t afterMs = FrameNowHook();
    Shown.signature = MainScreenSignature(afterMs);
    Shown.pointerX = Input.x, Shown.pointerY = Input.y;
    for (int p = 0; p < kScreenParts; ++p) Shown.partSignatures[p] = ScreenPartSignature(p, afterMs);
    if (!partOnly) Shown.browser = BrowserSignature(afterMs);
  }
  return drawn;
}
