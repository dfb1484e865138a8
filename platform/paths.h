#pragma once
// The one place that decides how paths compare. Linux file names are case-sensitive, so two
// paths that differ in case are two files: the key is the path exactly as given.
#include <string>

// The key under which a path is indexed and hashed.
std::wstring PathKey(const std::wstring& path);
// PathKey returns the path itself here: a pass over many paths can hash them without copies.
inline constexpr bool kPathKeyIsPath = true;
// True when the two paths name the same entry by this platform's rules.
bool SamePath(const std::wstring& a, const std::wstring& b);
