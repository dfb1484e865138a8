// Library commands over the program's data folder, running the real workers and applying their
// completions on this thread as the main window does: scan, analyse-view, mytags, relocate.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/load_settings.h"
#include "base/log.h"
#include "base/musical_keys.h"
#include "base/settings.h"
#include "base/status_message.h"
#include "base/track_info.h"
#include "engine/deck_view.h"
#include "library/analysis_queue.h"
#include "library/database.h"
#include "library/folder_scan.h"
#include "library/relocate.h"
#include "library/tag_editing.h"
#include "library/track_lists.h"
#include "library/track_view.h"
#include "platform/text.h"
#include "platform/ui_post.h"
#include "tools/veldmix-tool/commands.h"
#include "tools/veldmix-tool/library_tool.h"

namespace {

constexpr auto kDrainPoll = std::chrono::milliseconds(2);

constexpr const char* kScanUsage = "usage: veldmix-tool scan [FOLDER...] [--list NAME]\n";

// FOLDER... [--list NAME] into a scan job; false on a bad argument (printed).
bool ParseViewArgs(const std::vector<std::string>& args, const char* usage, ScanJob* job) {
  std::optional<std::wstring> list;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--list") {
      if (i + 1 >= args.size() || list) {
        std::fputs(usage, stderr);
        return false;
      }
      list = Utf8ToWide(args[++i]);
    } else if (args[i].empty() || args[i].starts_with("-")) {
      std::fputs(usage, stderr);
      return false;
    } else {
      job->folders.push_back(PathFromBytes(args[i]));
    }
  }
  if (list) {
    TrackLists = LoadLists();
    const int index = ListNamed(*list);
    if (index < 0) {
      std::fprintf(stderr, "veldmix-tool: no list named \"%s\"\n%s", WideToUtf8(*list).c_str(), usage);
      return false;
    }
    job->singleFiles = TrackLists[static_cast<size_t>(index)].paths;
  }
  return true;
}

// scan [FOLDER...] [--list NAME]: each file in delivery order, tab-separated: index, duration,
// modified, title, artist, genre, path.
int RunScanCommand(const std::vector<std::string>& args) {
  ScanJob job;
  if (!ParseViewArgs(args, kScanUsage, &job)) return 2;
  StartLog(L"scan");
  OpenUiPosts(nullptr);
  StartFolderScan(job.folders, job.singleFiles);
  DrainScan();
  for (const LibraryFile& f : ViewItems)
    std::printf("%u\t%.3f\t%lld\t%s\t%s\t%s\t%s\n", f.index, f.duration, static_cast<long long>(f.modified),
                WideToUtf8(f.title).c_str(), WideToUtf8(f.artist).c_str(), WideToUtf8(f.genre).c_str(),
                PathToBytes(f.path).c_str());
  PrintStatus();
  return 0;
}

constexpr const char* kAnalyseViewUsage = "usage: veldmix-tool analyse-view\n";

// analyse-view: analyses the unanalysed files of the start view on the real workers, applies
// each result as the window does, saves; prints each view file's record: BPM, key, loudness,
// whether analysed, path.
int RunAnalyseViewCommand(const std::vector<std::string>& args) {
  if (!args.empty()) {
    std::fputs(kAnalyseViewUsage, stderr);
    return 2;
  }
  StartLog(L"analyse-view");
  LoadSettings();
  LoadDatabase();
  OpenUiPosts(nullptr);
  ShowFolder();
  DrainScan();
  std::vector<std::wstring> paths;
  for (const int i : ViewOrder) paths.push_back(ViewItems[static_cast<size_t>(i)].path);
  ToggleAnalysis();
  while (Analysing) {
    DrainUiPosts([](const UiPost& post) {
      if (post.message == kAnalysedPost) ApplyAnalysisResult(static_cast<uint32_t>(post.wparam),
                                                             static_cast<AnalysisResult*>(post.lparam));
      else if (post.message == kAnalysisFinishedPost) FinishAnalysis(static_cast<uint32_t>(post.wparam));
    });
    if (Analysing) std::this_thread::sleep_for(kDrainPoll);
  }
  CloseUiPosts([](const UiPost& post) {
    if (post.message == kAnalysedPost) delete static_cast<AnalysisResult*>(post.lparam);
  });
  for (const std::wstring& path : paths) {
    const TrackInfo* r = FindTrackInfo(path);
    const TrackInfo none;
    const TrackInfo& record = r ? *r : none;
    std::printf("%.2f\t%s\t%.2f\t%s\t%s\n", record.bpm, WideToUtf8(KeyName(record.key, false)).c_str(),
                record.loudness, record.analyzed ? "analysed" : "unanalysed", PathToBytes(path).c_str());
  }
  PrintStatus();
  return 0;
}

