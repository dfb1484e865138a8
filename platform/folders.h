#pragma once
// Where the program's files live. Every path comes from the environment at the moment of the
// call (XDG variables, then HOME), so a test can point the whole program at a temporary HOME.
#include <string>

// "$XDG_DATA_HOME" or "~/.local/share": the base of the data folder (roaming application data).
std::wstring RoamingDataBase();
// "$XDG_STATE_HOME" or "~/.local/state": the base of the support folder (local application data).
std::wstring LocalDataBase();
// "$XDG_CACHE_HOME" or "~/.cache": per-user files that may be thrown away (downloads).
std::wstring CacheBase();
// "$XDG_CONFIG_HOME" or "~/.config": per-user configuration that must never travel with backups.
std::wstring ConfigBase();
// The user's folders from user-dirs.dirs (XDG_MUSIC_DIR ...), else "~/Music" and friends.
// Empty when HOME is unknown; the folder itself may not exist (see FolderExists).
std::wstring MusicFolder();
std::wstring DownloadsFolder();
std::wstring DesktopFolder();
// The folder that holds the running executable (from /proc/self/exe).
std::wstring ProgramFolder();

// Joins two path pieces with one separator; an empty base gives the bare name.
std::wstring JoinPath(const std::wstring& base, const std::wstring& name);
bool FolderExists(const std::wstring& path);
bool FileExists(const std::wstring& path);
// Creates the folder and its missing parents; true when it exists afterwards.
bool CreateFolderTree(const std::wstring& path);
