#include "library/import_merge.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "app/log.h"
#include "app/status_message.h"
#include "app/test_mode.h"
#include "app/text_parse.h"
#include "library/cue_colours.h"
#include "library/database.h"
#include "library/track_info.h"
#include "library/track_lists.h"
#include "library/track_view.h"

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

int ListNamedIgnoringCase(const std::wstring& name) {
  const std::wstring lower = LowerText(name);
  for (size_t i = 0; i < TrackLists.size(); ++i)
    if (TrackLists[i].name.size() == name.size() && LowerText(TrackLists[i].name) == lower) return static_cast<int>(i);
  return -1;
}

// The list the playlist goes into: the one of its name, else a new one; a name whose file another
// list owns becomes "Name (2)", "Name (3)"... Returns the index, or -1 when no name is free.
int ListForImport(const std::wstring& name, bool builtIn) {
  for (int n = 1; n <= kMaxNameSuffix; ++n) {
    const std::wstring candidate = n == 1 ? name : name + L" (" + std::to_wstring(n) + L")";
    int existing = ListNamedIgnoringCase(candidate);
    if (existing >= 0) return existing;
    if (ListSharingFile(candidate) >= 0) continue;
    TrackList list;
    list.name = candidate;
    list.builtIn = builtIn;
    TrackLists.push_back(std::move(list));
    return static_cast<int>(TrackLists.size()) - 1;
  }
  return -1;
}

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

bool MergeImport(int sourceNumber, ImportResult* result) {
  std::unique_ptr<ImportResult> owned(result);
  if (!owned) return false;
  const ImportSource source = ClampImportSource(sourceNumber);
  if (!owned->error.empty() && owned->tracks.empty()) {
    Report(UiText(owned->error));
    WriteLog(L"Import failed: {}", owned->error);
    return false;
  }
  for (const ImportedTrack& track : owned->tracks) MergeTrack(track);

  size_t playlists = 0, listsNotSaved = 0;
  for (TrackList& playlist : owned->playlists) {
    int index = ListForImport(ImportedListName(source, playlist.name), playlist.builtIn);
    if (index < 0) {
      ++listsNotSaved;
      WriteLog(L"Import: no free list name for {}", playlist.name);
      continue;
    }
    TrackLists[index].paths = std::move(playlist.paths);
    ++playlists;
    if (!TestMode && !SaveList(TrackLists[index])) ++listsNotSaved;
    if (ListView.refreshList) ListView.refreshList(index);
  }
  const bool databaseSaved = TestMode || SaveDatabase();
  RebuildView();

  const size_t tracks = owned->tracks.size();
  if (!databaseSaved) {
    Report(owned->error.empty()
               ? UiFormat(L"Imported {} tracks and {} playlists, but the library couldn't be saved", tracks, playlists)
               : UiFormat(L"Imported {} tracks and {} playlists ({}), but the library couldn't be saved", tracks,
                          playlists, UiText(owned->error)));
  } else if (listsNotSaved > 0) {
    Report(UiFormat(L"Imported {} tracks and {} playlists, but {} playlists couldn't be saved", tracks, playlists,
                    listsNotSaved));
  } else if (owned->error.empty()) {
    Report(UiFormat(L"Imported {} tracks and {} playlists", tracks, playlists));
  } else {
    Report(UiFormat(L"Imported {} tracks and {} playlists ({})", tracks, playlists, UiText(owned->error)));
  }
  return databaseSaved && listsNotSaved == 0;
}
