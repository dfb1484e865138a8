#include "app/frame_tick.h"
#include "app/main_window.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "base/log.h"
#include "base/settings.h"
#include "base/test_mode.h"
#include "broadcast/audio_stream.h"
#include "broadcast/live_video.h"
#include "broadcast/mix_recording.h"
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
#include "library/now_playing.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "platform/window.h"
#include "screens/main_screen.h"
#include "settings/updates.h"
#include "app/publish_controls.h"
#include "ui/status_line.h"

TickMemory AppTickMemory;

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
      std::filesystem::remove_all(WideToUtf8(UpdateDownloadFolder()), ignored);
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

// The karaoke screen's pulse and bass come from what the frame driver measured last frame.
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
  UpdatePhraseCache();
  AutomixTick();
  NowPlayingTick();
  MixRecordingTick();
  FeedKaraoke();
  KaraokeTick();
  FinishPadRecording();
  BuildRemoteState();
  TickMacros();
  ApplyTimecodeSpeed();
  FollowKeepAwake();
  if (!TestMode) FollowUpdates(nowMs);
  if (SelfTestTickHook) SelfTestTickHook();
}

void AppTick() { AppTickAt(MonotonicMs()); }
