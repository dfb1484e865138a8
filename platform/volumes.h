#pragma once
// Mounted volumes: which one holds a folder, and where a volume of a given name is mounted.
// Other DJ programs store paths relative to a volume's root or under a volume's name.
#include <string>

// The mount point of the file system that holds the folder (links resolved), ending in "/";
// "/" when that is the file system of "/" or of $HOME. Empty when the folder cannot be reached.
std::wstring VolumeRootOf(const std::wstring& folder);
// The mount point whose last name is exactly `name` ("/media/dj/Party Drive" for "Party Drive"),
// ending in "/"; empty when no volume of that name is mounted.
std::wstring MountedVolume(const std::wstring& name);
