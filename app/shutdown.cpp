#include "app/shutdown.h"

#include "app/main_window.h"
#include "app/session.h"
#include "base/log.h"
#include "base/palette.h"
#include "base/settings.h"
#include "base/test_mode.h"
#include "broadcast/audio_stream.h"
#include "broadcast/camera.h"
#include "broadcast/live_video.h"
#include "broadcast/mix_recording.h"
#include "broadcast/speed_test.h"
#include "broadcast/video_feed.h"
#include "broadcast/video_record.h"
#include "broadcast/video_window.h"
#include "control/midi_devices.h"
#include "control/remote_server.h"
#include "control/timecode.h"
#include "engine/audio_input.h"
#include "engine/audio_output.h"
#include "engine/engine.h"
#include "engine/recorder.h"
#include "engine/stem_controls.h"
#include "library/ai_set.h"
#include "library/analysis_queue.h"
#include "library/cover_art.h"
#include "library/database.h"
#include "library/track_view.h"
#include "platform/window.h"
#include "settings/demo_tracks.h"
#include "settings/updates.h"
#include "ui/language.h"
#include "ui/modal.h"

namespace {
bool g_stoppedAndSaved = false;

void AskBeforeDroppingLibraryChanges() {
  WriteLog(L"Library: the changes couldn't be saved before closing ({}); asking", LibrarySaveFault.detail);
  ShowConfirmPrompt(L"Library changes not saved",
                    TranslateFilled(UiFormat(L"Veldmix couldn't save your library changes: {}.", LibrarySaveCause())) +
                        L"\n\nClosing now loses them. Make room on the disk or fix the cause, then try again.",
                    L"TRY AGAIN", L"CLOSE WITHOUT SAVING", CloseWhenSaved,
                    [] {
                      WriteLog(L"Library: closed without saving the changes");
                      DestroyMainWindow();
                    },
                    L"!", Pal.Yellow);
  Prompt.escapeCancels = true;  // a stray Esc must not throw the changes away
}
}  // namespace

void CloseWhenSaved() {
  // The frame's autosave may not have tried since the last change; a save that works now closes
  // without a word.
  if (TestMode || LibraryNoSave || !LibraryDirty || SaveDatabase()) {
    DestroyMainWindow();
    return;
  }
  AskBeforeDroppingLibraryChanges();
}

void StopAndSaveAll() {
  if (g_stoppedAndSaved) return;
  g_stoppedAndSaved = true;
  SpeedTest::Cancel();
  StopAiJobs();  // its transfer ends and the worker frees its job
  StopDemoTracks();
  StopUpdateWorkers();
  StopLiveStream();
  StopLiveVideo();
  StopControllers();  // the MIDI ports, the HID readers and both device watches
  StopVideoRecording();
  WaitForVideoRecording();  // the MP4's index is written before the program ends
  // The video window goes before the players it shows.
  CloseVideoWindow();
  StopVideoDecks();
  StopRemoteServer();
  StopTimecodeInput();
  if (!TestMode) SaveSession();
  StopCamera();
  EnableInput(Engine, false, {});
  CloseMixRecording();
  StopRecording();
  StopOutputs(Engine);
  if (!TestMode) SaveDatabase();
  SaveSettings();
  // After the saves, as it may wait for a model step; a separation left running would meet the
  // runtime's globals as they are destroyed after main.
  StopStemJobs();
  KeepAwake(false);
  WriteLog(L"Veldmix closed");
}

void SaveWhenDisplayLost() {
  if (g_stoppedAndSaved) return;
  g_stoppedAndSaved = true;
  WriteLog(L"The display went away; saving and closing");
  if (!TestMode) SaveSession();
  CloseMixRecording();
  StopRecording();
  if (!TestMode) SaveDatabase();
  SaveSettings();
  WriteLog(L"Veldmix closed");
}

void TeardownAfterLoop() {
  StopDemoTracks();
  StopRemoteServer();
  StopFolderScans();
  ++AnalysisGeneration;  // analysis workers stop after the file in hand
  StopStemJobs();
  StopArtLoader();
  StopLiveStream();
  StopLiveVideo();
  StopVideoRecording();
  WaitForVideoRecording();
  StopCamera();
  StopRecording();
  StopOutputs(Engine);
  StopUpdateWorkers();
  StopWindowing();
  RunAcceptedUpdate();
}
