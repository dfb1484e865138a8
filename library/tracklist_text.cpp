#include "library/tracklist_text.h"

#include <fmt/xchar.h>

#include "base/musical_keys.h"
#include "base/settings.h"
#include "base/tags.h"
#include "base/track_info.h"
#include "engine/deck_view.h"

namespace {

constexpr const wchar_t* kArtistTitleDash = L" \u2013 ";
constexpr const wchar_t* kLineEnd = L"\r\n";

// "artist – title" from the tags, the file's name standing in for an empty title.
std::wstring TrackName(const std::wstring& path) {
  TrackTags tags;
  if (!ReadTags(path, &tags)) tags = TrackTags{};
  std::wstring name = tags.title.empty() ? FileNameOf(path) : tags.title;
  if (!tags.artist.empty()) name = tags.artist + kArtistTitleDash + name;
  return name;
}

// "  (124.0 BPM, 8A)" for an analysed library record, else nothing.
std::wstring AnalysisSuffix(const std::wstring& path) {
  const TrackInfo* info = FindTrackInfo(path);
  if (!info || !info->analyzed) return {};
  const std::wstring key = KeyName(info->key, Settings.Camelot);
  const std::wstring bpm = BpmText(info->bpm, 1);
  if (bpm.empty()) return key.empty() ? L"" : L"  (" + key + L")";
  return fmt::format(L"  ({} BPM{}{})", bpm, key.empty() ? L"" : L", ", key);
}

}  // namespace

std::wstring TracklistText(const std::vector<std::wstring>& paths, const std::vector<double>* startSeconds) {
  std::wstring text;
  for (size_t i = 0; i < paths.size(); ++i) {
    if (startSeconds) {
      text += FormatTime(i < startSeconds->size() ? (*startSeconds)[i] : 0.0, false);
      text += L"  ";
    } else {
      text += fmt::format(L"{}. ", i + 1);
    }
    text += TrackName(paths[i]);
    text += AnalysisSuffix(paths[i]);
    text += kLineEnd;
  }
  return text;
}
