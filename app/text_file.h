#pragma once
#include <string>

// Reads a whole UTF-8 file (a leading byte-order mark dropped) as wide text. When given,
// *unreadable is true when something exists at the path but could not be opened or read, and
// false otherwise (a missing file gives an empty text and false).
std::wstring ReadTextFile(const std::wstring& path, bool* unreadable = nullptr);
