#pragma once
// The update flow: when the program looks for an update, what it tells the user, when it
// downloads, and how an accepted update is handed over (after the program has closed, the
// desktop shows the verified package's folder; the program never runs a download). The state is
// the UI thread's; the workers of settings/update_client.h reach it only through kUpdatePost.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/ui_text.h"
#include "settings/update_client.h"

enum UpdatePhase : int32_t {
  kUpdateIdle = 0,
  kUpdateChecking = 1,
  kUpdateDownloading = 2,
  kUpdateReady = 3,
};

struct UpdateState {
  UpdatePhase phase = kUpdateIdle;
  bool asked = false;           // the check under way (or the last one) was asked for
  UiText statusText;            // the one line the Updates page shows
  UpdateInfo offered;           // the newer build found; known when offered.stamp != 0
  std::wstring installerPath;   // the verified package of a finished download
  std::wstring installerAtExit; // shown after the program has closed; empty: none
  int64_t lastCheck = 0;        // time() when the last check result arrived; 0 none yet
  bool lastCheckFailed = false;
  std::shared_ptr<std::atomic<float>> progress;  // only while a download runs
  std::shared_ptr<std::atomic<bool>> cancel;     // only while a download runs
  uint64_t nextAutoCheck = 0;   // MonotonicMs() when the next automatic check is due
  int64_t announcedStamp = 0;   // the stamp last announced while the user was busy
};
extern UpdateState Updates;

// Closes the main window the ordinary way (everything saved) once the installer is chosen. The
// shell sets it.
extern void (*CloseMainWindowHook)();

// Automix, recording, streaming, live video, a modal form, or a playing deck (per the snapshots).
bool IsUpdateBusy();
// From Idle only: starts the check worker; the next automatic check is due 6 hours on.
void StartUpdateCheck(bool asked);
// From Idle with an update known: starts the download worker with fresh progress and cancel.
void StartUpdateDownload();
// Applies a worker's result and frees it.
void OnUpdateResult(UpdateResult* result);
// Tells the user of the offered update: a question, or the status line while they are busy.
void OfferUpdate();
// The flow's two questions in the UI language, answered by the given actions (the feature run's
// pictures pass none): "Update available" for an update put on the site at `published` (Unix
// seconds) to this copy built at `built`, and "Ready to install".
void AskToDownload(int64_t published, int64_t built, std::function<void()> yes, std::function<void()> no);
void AskToInstall(std::function<void()> yes, std::function<void()> no);
// Asks whether to close now so the downloaded update can be installed.
void InstallUpdate();
// The Updates page's one button, by phase: nothing, cancel, install, download or check.
void UpdateButtonAction();
// Stops a running check or download and waits for its worker. Any time on the UI thread; the
// last call comes at shutdown.
void StopUpdateWorkers();
// After the program has closed: hands an accepted update to the desktop (RunUpdateInstaller).
void RunAcceptedUpdate();
