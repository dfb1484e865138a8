#include "selftest/feature_run.h"

#include <fmt/xchar.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <mutex>

#include "app/main_window.h"
#include "base/files.h"
#include "base/settings.h"
#include "broadcast/camera.h"
#include "broadcast/visualiser.h"
#include "control/action_table.h"
#include "control/hid_reports.h"
#include "control/midi_input.h"
#include "engine/audio_output.h"
#include "engine/audio_routing.h"
#include "engine/deck_commands.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/mixer_controls.h"
#include "karaoke/karaoke_rotation.h"
#include "library/track_view.h"
#include "platform/draw_surface.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/text.h"
#include "screens/visualiser_toggle.h"
#include "selftest/selftest_state.h"
#include "settings/demo_tracks.h"
#include "settings/settings_screen.h"

namespace FeatureTest {

Runner Run;

namespace {

constexpr double kAudioSettleSeconds = 1.5;
constexpr double kDemoLimitSeconds = 90.0;
constexpr int32_t kDemoDoneTicks = 3;
constexpr uint64_t kCameraFramesWanted = 11;
constexpr float kCameraShown = 0.95f, kCameraGone = 0.05f;
// A loaded machine draws the visualiser late and its fades move on late with it, so each camera
// step waits up to this long past its time for what it checks.
constexpr double kCameraLateSeconds = 6.0;
constexpr int kVisualiserCaptureWidth = 1280, kVisualiserCaptureHeight = 720;

SettingsRecord Snapshot;

bool DeckHoldsTrack(int deck) { return DeckSnapshots[deck].track != nullptr; }

// A deck load that ended in error stops the wait: the run cannot go on without the track.
bool LoadFailed(int deck, const wchar_t* name) {
  const DeckView& view = LiveDeckViews[deck];
  if (view.loading || view.error.empty()) return false;
  SelfTestCheck(false, fmt::format(L"{} loads the test track ({}: {})", name, view.error, SelfTest.trackPath));
  Run.phase = 7;
  return true;
}

void ImmediateChecks() {
  CreateFolderTree(SelfTest.outputPath);
  ControllerLayoutTests();
  AutoMapTests();
  BentGridTest();
  RemoteTest();
  SkinTest();
  TimecodeTest();
  MasterSection.masterLevel = 0.0f;
  MasterSection.headphoneLevel = 0.0f;
}

void AudioPhase(double now) {
  if (Run.audio.empty() && Run.audioIndex == 0) Run.audio = AudioSteps();
  if (Run.audioIndex >= Run.audio.size()) {
    StartOutput(Engine, CurrentOutputConfig());
    SettingsOutputDevices = ListOutputDevices();
    SettingsInputDevices = ListInputDevices();
    Run.phase = 3;
    return;
  }
  AudioStep& step = Run.audio[Run.audioIndex];
  TestProgress.where = fmt::format(L"audio output set-ups, step {}", Run.audioIndex + 1);
  if (Run.audioStart == 0.0) {
    StartOutput(Engine, step.config());
    Run.audioStart = now;
    return;
  }
  if (now - Run.audioStart < kAudioSettleSeconds) return;
  SelfTestCheck(step.check(), AudioCheckName(step.name));
  ++Run.audioIndex;
  Run.audioStart = 0.0;
}

void PerformancePhase(double now) {
  if (!Run.stepsBuilt) {
    Run.steps = PerformanceSteps();
    Run.stepsBuilt = true;
    StartOutput(Engine, PlainOutputConfig());
  }
  if (Run.stepIndex >= Run.steps.size()) {
    if (IsDeckPlaying(0)) ClickDeckAction(0, kPlayOffset);
    StartOutput(Engine, CurrentOutputConfig());
    Run.phase = 4;
    return;
  }
  TimedStep& step = Run.steps[Run.stepIndex];
  TestProgress.where = fmt::format(L"performance steps, step {} \u201c{}\u201d", Run.stepIndex + 1, step.name);
  if (Run.stepStart == 0.0) {
    step.action();
    Run.stepPeak = 0.0f;
    Run.stepStart = now;
    Run.stepMixMark = MixedFramesMark();
    return;
  }
  const float level = LiveDeckViews[0].meterLevel;
  if (std::isfinite(level)) Run.stepPeak = std::max(Run.stepPeak, level);
  else Run.stepPeak = level;  // a non-finite level must fail the check, not vanish
  const double elapsed = now - Run.stepStart;
  if (elapsed < step.seconds) return;
  // A step also lasts its time in mixed sound: an output the sound server wakes late (a fresh
  // stream on a sleeping sink) holds back what the decks play, and so what the step hears.
  const bool heldBack = MixedSecondsSince(Run.stepMixMark) < step.seconds && Engine.outputRunning.load();
  if (heldBack && elapsed < step.seconds + kStepLateSeconds) return;
  if (step.ready && !step.ready() && now - Run.stepStart < step.seconds + kStepLateSeconds) return;
  ReportStep(step);
  ++Run.stepIndex;
  Run.stepStart = 0.0;
}

}  // namespace

void ReportStep(const TimedStep& step) {
  if (step.name.starts_with(L"(")) return;
  Run.skipped = false;
  const bool passed = step.check();
  if (Run.skipped) SelfTestSkip(step.name);
  else SelfTestCheck(passed, step.name);
  Run.skipped = false;
}

namespace {

void DemoPhase(double now) {
  TestProgress.where = L"demo tracks";
  if (Run.demoStart == 0.0) {
    Run.demoStart = now;
    StartDemoTracks();
    return;
  }
  const int32_t state = DemoTrackState.load();
  if (state == kDemoAnnounced) ++Run.demoDoneTicks;
  const bool over = Run.demoDoneTicks >= kDemoDoneTicks || state == kDemoFailed ||
                    now - Run.demoStart > kDemoLimitSeconds;
  if (!over) return;
  const std::wstring folder = DemoTracksFolder();
  const bool files = FileExists(JoinPath(folder, DemoTrackFileName(0))) &&
                     FileExists(JoinPath(folder, DemoTrackFileName(1)));
  const bool listed = std::find(MusicFolders.begin(), MusicFolders.end(), folder) != MusicFolders.end();
  std::wstring name = fmt::format(L"demo tracks made ({:.0f} s) and added to the library", now - Run.demoStart);
  if (state == kDemoFailed) name += L": " + DemoTrackError;
  SelfTestCheck(state == kDemoAnnounced && files && listed, name);
  Run.phase = 6;
}

// The visualiser as its window shows it, drawn off-screen at the video size.
bool CaptureVisualiser(const std::wstring& path) {
  if (!VisualiserWindowOpen) return false;
  auto surface = DrawSurface::Create(kVisualiserCaptureWidth, kVisualiserCaptureHeight, 1.0f);
  if (!surface) return false;
  DrawVisualiserFrame(*surface, kVisualiserCaptureWidth, kVisualiserCaptureHeight, 1.0 / 60.0,
                      GatherVisualiserFeed());
  return surface->WritePng(path);
}

void CameraPhase(double now) {
  TestProgress.where = fmt::format(L"camera in the visualiser, part {}", Run.cameraState + 1);
  if (!Run.snapshotTaken) {
    Snapshot = Settings;
    Run.snapshotTaken = true;
  }
  if (Run.cameraStart == 0.0) {
    Settings.CameraOn = true;
    Settings.CameraDevice = kTestPatternDevice;
    Settings.CameraShow = 0;
    Settings.CameraMirror = true;
    Rotation.singers.push_back(KaraokeSinger{.name = L"Test Singer", .songs = {}});
    Stage.currentSinger = static_cast<int32_t>(Rotation.singers.size()) - 1;
    Stage.stageDeck = 0;
    Stage.stageSongPath = DeckSnapshots[0].track ? DeckSnapshots[0].track->path : std::wstring();
    // A stage song stopped at its end is a song done, and the performance steps may have played
    // the deck that far on a slow machine.
    SetDeckPosition(0, 0);
    Stage.singing = true;
    Stage.ended = false;
    if (!VisualiserWindowOpen) ToggleVisualiser();
    Run.cameraStart = now;
    return;
  }
  const double elapsed = now - Run.cameraStart;
  // Due at AT s, checked once CHECKED holds or the late allowance has run out; the steps after
  // keep their spacing from when this one was checked.
  const auto due = [&](double at, bool checked) {
    if (elapsed <= at || (!checked && elapsed <= at + kCameraLateSeconds)) return false;
    Run.cameraStart = now - at;
    return true;
  };
  const float alpha = VisualiserCameraAlpha();
  if (Run.cameraState == 0 && due(2.5, alpha > kCameraShown && CameraFrameCount() >= kCameraFramesWanted)) {
    const uint64_t frames = CameraFrameCount();
    SelfTestCheck(frames >= kCameraFramesWanted, fmt::format(L"camera: frames arriving ({})", frames));
    std::vector<uint32_t> pixels;
    int width = 0, height = 0;
    uint64_t serial = 0;
    const bool frame = TakeCameraFrame(&pixels, &width, &height, &serial);
    SelfTestCheck(frame && VisualiserCameraAlpha() > kCameraShown,
                  L"camera: in the middle of the visualiser while someone sings",
                  fmt::format(L"frame {}, opacity {:.2f}, singing {}, song ended {}", frame, VisualiserCameraAlpha(),
                              Stage.singing, Stage.ended));
    Run.busy = true;
    SelfTestCheck(CaptureVisualiser(OutputFile(L"visualiser-camera.png")), L"screenshot visualiser-camera.png");
    Run.busy = false;
    Stage.ended = true;
    Run.cameraState = 1;
  } else if (Run.cameraState == 1 && due(4.0, alpha < kCameraGone)) {
    SelfTestCheck(VisualiserCameraAlpha() < kCameraGone, L"camera: fades out when the song ends");
    Settings.CameraShow = 1;
    Run.cameraState = 2;
  } else if (Run.cameraState == 2 && due(5.5, alpha > kCameraShown)) {
    SelfTestCheck(VisualiserCameraAlpha() > kCameraShown, L"camera: ALL THE TIME shows it without a singer");
    if (VisualiserWindowOpen) ToggleVisualiser();
    Rotation.singers.clear();
    Stage.currentSinger = -1;
    Stage.stageDeck = -1;
    Stage.stageSongPath.clear();
    Stage.singing = false;
    Settings = Snapshot;
    Run.cameraState = 3;
  } else if (Run.cameraState == 3 && elapsed > 6.5) {
    SelfTestCheck(!CameraCapturing(), L"camera: switched off when the visualiser closes");
    Run.phase = 7;
  }
}

void ResultsPhase() {
  CreateFolderTree(SelfTest.outputPath);  // a run that ended before its checks has not made it yet
  // A results file that cannot be written is a failure of its own; the exit code carries it.
  if (!WriteUtf8File(OutputFile(L"results.txt"), SelfTestResults))
    SelfTestCheck(false, L"results.txt written", L"could not write " + OutputFile(L"results.txt"));
  Run.phase = 8;
  FinishSelfTest();
}

}  // namespace

bool SetDeckPosition(int deck, double frames) {
  if (!std::isfinite(frames) || !ValidDeck(deck)) return false;
  std::lock_guard<RealtimeMutex> hold(Engine.lock);
  if (!Engine.decks[deck].track) return false;
  SeekDeck(Engine, deck, frames);
  return true;
}

double UsableBpm(double bpm) { return std::isfinite(bpm) && bpm >= 1.0 ? bpm : 1.0; }

std::wstring OutputFile(const std::wstring& name) { return JoinPath(SelfTest.outputPath, name); }

std::wstring IngestAddress() {
  if (const char* address = std::getenv("VELDMIX_INGEST_ADDRESS"); address && *address)
    return Utf8ToWide(address);
  return L"rtmps://a.rtmps.youtube.com:443/live2";
}

}  // namespace FeatureTest

