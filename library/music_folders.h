#pragma once
// The user's music folders as the browser shows them. UI thread only.
#include <string>
#include <vector>

// The ordered list of folder paths ([Library] Folder0.. in settings.ini).
extern std::vector<std::wstring> MusicFolders;
// Index of the music folder the browser shows or last showed ([Library] Selected).
extern int SelectedFolder;
// True while the browser shows a music folder, false while it shows a track list or a crate.
extern bool BrowserShowsFolder;
