#pragma once
// VirtualDJ's database.xml (tracks with tempo, first beat, key, rating, hot cues and cue points)
// and, as playlists, the ".vdjfolder" files under the Playlists and MyLists folders beside it.
#include <string>

// The list name of a .vdjfolder file from its path relative to Playlists or MyLists: without the
// extension, each "/" written as " / " ("Sets/Friday.vdjfolder" gives "Sets / Friday").
std::wstring VdjFolderListName(const std::wstring& relativePath);
