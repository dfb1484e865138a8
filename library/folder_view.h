#pragma once
// Switching the browser to a music folder. UI thread.
#include <string>

// Adds the folder to the music folders, or selects it when it is already one (SamePath), shows
// the folder view and saves the settings. The folder's files are listed once the folder scan
// exists.
void AddMusicFolder(const std::wstring& path);
