#include "library/folder_view.h"

#include <algorithm>

#include "app/settings.h"
#include "library/music_folders.h"
#include "platform/paths.h"

void AddMusicFolder(const std::wstring& path) {
  auto found = std::find_if(MusicFolders.begin(), MusicFolders.end(),
                            [&](const std::wstring& folder) { return SamePath(folder, path); });
  if (found == MusicFolders.end()) found = MusicFolders.insert(MusicFolders.end(), path);
  SelectedFolder = static_cast<int>(found - MusicFolders.begin());
  BrowserShowsFolder = true;
  SaveSettings();
}
