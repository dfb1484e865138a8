#include "library/music_folders.h"

#include <algorithm>
#include <string>
#include <utility>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "library/track_view.h"
#include "platform/folders.h"
#include "platform/ini.h"

namespace {

// A damaged Count must not make the load read millions of keys.
constexpr int32_t kMaxMusicFolders = 1000;

std::wstring Indexed(const wchar_t* stem, int i) { return fmt::format(L"{}{}", stem, i); }

}  // namespace

void LoadMusicFolders(const IniDocument& ini) {
  MusicFolders.clear();
  int32_t count = IniInt(ini, L"Library", L"Count", -1);
  if (count < 0) {
    for (const std::wstring& folder : {MusicFolder(), DownloadsFolder(), DesktopFolder()})
      if (FolderExists(folder)) MusicFolders.push_back(folder);
  } else {
    count = std::min(count, kMaxMusicFolders);
    for (int32_t i = 0; i < count; ++i) {
      std::wstring folder = IniString(ini, L"Library", Indexed(L"Folder", i), L"");
      if (!folder.empty()) MusicFolders.push_back(std::move(folder));
    }
  }
  const int32_t last = std::max(static_cast<int32_t>(MusicFolders.size()) - 1, 0);
  ViewIndex = std::clamp(IniInt(ini, L"Library", L"Selected", 0), 0, last);
}

void StoreMusicFolders(IniDocument* ini) {
  IniEraseSection(ini, L"Library");
  IniSet(ini, L"Library", L"Count", fmt::format(L"{}", MusicFolders.size()));
  IniSet(ini, L"Library", L"Selected", fmt::format(L"{}", ViewKind == kViewFolder ? ViewIndex : 0));
  for (size_t i = 0; i < MusicFolders.size(); ++i)
    IniSet(ini, L"Library", Indexed(L"Folder", static_cast<int>(i)), MusicFolders[i]);
}
