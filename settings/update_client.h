#pragma once
// The update service client: asks the maker's site for the newest build, downloads and checks
// the offered package, and knows this build's stamp. The decisions (when to check, what to offer,
// when to install) are the update flow's (settings/updates.h). Workers block on the network;
// nothing here touches UI state.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "base/ui_text.h"

inline constexpr int kUpdatePost = 18;  // lparam: a heap UpdateResult, OnUpdateResult frees it

// What the service says of the newest build. Known when stamp is not 0.
struct UpdateInfo {
  std::wstring file;    // the package's file name
  std::wstring url;     // its path on the site, directly under "/downloads/veldmix/"
  int64_t stamp = 0;    // publication time, seconds since 1970 UTC
  int64_t size = 0;     // bytes
  std::wstring sha256;  // 64 lower-case hex digits
  UiText error;         // empty when the answer was usable, else the message for the user
};

// What a worker hands to the UI thread.
struct UpdateResult {
  bool isDownload = false;
  UpdateInfo info;
  std::wstring installerPath;  // the verified package; empty unless a download succeeded
  UiText downloadError;
};

// What the download worker owns.
struct UpdateDownloadJob {
  UpdateInfo info;
  std::shared_ptr<std::atomic<float>> progress;
  std::shared_ptr<std::atomic<bool>> cancel;
};

// The site's https address: VELDMIX_UPDATE_SITE when set (a test's own server; anything but an
// https address there is refused when used), else the maker's site.
std::wstring UpdateSiteUrl();
// The host name of UpdateSiteUrl(), as the texts show it.
std::wstring UpdateSiteHost();
// "Veldmix/1.0.10 (<site address>)".
std::string UpdateUserAgent();

// Asks the site for the newest build; every failure is a text in the result's error. Bounded in
// time as a whole. Blocks. `stop` (may be null) ends the request early.
UpdateInfo FetchLatestUpdate(const std::wstring& siteUrl, const std::atomic<bool>* stop = nullptr);
// 1 to 120 characters of letters, digits and " ._-()+", not starting with "." and without "..",
// ending in ".msi" or ".exe" (any case).
bool IsUsableInstallerName(const std::wstring& name);
// The per-user download folder: $XDG_CACHE_HOME/Veldmix/Update (not created here).
std::wstring UpdateDownloadFolder();
// Downloads info.url into the download folder as info.file, checking size, SHA-256 and the
// package's first bytes; the path of the verified file, or empty with *error set and no file left.
// Publishes progress (0..1) and stops when *cancel (or *stop) is set. Blocks.
std::wstring DownloadUpdate(const UpdateInfo& info, std::atomic<float>& progress, const std::atomic<bool>& cancel,
                            UiText* error, const std::wstring& siteUrl, const std::atomic<bool>* stop = nullptr);

// The running program's link time in seconds since 1970 (fixed when the program was linked).
uint32_t BuildStamp();
// The stamp as local "5 Mar 2026, 14:07", the month a text of its own so that a screen shows it in
// the UI language (the rest keeps its form in every language); empty when it cannot be converted.
UiText StampText(int64_t seconds);
// StampText in English, for the log.
std::wstring FormatStamp(int64_t seconds);

// The check and download workers: each posts one UpdateResult (kUpdatePost) and frees it itself
// when the post fails. `stop` ends the transfer early (the program is closing).
void UpdateCheckThread(const std::atomic<bool>* stop);
void UpdateDownloadThread(std::unique_ptr<UpdateDownloadJob> job, const std::atomic<bool>* stop);

// After the program has closed: shows the verified package's folder with the desktop's opener so
// the user installs it (the program never runs a download). True when the opener started.
bool RunUpdateInstaller(const std::wstring& installer, const std::wstring& program);
