#include "library/tag_editing.h"

#include <algorithm>
#include <mutex>
#include <unordered_set>

#include "base/status_message.h"
#include "base/text_parse.h"
#include "base/track_info.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/sandbox.h"
#include "library/folder_scan.h"
#include "library/track_view.h"

namespace {

bool PlayingOnAnyDeck(const std::wstring& path) {
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  for (const DeckState& deck : Engine.decks)
    if (deck.track && deck.playing && deck.track->path == path) return true;
  return false;
}

std::wstring JoinTags(const std::vector<std::wstring>& tags) {
  std::wstring text;
  for (const std::wstring& tag : tags) {
    if (!text.empty()) text += L", ";
    text += tag;
  }
  return text;
}

}  // namespace

bool SaveTags(const std::wstring& path, const TrackTags& fields) {
  if (PlayingOnAnyDeck(path)) {
    ShowStatus(kTagsPlayingText);
    return false;
  }
  if ((Prelisten.on || Prelisten.loading) && Prelisten.path == path) StopPrelisten();
  UiText error;
  if (!WriteTags(path, fields, &error)) {
    ShowStatus(error);
    return false;
  }
  for (LibraryFile& file : ViewItems)
    if (file.path == path) file = ReadFileTags(path, file.index);
  RebuildView();
  ShowStatus(kTagsSavedText);
  return true;
}

void StoreMyTags(const std::wstring& path, const std::wstring& text) {
  TrackInfoFor(path).myTags = NormalizeTags(text);
  RebuildView();
}

void ToggleMyTag(const std::wstring& path, const std::wstring& tag) {
  const std::vector<std::wstring> wanted = SplitTags(tag);  // trimmed; a blank tag does nothing
  if (wanted.empty()) return;
  TrackInfo& record = TrackInfoFor(path);
  std::vector<std::wstring> tags = SplitTags(record.myTags);
  const std::wstring key = LowerText(wanted.front());
  const auto same = std::find_if(tags.begin(), tags.end(), [&](const std::wstring& t) { return LowerText(t) == key; });
  if (same != tags.end()) tags.erase(same);
  else tags.push_back(wanted.front());
  record.myTags = JoinTags(tags);
  RebuildView();
}

std::vector<std::wstring> AllMyTags() {
  std::vector<std::wstring> out;
  std::unordered_set<std::wstring> seen;
  for (const auto& [path, record] : TrackLibrary)
    for (std::wstring& tag : SplitTags(record.myTags))
      if (seen.insert(LowerText(tag)).second) out.push_back(std::move(tag));
  std::stable_sort(out.begin(), out.end(),
                   [](const std::wstring& a, const std::wstring& b) { return LowerText(a) < LowerText(b); });
  return out;
}
