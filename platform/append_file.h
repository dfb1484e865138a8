#pragma once
// An append-only file shared by every thread: the log. Each append is one write() on a
// descriptor opened with O_APPEND, so appends of different threads never mix within a call
// and no lock is needed.
#include <string>
#include <string_view>

// Opens the file for appending, creating it (mode 0644); -1 when it cannot be opened.
// The handle is meant to stay open until the process ends.
int OpenAppendFile(const std::wstring& path);
// Appends the bytes with one write; true when all of them went out.
bool AppendToFile(int handle, std::string_view bytes);
