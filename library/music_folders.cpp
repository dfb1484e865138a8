#include "library/music_folders.h"

std::vector<std::wstring> MusicFolders;
int SelectedFolder = 0;
bool BrowserShowsFolder = true;
