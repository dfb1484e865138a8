#pragma once
// Whole-file reads and crash-safe writes. Every file the program writes goes through
// WriteBytesAtomic: "<target>.tmp", one write, fsync, rename, fsync of the folder.
#include <string>
#include <string_view>

// Writes the bytes crash-safe. On false the target is untouched, no ".tmp" is left behind and
// *error (when given) names the failing step and the system's reason.
bool WriteBytesAtomic(const std::wstring& target, std::string_view bytes, std::wstring* error = nullptr);

enum class ReadStatus { Ok, Missing, Unreadable };
// Reads a whole file. Missing: nothing at the path; Unreadable: something is there but could not
// be opened or read (a folder, no permission, an I/O error). Files above maxBytes are Unreadable.
ReadStatus ReadBytes(const std::wstring& path, std::string* out, size_t maxBytes = size_t(1) << 31);

// Removes a file; true when it existed and is gone.
bool DeleteFileAt(const std::wstring& path);
// Renames over an existing target; true on success.
bool MoveReplace(const std::wstring& from, const std::wstring& to);
// The file's size in bytes, or -1 when it cannot be read.
long long FileSize(const std::wstring& path);

enum class FileProblem { None, Missing, Empty, Unreadable };
// Why a file might not open: nothing at the path, zero bytes, or not readable (no permission, a
// folder, an I/O error); None when it opens for reading and holds bytes.
FileProblem ProblemReading(const std::wstring& path);
// Empties the folder and makes it again for this user alone (mode 0700), its parents created when
// missing. Refused, with nothing deleted, when the path is a symbolic link or something other
// than a folder, or when the folder made is not this user's: false with *error saying why.
bool ResetPrivateFolder(const std::wstring& path, std::wstring* error);
