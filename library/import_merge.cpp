#include "library/import_merge.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <unordered_map>
#include <vector>

#include "base/cue_colours.h"
#include "base/files.h"
#include "base/log.h"
#include "base/status_message.h"
#include "base/test_mode.h"
#include "base/text_parse.h"
#include "base/track_info.h"
#include "library/database.h"
#include "library/track_lists.h"
#include "library/track_view.h"
#include "platform/text.h"

std::wstring LastImportReport;

namespace {

constexpr double kSameMemoryCueSeconds = 0.05;
// "Name (2)" ... "Name (kMaxNameSuffix)" are tried for a list whose file another list owns.
constexpr int kMaxNameSuffix = 999;

constexpr const wchar_t* kImportPrefixes[kImportSourceCount] = {L"RB \u00b7 ", L"iTunes \u00b7 ", L"Serato \u00b7 ",
                                                                L"Traktor \u00b7 ", L"VDJ \u00b7 "};

void MergeTrack(const ImportedTrack& t) {
  TrackInfo& r = TrackInfoFor(t.path);
  if (t.rating >= 0 && r.rating == 0) r.rating = std::min(t.rating, 5);
  if (t.color > 0 && r.color == 0 && t.color < kTrackColourCount) r.color = t.color;
  if (t.bpm > 0.0) {
    r.bpm = t.bpm;
    r.firstBeat = t.firstBeat;
    r.tempoMarkers = t.tempoMarkers;
    if (r.tempoMarkers.size() > kMaxTempoMarkers) r.tempoMarkers.resize(kMaxTempoMarkers);
    r.gridImported = true;
  }
  if (t.key >= 0) r.key = t.key;
  if (t.cue >= 0.0 && !(r.cue > 0.0)) r.cue = t.cue;
  for (size_t slot = 0; slot < static_cast<size_t>(kHotCues); ++slot) {
    if (!(r.hotCueStart[slot] < 0.0) || !(t.hotCueStart[slot] >= 0.0)) continue;
    r.hotCueStart[slot] = t.hotCueStart[slot];
    r.hotCueEnd[slot] = t.hotCueEnd[slot];
    r.hotCueName[slot] = t.hotCueName[slot];
    r.hotCueColor[slot] = t.hotCueColor[slot] < 0 ? -1 : NearestCueColour(t.hotCueColor[slot]);
  }
  for (double time : t.memoryCues) {
    if (!std::isfinite(time) || r.memoryCues.size() >= kMaxMemoryCues) continue;
    auto at = std::lower_bound(r.memoryCues.begin(), r.memoryCues.end(), time);
    bool near = (at != r.memoryCues.end() && *at - time < kSameMemoryCueSeconds) ||
                (at != r.memoryCues.begin() && time - *(at - 1) < kSameMemoryCueSeconds);
    if (!near) r.memoryCues.insert(at, time);
  }
}

// The lists by name ignoring case and by file, built once per merge so that each playlist costs
// the same however many lists there are.
class ListIndex {
 public:
  ListIndex() {
    byName_.reserve(TrackLists.size());
    byFile_.reserve(TrackLists.size());
    for (size_t i = 0; i < TrackLists.size(); ++i) Add(static_cast<int>(i));
  }
  // The list the playlist goes into: the one of its name, else a new one; a name whose file
  // another list owns becomes "Name (2)", "Name (3)"... Returns the index, or -1 when no name is
  // free.
  int ListFor(const std::wstring& name, bool builtIn) {
    for (int n = 1; n <= kMaxNameSuffix; ++n) {
      const std::wstring candidate = n == 1 ? name : name + L" (" + std::to_wstring(n) + L")";
      if (const auto at = byName_.find(LowerText(candidate)); at != byName_.end()) return at->second;
      if (byFile_.count(ListFileLeaf(candidate))) continue;
      TrackList list;
      list.name = candidate;
      list.builtIn = builtIn;
      TrackLists.push_back(std::move(list));
      Add(static_cast<int>(TrackLists.size()) - 1);
      return static_cast<int>(TrackLists.size()) - 1;
    }
    return -1;
  }

 private:
  void Add(int index) {
    const std::wstring& name = TrackLists[static_cast<size_t>(index)].name;
    byName_.emplace(LowerText(name), index);  // the first list of a name is the one found
    byFile_.emplace(ListFileLeaf(name), index);
  }
  std::unordered_map<std::wstring, int> byName_;
  std::unordered_map<std::wstring, int> byFile_;
};

std::wstring ImportedListName(ImportSource source, const std::wstring& name) {
  std::wstring cleaned = name;
  std::replace(cleaned.begin(), cleaned.end(), L'/', L'-');
  std::replace(cleaned.begin(), cleaned.end(), L'\\', L'-');
  return kImportPrefixes[source] + cleaned;
}

void Report(UiText text) {
  LastImportReport = EnglishText(text);
  ShowStatus(std::move(text));
}

}  // namespace

