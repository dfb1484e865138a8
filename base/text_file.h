#pragma once
#include <cstddef>
#include <string>

// No text file the program reads as a whole is larger than this.
inline constexpr size_t kMaxTextFileBytes = size_t(64) << 20;

// Reads a whole UTF-8 file (a leading byte-order mark dropped) as wide text. When given,
// *unreadable is true when something exists at the path but could not be opened or read, or is
// larger than maxBytes, and false otherwise (a missing file gives an empty text and false).
std::wstring ReadTextFile(const std::wstring& path, bool* unreadable = nullptr, size_t maxBytes = kMaxTextFileBytes);
// The same for a file that holds file names: bytes that are not UTF-8 are kept (PathFromBytes),
// so a name written back through WriteUtf8File or WriteFileAtomic keeps its bytes.
std::wstring ReadPathsFile(const std::wstring& path, bool* unreadable = nullptr, size_t maxBytes = kMaxTextFileBytes);