constexpr const char* kMyTagsUsage =
    "usage: veldmix-tool mytags set FILE TAGS | mytags toggle FILE TAG | mytags all\n";

// mytags set FILE TAGS | toggle FILE TAG: stores the file's own tags and prints them as stored;
// mytags all: every distinct own tag, one a line.
int RunMyTagsCommand(const std::vector<std::string>& args) {
  const bool edit = args.size() == 3 && (args[0] == "set" || args[0] == "toggle");
  if (!edit && !(args.size() == 1 && args[0] == "all")) {
    std::fputs(kMyTagsUsage, stderr);
    return 2;
  }
  StartLog(L"mytags");
  LoadDatabase();
  if (args[0] == "all") {
    for (const std::wstring& tag : AllMyTags()) std::printf("%s\n", WideToUtf8(tag).c_str());
    return 0;
  }
  const std::wstring path = PathFromBytes(args[1]);
  if (args[0] == "set") StoreMyTags(path, Utf8ToWide(args[2]));
  else ToggleMyTag(path, Utf8ToWide(args[2]));
  if (!SaveDatabase()) {
    std::fputs("veldmix-tool mytags: the library could not be saved\n", stderr);
    return 1;
  }
  std::printf("%s\n", WideToUtf8(FindTrackInfo(path)->myTags).c_str());
  return 0;
}

constexpr const char* kRelocateUsage = "usage: veldmix-tool relocate DIR\n";

// relocate DIR: looks for the library's and lists' missing files in DIR on the real worker and
// applies what it found; prints each move (old, new) and the status line.
int RunRelocateCommand(const std::vector<std::string>& args) {
  if (args.size() != 1 || args[0].empty() || args[0].starts_with("-")) {
    std::fputs(kRelocateUsage, stderr);
    return 2;
  }
  StartLog(L"relocate");
  LoadDatabase();
  TrackLists = LoadLists();
  OpenUiPosts(nullptr);
  StartRelocate(PathFromBytes(args[0]));
  bool done = false;
  while (!done) {
    DrainUiPosts([&](const UiPost& post) {
      if (post.message != kRelocatePost) return;
      auto* result = static_cast<RelocateResult*>(post.lparam);
      for (const auto& [from, to] : result->found)
        std::printf("%s\t%s\n", PathToBytes(from).c_str(), PathToBytes(to).c_str());
      ApplyRelocate(result);
      done = true;
    });
    if (!done) std::this_thread::sleep_for(kDrainPoll);
  }
  CloseUiPosts([](const UiPost& post) {
    if (post.message == kRelocatePost) delete static_cast<RelocateResult*>(post.lparam);
  });
  PrintStatus();
  return 0;
}

}  // namespace

const ToolCommand kLibraryScanCommands[] = {
    {"scan", "[FOLDER...] [--list NAME]", "list the audio files a scan delivers, with their tags", RunScanCommand},
    {"analyse-view", "", "analyse the unanalysed files of the start view", RunAnalyseViewCommand},
    {"mytags", "set FILE TAGS|toggle FILE TAG|all", "edit or list the user's own tags", RunMyTagsCommand},
    {"relocate", "DIR", "find the library's moved files in a folder tree", RunRelocateCommand},
};
const int kLibraryScanCommandCount = static_cast<int>(std::size(kLibraryScanCommands));
