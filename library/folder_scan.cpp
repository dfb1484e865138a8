#include "library/folder_scan.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <thread>
#include <unordered_set>
#include <utility>

#include "base/log.h"
#include "base/tags.h"
#include "base/text_parse.h"
#include "base/track_info.h"
#include "engine/audio_file.h"
#include "engine/deck_view.h"
#include "library/track_view.h"
#include "platform/files.h"
#include "platform/folder_walk.h"
#include "platform/media_probe.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform/ui_post.h"

namespace {

constexpr const wchar_t* kAudioExtensions[] = {L".mp3", L".wav", L".flac", L".m4a", L".aac", L".wma",
                                               L".mp4", L".aif", L".aiff", L".m4v", L".mov", L".mkv"};

// Where the tag store misses something of files FFmpeg writes: it cannot open .mkv or raw .aac,
// reads no tags from .mov nor AIFF's text chunks, and no comment from .wma. Their container is
// always read as well; other files only when the store gave no text or no length.
constexpr const wchar_t* kContainerTagExtensions[] = {L".aac", L".mkv", L".mov", L".aif", L".aiff", L".wma"};

bool HasExtension(const std::wstring& path, const wchar_t* const* begin, const wchar_t* const* end) {
  const std::wstring name = FileNameOf(path);
  const size_t dot = name.rfind(L'.');
  if (dot == std::wstring::npos) return false;
  const std::wstring ext = LowerText(name.substr(dot));
  return std::any_of(begin, end, [&](const wchar_t* known) { return ext == known; });
}

// The container reader fills whatever the tag store left empty.
void FillFromContainer(const std::wstring& path, TrackTags* tags) {
  MediaContainerTags c;
  if (!ReadContainerTags(path, &c)) return;
  const auto fill = [](std::wstring& mine, const std::wstring& theirs) {
    if (mine.empty()) mine = theirs;
  };
  fill(tags->title, c.title);
  fill(tags->artist, c.artist);
  fill(tags->album, c.album);
  fill(tags->genre, c.genre);
  fill(tags->comment, c.comment);
  if (tags->duration <= 0.0) tags->duration = c.duration;
}

class Batcher {
 public:
  explicit Batcher(uint32_t generation) : generation_(generation) {}
  void Add(LibraryFile file) {
    batch_.push_back(std::move(file));
    if (batch_.size() >= kScanBatchFiles) Flush();
  }
  void Flush() {
    if (batch_.empty()) return;
    auto heap = std::make_unique<std::vector<LibraryFile>>(std::move(batch_));
    batch_.clear();
    if (PostToUi(kScanBatchPost, generation_, heap.get())) heap.release();
  }

 private:
  uint32_t generation_;
  std::vector<LibraryFile> batch_;
};

}  // namespace

bool IsAudioFile(const std::wstring& path) {
  return HasExtension(path, std::begin(kAudioExtensions), std::end(kAudioExtensions));
}

LibraryFile ReadFileTags(const std::wstring& path, uint32_t index) {
  TrackTags tags;
  LibraryFile file;
  if (IsRegularFile(path)) {
    const bool opened = ReadTags(path, &tags);
    const bool anyText = !tags.title.empty() || !tags.artist.empty() || !tags.album.empty() ||
                         !tags.genre.empty() || !tags.comment.empty();
    if (!opened || !anyText || tags.duration <= 0.0 ||
        HasExtension(path, std::begin(kContainerTagExtensions), std::end(kContainerTagExtensions)))
      FillFromContainer(path, &tags);
    file.modified = FileModifiedTime(path);
  }
  const std::wstring name = FileNameOf(path);
  file.path = path;
  file.title = tags.title.empty() ? FileStem(path) : tags.title;
  file.artist = tags.artist;
  file.genre = tags.genre;
  file.duration = tags.duration;
  file.titleKey = LowerText(file.title);
  file.artistKey = LowerText(file.artist);
  file.searchText = file.titleKey + L' ' + file.artistKey + L' ' + LowerText(tags.album) + L' ' +
                    LowerText(tags.genre) + L' ' + LowerText(tags.comment) + L' ' + LowerText(name);
  file.index = index;
  file.pathHash = Fnv1aPathHash(PathKey(path));  // here, off the UI thread that sorts by records
  return file;
}

void FolderScanWorker(ScanJob* jobPointer) {
  const std::unique_ptr<ScanJob> job(jobPointer);
  const auto current = [&] { return ScanGeneration.load() == job->generation; };
  std::unordered_set<std::wstring> seen;
  uint32_t counter = 0;
  Batcher batcher(job->generation);

  for (const std::wstring& folder : job->folders) {
    if (!current() || counter >= kMaxScanFolderFiles) break;
    WalkHandlers handlers;
    handlers.visit = [&](const WalkEntry& entry) {
      if (!current() || counter >= kMaxScanFolderFiles) return false;
      // A killed tag write's temporary: the scan that finds it removes it once it is stale.
      if (IsWriteTemp(FileNameOf(entry.path))) RemoveStaleWriteTemp(entry.path);
      if (!entry.regularFile || !IsAudioFile(entry.path)) return true;
      if (!seen.insert(PathKey(entry.path)).second) return true;
      batcher.Add(ReadFileTags(entry.path, counter++));
      return true;
    };
    handlers.unreadable = [](const std::wstring& sub) { WriteLog(L"Scan: cannot open the folder {}", sub); };
    WalkFolder(folder, handlers, [](const std::wstring& path) { return IsAudioFile(path); });
  }
  for (const std::wstring& path : job->singleFiles) {
    if (!current()) break;
    batcher.Add(ReadFileTags(path, counter++));
  }
  batcher.Flush();
  PostToUi(kScanFinishedPost, job->generation, nullptr);
}

void LaunchFolderScan(std::vector<std::wstring> folders, std::vector<std::wstring> files, uint32_t generation) {
  auto job = std::make_unique<ScanJob>();
  job->folders = std::move(folders);
  job->singleFiles = std::move(files);
  job->generation = generation;
  std::thread(FolderScanWorker, job.release()).detach();
}
