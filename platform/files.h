#pragma once
// Whole-file reads and crash-safe writes. Every file the program writes goes through
// WriteBytesAtomic: "<target>.tmp", one write, fsync, rename, fsync of the folder.
#include <string>
#include <string_view>
#include <vector>

// Writes the bytes crash-safe. On false the target is untouched, no ".tmp" is left behind and
// *error (when given) names the failing step and the system's reason.
bool WriteBytesAtomic(const std::wstring& target, std::string_view bytes, std::wstring* error = nullptr);

// One file of a batch for WriteFilesAtomic; ok and error are its outcome.
struct FileWrite {
  std::wstring target;
  std::string bytes;
  bool ok = false;
  std::wstring error;  // the failing step and the system's reason
};
// Writes many files crash-safe with one flush for all of them, not one per file: every file to
// "<target>.tmp", one sync of the file system, then the renames and one sync of each folder. After
// a crash each target holds its old or its new bytes whole. A file that fails keeps its old
// bytes and leaves no ".tmp"; the others are written all the same.
void WriteFilesAtomic(std::vector<FileWrite>& files);

enum class ReadStatus { Ok, Missing, Unreadable };
// Reads a whole file. Missing: nothing at the path; Unreadable: something is there but could not
// be opened or read (no permission, an I/O error) or is no regular file (a folder, a FIFO, a
// device: refused without waiting on it, and logged with the path). Files above maxBytes are
// Unreadable.
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
