#include "settings/updates.h"

#include <ctime>
#include <thread>

#include "base/log.h"
#include "base/palette.h"
#include "base/settings.h"
#include "base/status_message.h"
#include "broadcast/audio_stream.h"
#include "broadcast/live_video.h"
#include "engine/automix.h"
#include "engine/deck_snapshot.h"
#include "engine/engine.h"
#include "platform/clock.h"
#include "platform/folders.h"
#include "ui/language.h"
#include "ui/modal.h"

UpdateState Updates;

namespace {

constexpr uint64_t kAutoCheckEveryMs = 6ull * 60 * 60 * 1000;
constexpr int64_t kSameBuildSlackSeconds = 3600;  // a build published this soon after linking is this one
constexpr int kDownloadStartedMs = 4000;
constexpr int kCheckErrorMs = 5000;
constexpr int kUpToDateMs = 2800;
constexpr int kDownloadErrorMs = 6000;
constexpr int kAvailableWhileBusyMs = 7000;
constexpr int kWaitsMs = 5000;
constexpr int kStopTheMusicMs = 7000;

// The one update worker (at most one runs: both start from Idle only) and its stop flag.
std::thread g_worker;
std::atomic<bool> g_stopWorker{false};

void JoinWorker() {
  if (g_worker.joinable()) g_worker.join();
}

const wchar_t* const kStopTheMusic =
    L"The update is ready \u2014 installing closes Veldmix, so stop the music first (then Settings \u25B8 UPDATES)";
const wchar_t* const kWillWait = L"The update will wait in Settings \u25B8 UPDATES whenever you want it";

void AcceptInstall() {
  if (IsUpdateBusy()) {
    ShowStatus(kStopTheMusic, kStopTheMusicMs);
    return;
  }
  Settings.Pending = Updates.offered.stamp;
  Settings.PendingBuild = BuildStamp();
  SaveSettings();
  Updates.installerAtExit = Updates.installerPath;
  // The ordinary close: everything is saved before the package's folder is shown.
  if (CloseMainWindowHook) QueueDeferredAction(CloseMainWindowHook);
}

}  // namespace

void (*CloseMainWindowHook)() = nullptr;

bool IsUpdateBusy() {
  if (Automix.on || Engine.recording.load()) return true;
  if (LiveStreamState() != kStreamOff || LiveVideoState() != kStreamOff) return true;
  if (Modal.open) return true;
  for (const DeckSnapshot& shot : DeckSnapshots)
    if (shot.playing) return true;
  return false;
}

void StartUpdateCheck(bool asked) {
  if (Updates.phase != kUpdateIdle) return;
  JoinWorker();  // the last worker has posted its result; it is ending
  Updates.phase = kUpdateChecking;
  Updates.asked = asked;
  Updates.statusText = UiFormat(L"{}{}\u2026", UiText(L"Checking "), UpdateSiteHost());
  Updates.nextAutoCheck = MonotonicMs() + kAutoCheckEveryMs;
  g_stopWorker.store(false);
  g_worker = std::thread(UpdateCheckThread, &g_stopWorker);
}

void StartUpdateDownload() {
  if (Updates.phase != kUpdateIdle || Updates.offered.stamp == 0) return;
  JoinWorker();
  Updates.phase = kUpdateDownloading;
  Updates.progress = std::make_shared<std::atomic<float>>(0.0f);
  Updates.cancel = std::make_shared<std::atomic<bool>>(false);
  Updates.statusText = UiFormat(L"{}{}\u2026", UiText(L"Downloading "), Updates.offered.file);
  ShowStatus(L"Downloading the update \u2014 Settings \u25B8 UPDATES shows how far it's got", kDownloadStartedMs);
  auto job = std::make_unique<UpdateDownloadJob>();
  job->info = Updates.offered;
  job->progress = Updates.progress;
  job->cancel = Updates.cancel;
  g_stopWorker.store(false);
  g_worker = std::thread(UpdateDownloadThread, std::move(job), &g_stopWorker);
}

