#pragma once
// Whole-file reads and crash-safe writes. Every file the program writes goes through a WritePlan:
// symbolic links followed to the file they end at, a hidden temporary beside that file
// (".<name>.<pid>-<n>.veldmix-tmp"), one write, fsync, rename, fsync of the folder.
#include <string>
#include <string_view>
#include <vector>

// What a write does with a target that is a character device or a FIFO: refuse it, or, for an
// output the user named on purpose, write straight into it.
enum class SpecialTarget { Refuse, WriteInPlace };

// Where one write lands, found before writing.
struct WritePlan {
  std::wstring final;    // the file to replace: the target, or the file its links end at
  std::wstring temp;     // the temporary beside final; empty when inPlace
  bool inPlace = false;  // a device or FIFO written straight into, without rename
  bool exists = false;   // final is a regular file now; the new one gets its mode and owner
  unsigned mode = 0644, uid = 0, gid = 0;
};
// Plans a write to target: follows its symbolic links (the kernel's bounded hops) to the final
// file. A dangling link, a link loop, a folder or another non-regular file (unless special allows
// it) is refused: false, nothing created, *error naming the file and why. Removes stale
// temporaries of final (a killed writer's, untouched for five minutes), unless removeStale is
// false: a batch removes those of all its files at once (RemoveStaleWriteTempsOf).
bool PlanWrite(const std::wstring& target, SpecialTarget special, WritePlan* plan, std::wstring* error,
               bool removeStale = true);
// Creates plan.temp for writing (mode of the old file); the fd, or -1 with errno.
int OpenWriteTemp(const WritePlan& plan);
// Moves the written and flushed temporary over final and syncs the folder (unless the caller
// syncs it once for many files); on false the temporary is removed, final untouched and errno the
// rename's error.
bool CommitWrite(const WritePlan& plan, std::wstring* error, bool syncFolder = true);
// Removes the temporary of a write given up.
void AbandonWrite(const WritePlan& plan);
// True when a file's leaf name is one of the program's write temporaries.
bool IsWriteTemp(const std::wstring& leaf);
// Removes the file when it is a stale write temporary (see PlanWrite); true when removed.
bool RemoveStaleWriteTemp(const std::wstring& path);
// Removes the stale write temporaries of every file in folder; how many.
int RemoveStaleWriteTemps(const std::wstring& folder);
// Removes the stale write temporaries of the planned files (not written in place), with one read
// of each of their folders.
void RemoveStaleWriteTempsOf(const std::vector<WritePlan>& plans);

// Writes the bytes crash-safe through PlanWrite. On false the target is untouched, no temporary
// is left behind and *error (when given) names the file or the failing step and the reason.
// In place (a device or FIFO with WriteInPlace) the bytes are written without rename or sync.
bool WriteBytesAtomic(const std::wstring& target, std::string_view bytes, std::wstring* error = nullptr,
                      SpecialTarget special = SpecialTarget::Refuse);

// The system's error number (ENOSPC, EROFS, EACCES ...) behind the calling thread's last
// WriteBytesAtomic, CopyFileWhole or SyncFolder that failed while writing; 0 after one that
// succeeded, and when the program refused on its own (a folder in the file's place: *error says
// why). So the words a user reads can name the cause, not only the log.
int LastWriteError();
// Copies a regular file into `to` (created or emptied) and flushes it to the disk; true only when
// the copy holds as many bytes as the file had when it was opened. False with *error naming the
// file, the step and the system's reason (a partial copy is left for the caller to remove).
bool CopyFileWhole(const std::wstring& from, const std::wstring& to, std::wstring* error);
// Flushes a folder's entries (files made, renamed in it) to the disk; false when it could not.
bool SyncFolder(const std::wstring& path);

// One file of a batch for WriteFilesAtomic; ok and error are its outcome.
struct FileWrite {
  std::wstring target;
  std::string bytes;
  bool ok = false;
  std::wstring error;  // the failing step and the system's reason
};
// Writes many files crash-safe with one flush for all of them, not one per file: every file to
// its temporary (PlanWrite), one sync of the file system, then the renames and one sync of each folder. After
// a crash each target holds its old or its new bytes whole. A file that fails keeps its old
// bytes and leaves no temporary; the others are written all the same.
void WriteFilesAtomic(std::vector<FileWrite>& files);

enum class ReadStatus { Ok, Missing, Unreadable };
// Reads a whole file. Missing: nothing at the path; Unreadable: something is there but could not
// be opened or read (no permission, an I/O error) or is no regular file (a folder, a FIFO, a
// device: refused without waiting on it, and logged with the path). Files above maxBytes are
// Unreadable.
ReadStatus ReadBytes(const std::wstring& path, std::string* out, size_t maxBytes = size_t(1) << 31);

// "step: the system's reason for err", for error texts.
std::wstring SysText(const char* step, int err);
// The reason in plain words for the causes a user can mend (a full disk, a read-only disk, no
// permission, a size limit), else the system's text. English; each has a translation row.
std::wstring WriteCauseText(int err);

// Removes a file; true when it existed and is gone.
bool DeleteFileAt(const std::wstring& path);
// Renames over an existing target, through its links as PlanWrite does (refusing what it
// refuses, logged); true on success.
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
