#include "library/duplicates.h"

#include <map>

#include "base/status_message.h"
#include "base/text_parse.h"

namespace {

constexpr wchar_t kKeySeparator = L'\u001F';

struct Utf16Less {
  bool operator()(const std::wstring& a, const std::wstring& b) const { return CompareUtf16(a, b) < 0; }
};

}  // namespace

std::wstring NormaliseMatchText(std::wstring_view text) {
  std::wstring out;
  bool pendingSpace = false;
  for (wchar_t c : text) {
    if (IsWideSpace(c)) {
      pendingSpace = !out.empty();
      continue;
    }
    if (pendingSpace) out += L' ';
    pendingSpace = false;
    out += LowerChar(c);
  }
  return out;
}

std::vector<std::vector<uint32_t>> GroupDuplicates(const std::vector<MixTrack>& tracks) {
  std::map<std::wstring, std::vector<uint32_t>, Utf16Less> groups;
  for (uint32_t i = 0; i < tracks.size(); ++i) {
    std::wstring title = NormaliseMatchText(tracks[i].title);
    if (title.empty()) continue;
    groups[NormaliseMatchText(tracks[i].artist) + kKeySeparator + title].push_back(i);
  }
  std::vector<std::vector<uint32_t>> found;
  for (auto& [key, members] : groups)
    if (members.size() >= 2) found.push_back(std::move(members));
  return found;
}

void FindDuplicates() {
  const MixTrackSet view = CollectViewTracks();
  const std::vector<MixTrack>& tracks = view.tracks();
  const std::vector<std::vector<uint32_t>> groups = GroupDuplicates(tracks);
  if (groups.empty()) {
    ShowStatus(
        CountText(tracks.size(), L"No duplicates: there is only 1 track here", L"No duplicates among these {} tracks"));
    return;
  }
  std::vector<std::wstring> paths;
  for (const std::vector<uint32_t>& group : groups)
    for (uint32_t i : group) paths.emplace_back(tracks[i].path);
  if (!ReplaceOrCreateList(kDuplicatesListName, paths)) return;
  if (groups.size() == 1)
    ShowStatus(
        UiFormat(L"1 song is in more than one file ({} files) \u2014 they're side by side in the Duplicates list",
                 paths.size()));
  else
    ShowStatus(
        UiFormat(L"{} songs are in more than one file ({} files) \u2014 they're side by side in the Duplicates list",
                 groups.size(), paths.size()));
}