void OnUpdateResult(UpdateResult* result) {
  std::unique_ptr<UpdateResult> owned(result);
  if (!owned) return;
  if (owned->isDownload) {
    Updates.progress.reset();
    Updates.cancel.reset();
    if (!owned->installerPath.empty()) {
      Updates.phase = kUpdateReady;
      Updates.installerPath = owned->installerPath;
      Updates.statusText = L"The update has downloaded and is ready to install";
      InstallUpdate();
    } else {
      Updates.phase = kUpdateIdle;
      Updates.statusText = owned->downloadError;
      ShowStatus(UiFormat(L"{}{}", UiText(L"Update: "), owned->downloadError), kDownloadErrorMs);
    }
    return;
  }
  const UpdateInfo& info = owned->info;
  Updates.phase = kUpdateIdle;
  Updates.lastCheck = static_cast<int64_t>(std::time(nullptr));
  Updates.lastCheckFailed = !info.error.empty();
  if (Updates.lastCheckFailed) {
    Updates.statusText = info.error;
    if (Updates.asked) ShowStatus(info.error, kCheckErrorMs);
    return;
  }
  if (info.stamp <= static_cast<int64_t>(BuildStamp()) + kSameBuildSlackSeconds || info.stamp <= Settings.Installed) {
    Updates.offered = UpdateInfo{};
    Updates.statusText = UiFormat(L"Veldmix is up to date (checked {})", StampText(Updates.lastCheck));
    if (Updates.asked) ShowStatus(L"Veldmix is up to date", kUpToDateMs);
    return;
  }
  WriteLog(L"Updates: {}, put on the site {}, is newer than this copy", info.file, FormatStamp(info.stamp));
  Updates.offered = info;
  Updates.statusText = UiFormat(L"{}{} {}", UiText(L"Put on "), UpdateSiteHost(), StampText(info.stamp));
  if (Updates.asked || info.stamp != Settings.Dismissed) OfferUpdate();
}

void OfferUpdate() {
  if (IsUpdateBusy()) {
    if (Updates.offered.stamp != Updates.announcedStamp || Updates.asked)
      ShowStatus(L"A Veldmix update is available \u2014 get it from Settings \u25B8 UPDATES when you've finished playing",
                 kAvailableWhileBusyMs);
    Updates.announcedStamp = Updates.offered.stamp;
    return;
  }
  AskToDownload(Updates.offered.stamp, static_cast<int64_t>(BuildStamp()), [] { StartUpdateDownload(); }, [] {
    Settings.Dismissed = Updates.offered.stamp;
    SaveSettings();
    ShowStatus(kWillWait, kWaitsMs);
  });
}

void AskToDownload(int64_t published, int64_t built, std::function<void()> yes, std::function<void()> no) {
  ShowConfirmPrompt(
      Translate(L"Update available"),
      TranslateFormat(L"There's a new version of Veldmix on {}.\n\nPublished: {}\nYou have: 1.0.10 ({})\n\nDownload "
                      L"it now? Nothing is installed until you say so.",
                      UpdateSiteHost(), StampText(published), StampText(built)),
      Translate(L"DOWNLOAD"), Translate(L"NOT NOW"), std::move(yes), std::move(no), L"\u2193", Pal.Green);
}

void AskToInstall(std::function<void()> yes, std::function<void()> no) {
  ShowConfirmPrompt(Translate(L"Ready to install"),
                    Translate(L"The update has downloaded.\n\nVeldmix will close and show you the update's folder "
                              L"to install it from. Everything is saved first."),
                    Translate(L"INSTALL NOW"), Translate(L"LATER"), std::move(yes), std::move(no), L"\u2713",
                    Pal.Green);
}

void InstallUpdate() {
  if (IsUpdateBusy()) {
    ShowStatus(kStopTheMusic, kStopTheMusicMs);
    return;
  }
  AskToInstall(AcceptInstall, [] { ShowStatus(kWillWait, kWaitsMs); });
}

void UpdateButtonAction() {
  switch (Updates.phase) {
    case kUpdateChecking:
      return;
    case kUpdateDownloading:
      if (Updates.cancel) Updates.cancel->store(true);
      return;
    case kUpdateReady:
      InstallUpdate();
      return;
    case kUpdateIdle:
      if (Updates.offered.stamp != 0) StartUpdateDownload();
      else StartUpdateCheck(true);
      return;
  }
}

void StopUpdateWorkers() {
  g_stopWorker.store(true);
  if (Updates.cancel) Updates.cancel->store(true);
  JoinWorker();
}

void RunAcceptedUpdate() {
  if (Updates.installerAtExit.empty()) return;
  RunUpdateInstaller(Updates.installerAtExit, JoinPath(ProgramFolder(), L"veldmix"));
}
