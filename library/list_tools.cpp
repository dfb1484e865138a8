#include "library/list_tools.h"

#include <cerrno>
#include <random>
#include <unordered_set>
#include <utility>

#include "base/files.h"
#include "base/log.h"
#include "base/status_message.h"
#include "platform/files.h"
#include "platform/folder_walk.h"
#include "platform/paths.h"

void ShufflePaths(std::vector<std::wstring>& paths, uint32_t seed) {
  std::mt19937 random(seed);
  for (size_t k = 1; k < paths.size(); ++k) {
    std::uniform_int_distribution<size_t> pick(0, k);
    const size_t j = pick(random);
    if (j != k) std::swap(paths[j], paths[k]);
  }
}

size_t RemoveDuplicatePaths(std::vector<std::wstring>& paths) {
  std::unordered_set<std::wstring> seen;
  const size_t before = paths.size();
  std::erase_if(paths, [&](const std::wstring& path) { return !seen.insert(PathKey(path)).second; });
  return before - paths.size();
}

size_t RemoveMissingPaths(std::vector<std::wstring>& paths) {
  const size_t before = paths.size();
  std::erase_if(paths, [](const std::wstring& path) { return ProbePath(path) == PathState::NotFound; });
  return before - paths.size();
}

bool RemovePathAt(std::vector<std::wstring>& paths, size_t position, const std::wstring& path) {
  if (position >= paths.size() || paths[position] != path) return false;
  paths.erase(paths.begin() + static_cast<std::ptrdiff_t>(position));
  return true;
}

std::vector<std::wstring> RegularFilesOnly(const std::vector<std::wstring>& paths) {
  std::vector<std::wstring> files;
  for (const std::wstring& path : paths)
    if (IsRegularFile(path)) files.push_back(path);
  return files;
}

int DeleteUserList(const std::wstring& name) {
  for (size_t i = kBuiltInListCount; i < TrackLists.size(); ++i) {
    if (TrackLists[i].name != name) continue;
    // A list whose name maps to the same file name owns that file as much as this one.
    const std::wstring file = ListFileName(name);
    if (ListSharingFile(name) < 0 && !DeleteFileAt(file) && errno != ENOENT) {
      // Kept: a list whose file stays would come back at the next start.
      const int err = errno;
      const std::wstring error = SysText("delete", err);
      WriteLog(L"Library: couldn't delete {} ({})", file, error);
      NoteFailedWrite(file, error);
      ShowStatus(UiFormat(L"Couldn't delete {}: {}", ListFileLeaf(name), UiText(WriteCauseText(err))));
      return -1;
    }
    TrackLists.erase(TrackLists.begin() + static_cast<std::ptrdiff_t>(i));
    return static_cast<int>(i);
  }
  return -1;
}