using namespace FeatureTest;

void FeatureTestTick(double now) {
  if (Run.busy) return;
  switch (Run.phase) {
    case 0:
      TestProgress.where = L"waiting for deck A's track";
      if (LoadFailed(0, L"deck A")) return;
      if (!DeckHoldsTrack(0)) return;
      LoadTrack(1, SelfTest.trackPath);
      Run.phase = 1;
      return;
    case 1:
      TestProgress.where = L"waiting for deck B's track";
      if (LoadFailed(1, L"deck B")) return;
      if (!DeckHoldsTrack(1)) return;
      // The browse checks judge the library view, so its scan must have filled it.
      TestProgress.where = L"waiting for the library scan";
      if (Scanning) return;
      TestProgress.where = L"immediate checks";
      ImmediateChecks();
      Run.phase = 2;
      return;
    case 2:
      AudioPhase(now);
      return;
    case 3:
      PerformancePhase(now);
      return;
    case 4:
      TestProgress.where = fmt::format(L"screens, row {}", Run.screenIndex + 1);
      if (ScreensTick()) Run.phase = 5;
      return;
    case 5:
      DemoPhase(now);
      return;
    case 6:
      CameraPhase(now);
      return;
    case 7:
      ResultsPhase();
      return;
    default:
      return;
  }
}

void InjectMidi(int status, int data1, int data2) {
  const uint32_t packed = (static_cast<uint32_t>(status) & 0xFF) | (static_cast<uint32_t>(data1) & 0xFF) << 8 |
                          (static_cast<uint32_t>(data2) & 0xFF) << 16;
  OnMidiMessage(packed);
}

void InjectHidReport(std::vector<uint8_t> report) {
  HidReport record;
  record.bytes = std::move(report);
  OnHidReport(record);
}

bool IsDeckPlaying(int deck) {
  if (!ValidDeck(deck)) return false;
  std::lock_guard<RealtimeMutex> hold(Engine.lock);
  return Engine.decks[deck].playing;
}
