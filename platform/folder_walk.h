#pragma once
// Recursive folder walks for the library: depth first, names in byte order inside each folder,
// never through a link to a folder (no loops, nothing outside the tree).
#include <cstdint>
#include <functional>
#include <string>

// One entry of a walk that is not a folder.
struct WalkEntry {
  std::wstring path;      // the folder's path joined with the entry's name (PathFromBytes)
  bool regularFile;       // a regular file, links followed (a dead link or a FIFO is not)
  int64_t modified;       // last-write time, links followed, in 100-ns units since 1601-01-01; 0 unknown
};

struct WalkHandlers {
  // Called for each entry that is not a folder; return false to end the whole walk.
  std::function<bool(const WalkEntry& entry)> visit;
  // Called for each subfolder that cannot be opened; the walk goes on with its siblings.
  std::function<void(const std::wstring& folder)> unreadable;
};

// Walks the tree under root. A root that cannot be opened gives nothing (and one unreadable call).
// The stat fields are filled only when wantStat(path) returns true (or wantStat is empty), so a
// walk that keeps few entries stats few files.
void WalkFolder(const std::wstring& root, const WalkHandlers& handlers,
                const std::function<bool(const std::wstring& path)>& wantStat = {});

// The file's last-write time (links followed) in 100-ns units since 1601-01-01; 0 when unknown.
int64_t FileModifiedTime(const std::wstring& path);
// True when the path (links followed) is a regular file. FIFOs, devices, folders and dead links
// are not, so opening one for reading can never block.
bool IsRegularFile(const std::wstring& path);

enum class PathState { Exists, NotFound, Unknown };
// Whether anything exists at the path (links followed). NotFound only when the system says so for
// certain (ENOENT, ENOTDIR); any other failure (permission, I/O) is Unknown.
PathState ProbePath(const std::wstring& path);
