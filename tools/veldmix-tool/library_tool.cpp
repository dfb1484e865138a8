#include "tools/veldmix-tool/library_tool.h"

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "app/load_settings.h"
#include "base/log.h"
#include "base/settings.h"
#include "base/status_message.h"
#include "base/text_parse.h"
#include "library/crates.h"
#include "library/database.h"
#include "library/library_file.h"
#include "library/track_lists.h"
#include "library/track_view.h"
#include "platform/text.h"
#include "platform/ui_post.h"

namespace {
constexpr auto kDrainPoll = std::chrono::milliseconds(2);
}  // namespace

int ListNamed(const std::wstring& name) {
  for (size_t i = 0; i < TrackLists.size(); ++i)
    if (TrackLists[i].name == name) return static_cast<int>(i);
  for (size_t i = 0; i < TrackLists.size(); ++i)
    if (LowerText(TrackLists[i].name) == LowerText(name)) return static_cast<int>(i);
  return -1;
}

void DrainScan() {
  while (Scanning) {
    DrainUiPosts([](const UiPost& post) {
      if (post.message == kScanBatchPost)
        ApplyScanBatch(static_cast<uint32_t>(post.wparam), static_cast<std::vector<LibraryFile>*>(post.lparam));
      else if (post.message == kScanFinishedPost)
        FinishFolderScan(static_cast<uint32_t>(post.wparam));
    });
    if (Scanning) std::this_thread::sleep_for(kDrainPoll);
  }
}

void PrintStatus() {
  if (!Status.text.empty()) std::printf("%s\n", WideToUtf8(Status.text).c_str());
}

// The library as the program has it at start: settings (music folders), records, lists, crates.
void LoadLibrary(const wchar_t* command) {
  StartLog(command);
  LoadSettings();
  LoadDatabase();
  TrackLists = LoadLists();
  SmartCrates = LoadCrates();
}

// Opens the post queue for the scan of the view about to be shown.
void OpenScanPosts() { OpenUiPosts(nullptr); }

// Lists shown by the commands' results start no further scan: the tool prints the lists
// themselves, and no worker may outlive the process's exit.
void CloseScanPosts() {
  StopFolderScans();
  StartScanWorkerHook = nullptr;
  CloseUiPosts([](const UiPost& post) {
    if (post.message == kScanBatchPost) delete static_cast<std::vector<LibraryFile>*>(post.lparam);
  });
}

// A folder view of DIR that leaves the settings' music folders alone.
void ShowFolderOnly(const std::wstring& folder) {
  ViewKind = kViewFolder;
  CrateSearch.clear();
  if (SortColumn < 0) SortColumn = kSortTitle;
  StartFolderScan({folder}, {});
}

void PrintList(const TrackList& list) {
  for (const std::wstring& path : list.paths) std::printf("%s\n", PathToBytes(path).c_str());
}

void ScanFolderView(const std::wstring& folder, const std::wstring& search) {
  SearchText = search;
  OpenScanPosts();
  ShowFolderOnly(folder);
  DrainScan();
  CloseScanPosts();
}

// The list the view shows after a command wrote one, or nothing.
void PrintShownList() {
  if (ViewKind == kViewList && ViewIndex >= 0 && ViewIndex < static_cast<int>(TrackLists.size()))
    PrintList(TrackLists[static_cast<size_t>(ViewIndex)]);
}