const wchar_t* ImportPrefix(ImportSource source) { return kImportPrefixes[ClampImportSource(source)]; }

int32_t NearestCueColour(int32_t rgb) { return NearestTrackColour(static_cast<uint32_t>(rgb) & 0xFFFFFFu); }

void MakeListFiles(ImportResult& result) {
  result.playlistFiles.clear();
  result.playlistFiles.reserve(result.playlists.size());
  for (const TrackList& playlist : result.playlists)
    result.playlistFiles.push_back(PathToBytes(M3uText(playlist.name, playlist.paths, nullptr)));
}

std::unique_ptr<ImportSave> FoldImport(int sourceNumber, ImportResult* result) {
  std::unique_ptr<ImportResult> owned(result);
  if (!owned) return nullptr;
  const ImportSource source = ClampImportSource(sourceNumber);
  if (!owned->error.empty() && owned->tracks.empty()) {
    Report(UiText(owned->error));
    WriteLog(L"Import failed: {}", owned->error);
    return nullptr;
  }
  for (const ImportedTrack& track : owned->tracks) MergeTrack(track);

  auto save = std::make_unique<ImportSave>();
  save->source = source;
  save->tracks = owned->tracks.size();
  save->error = std::move(owned->error);
  ListIndex lists;
  std::vector<int> changed;
  std::vector<std::string> changedFiles;       // the file each changed list gets, when made already
  std::unordered_map<int, size_t> changedAt;  // list index -> its place in changed
  for (size_t i = 0; i < owned->playlists.size(); ++i) {
    TrackList& playlist = owned->playlists[i];
    int index = lists.ListFor(ImportedListName(source, playlist.name), playlist.builtIn);
    if (index < 0) {
      ++save->listsNotSaved;
      WriteLog(L"Import: no free list name for {}", playlist.name);
      continue;
    }
    TrackLists[index].paths = std::move(playlist.paths);
    ++save->playlists;
    const auto [at, added] = changedAt.emplace(index, changed.size());
    if (added) {
      changed.push_back(index);
      changedFiles.emplace_back();
    }
    // A later playlist of the same name replaced the paths, so its file is the one to write.
    changedFiles[at->second] = i < owned->playlistFiles.size() ? std::move(owned->playlistFiles[i]) : std::string();
  }
  if (ListViewHooks.refreshList)
    for (int index : changed) ListViewHooks.refreshList(index);
  RebuildView();
  save->databaseSaved = TestMode;
  if (TestMode) return save;

  // Every list and the database go out together with one flush: a flush per list made big
  // collections slow.
  size_t refused = 0;
  save->files = ListFileWrites(changed, &changedFiles, &refused);
  save->listsNotSaved += refused;
  save->database = DatabaseText(&save->databaseText);
  if (save->database) {
    save->databasePath = DatabasePath();
    LibraryDirty = false;  // the copy holds every change; a failed write sets it again
  }
  return save;
}

void WriteImportFiles(ImportSave& save) {
  if (save.database) {
    FileWrite database;
    database.target = save.databasePath;
    database.bytes = PathToBytes(save.databaseText);
    save.files.push_back(std::move(database));
    save.databaseText = std::wstring();
  }
  WriteFilesAtomic(save.files);
  size_t failed = CountFailedWrites(save.files);
  if (save.database) {
    save.databaseSaved = save.files.back().ok;
    if (!save.databaseSaved) --failed;
  }
  save.listsNotSaved += failed;
}

bool ReportImport(const ImportSave& save) {
  if (save.database && !save.databaseSaved) LibraryDirty = true;
  if (save.database && save.databaseSaved) LibrarySaveFault = {};  // a written file ends an earlier failure
  const UiText tracks = CountText(save.tracks, L"1 track", L"{} tracks");
  const UiText playlists = CountText(save.playlists, L"1 playlist", L"{} playlists");
  if (!save.databaseSaved) {
    Report(save.error.empty()
               ? UiFormat(L"Imported {} and {}, but the library couldn't be saved", tracks, playlists)
               : UiFormat(L"Imported {} and {} ({}), but the library couldn't be saved", tracks, playlists,
                          UiText(save.error)));
  } else if (save.listsNotSaved > 0) {
    Report(UiFormat(L"Imported {} and {}, but {} couldn't be saved", tracks, playlists,
                    CountText(save.listsNotSaved, L"1 playlist", L"{} playlists")));
  } else if (save.error.empty()) {
    Report(UiFormat(L"Imported {} and {}", tracks, playlists));
  } else {
    Report(UiFormat(L"Imported {} and {} ({})", tracks, playlists, UiText(save.error)));
  }
  return save.databaseSaved && save.listsNotSaved == 0;
}

bool MergeImport(int source, ImportResult* result) {
  std::unique_ptr<ImportSave> save = FoldImport(source, result);
  if (!save) return false;
  WaitForLibraryFiles();
  WriteImportFiles(*save);
  return ReportImport(*save);
}
