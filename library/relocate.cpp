#include "library/relocate.h"

#include <memory>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "base/log.h"
#include "base/status_message.h"
#include "base/test_mode.h"
#include "base/text_parse.h"
#include "base/track_info.h"
#include "engine/deck_view.h"
#include "library/database.h"
#include "library/folder_scan.h"
#include "library/track_lists.h"
#include "library/track_view.h"
#include "platform/folder_walk.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform/ui_post.h"

namespace {

// The name of the folder that holds the path ("" at the root).
std::wstring ParentNameOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L'/');
  if (slash == std::wstring::npos || slash == 0) return {};
  return FileNameOf(path.substr(0, slash));
}

void RelocateWorker(RelocateJob* jobPointer) {
  const std::unique_ptr<RelocateJob> job(jobPointer);
  auto result = std::make_unique<RelocateResult>(FindRelocations(*job));
  if (PostToUi(kRelocatePost, 0, result.get())) result.release();
}

}  // namespace

std::vector<std::wstring> RelocateCandidates() {
  std::vector<std::wstring> out;
  std::unordered_set<std::wstring> seen;
  const auto take = [&](const std::wstring& path) {
    if (seen.insert(PathKey(path)).second) out.push_back(path);
  };
  for (const TrackList& list : TrackLists)
    for (const std::wstring& path : list.paths) take(path);
  for (const auto& [key, record] : TrackLibrary) take(key);
  return out;
}

RelocateResult FindRelocations(const RelocateJob& job) {
  RelocateResult result;
  std::vector<std::wstring> missing;
  for (const std::wstring& path : job.paths)
    if (ProbePath(path) == PathState::NotFound) missing.push_back(path);
  result.missing = static_cast<uint32_t>(missing.size());
  if (missing.empty()) return result;

  std::unordered_map<std::wstring, std::vector<std::wstring>> byName;
  WalkHandlers handlers;
  handlers.visit = [&](const WalkEntry& entry) {
    if (entry.regularFile && IsAudioFile(entry.path)) byName[PathKey(FileNameOf(entry.path))].push_back(entry.path);
    return true;
  };
  WalkFolder(job.folder, handlers, [](const std::wstring& path) { return IsAudioFile(path); });

  // First the match of each missing path, then a file matched twice goes to neither.
  std::vector<std::pair<std::wstring, std::wstring>> matches;
  std::unordered_map<std::wstring, int> claims;
  for (const std::wstring& path : missing) {
    const auto found = byName.find(PathKey(FileNameOf(path)));
    if (found == byName.end()) continue;
    const std::vector<std::wstring>& files = found->second;
    const std::wstring* pick = files.size() == 1 ? &files.front() : nullptr;
    if (files.size() > 1) {
      const std::wstring parent = PathKey(ParentNameOf(path));
      int same = 0;
      for (const std::wstring& file : files)
        if (PathKey(ParentNameOf(file)) == parent) {
          ++same;
          pick = &file;
        }
      if (same != 1) {
        ++result.ambiguous;
        continue;
      }
    }
    matches.emplace_back(path, *pick);
    ++claims[*pick];
  }
  for (auto& [oldPath, newPath] : matches) {
    if (claims[newPath] > 1) ++result.ambiguous;
    else result.found.emplace_back(std::move(oldPath), std::move(newPath));
  }
  return result;
}

void StartRelocate(const std::wstring& folder) {
  auto job = std::make_unique<RelocateJob>();
  job->folder = folder;
  job->paths = RelocateCandidates();
  ShowStatus(L"Looking for moved files…");
  std::thread(RelocateWorker, job.release()).detach();
}

void ApplyRelocate(RelocateResult* resultPointer) {
  const std::unique_ptr<RelocateResult> result(resultPointer);
  if (!result) return;
  if (result->missing == 0) {
    ShowStatus(L"No missing files — everything is where it should be");
    return;
  }
  std::unordered_map<std::wstring, std::wstring> moved;
  for (const auto& [oldPath, newPath] : result->found) {
    RelocateTrack(oldPath, newPath);
    moved[PathKey(oldPath)] = newPath;
  }
  size_t listsNotSaved = 0;
  for (size_t i = 0; i < TrackLists.size(); ++i) {
    TrackList& list = TrackLists[i];
    bool changed = false;
    for (std::wstring& path : list.paths)
      if (const auto to = moved.find(PathKey(path)); to != moved.end()) {
        path = to->second;
        changed = true;
      }
    if (changed && !TestMode && !SaveList(list)) ++listsNotSaved;
    if (ListViewHooks.refreshList) ListViewHooks.refreshList(static_cast<int>(i));
  }
  // The new paths live in the database: a failed save is said here, not a plain "Found".
  const bool databaseFailed = !TestMode && !SaveDatabase() && LibrarySaveFault.failed;
  // A moved record's own tags and values now belong to a shown file.
  if (!result->found.empty()) RebuildView();
  const size_t found = result->found.size();
  const bool one = result->missing == 1;
  if (databaseFailed)
    ShowStatus(one ? UiFormat(L"Found {} of 1 missing file, but {} couldn't be saved: {}", found,
                              FileNameOf(DatabasePath()), LibrarySaveCause())
                   : UiFormat(L"Found {} of {} missing files, but {} couldn't be saved: {}", found, result->missing,
                              FileNameOf(DatabasePath()), LibrarySaveCause()));
  else if (listsNotSaved > 0)
    ShowStatus(one ? UiFormat(L"Found {} of 1 missing file, but {} couldn't be saved", found,
                              CountText(listsNotSaved, L"1 list", L"{} lists"))
                   : UiFormat(L"Found {} of {} missing files, but {} couldn't be saved", found, result->missing,
                              CountText(listsNotSaved, L"1 list", L"{} lists")));
  else if (one && result->ambiguous == 1)
    ShowStatus(L"The missing file had several matches and was left alone");
  else if (result->ambiguous == 1)
    ShowStatus(UiFormat(L"Found {} of {} missing files (1 had several matches and was left alone)", found,
                        result->missing));
  else if (result->ambiguous > 0)
    ShowStatus(UiFormat(L"Found {} of {} missing files ({} had several matches and were left alone)", found,
                        result->missing, result->ambiguous));
  else if (one)
    ShowStatus(UiFormat(L"Found {} of 1 missing file", found));
  else
    ShowStatus(UiFormat(L"Found {} of {} missing files", found, result->missing));
}
