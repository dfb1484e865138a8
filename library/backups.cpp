#include "library/backups.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "base/files.h"
#include "base/log.h"
#include "base/status_message.h"
#include "base/test_mode.h"
#include "library/database.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace {

// What a backup holds, in copy order.
struct BackupItem {
  const wchar_t* name;
  bool folder;  // a folder is copied with the files directly inside it, not its subfolders
};
constexpr BackupItem kBackupItems[] = {
    {.name = L"database.tsv", .folder = false}, {.name = L"crates.tsv", .folder = false},
    {.name = L"settings.ini", .folder = false}, {.name = L"midi.tsv", .folder = false},
    {.name = L"Lists", .folder = true},         {.name = L"Controllers", .folder = true},
};

// A dated backup's name: "DDDD-DD-DD". Only such folders are ever pruned, so a folder of the
// user's that happens to be ten characters long ("backup-old") is never deleted.
bool IsBackupName(const std::wstring& name) {
  if (name.size() != kBackupNameChars) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    bool dash = i == 4 || i == 7;
    if (dash ? name[i] != L'-' : (name[i] < L'0' || name[i] > L'9')) return false;
  }
  return true;
}

fs::path FsPath(const std::wstring& path) { return fs::path(PathToBytes(path)); }
std::wstring WidePath(const fs::path& path) { return PathFromBytes(path.native()); }

// Why a backup step failed: for the log, and in the user's words for the status line.
struct BackupFault {
  std::wstring detail;
  int systemError = 0;
};

// Copies one item whole into the backup being built: a file, or the files directly inside a
// folder, each checked and flushed (CopyFileWhole), then the folder's entries flushed. A missing
// item is skipped. False with *fault on the first thing that could not be copied whole.
bool CopyItem(const fs::path& from, const fs::path& to, bool folder, BackupFault* fault) {
  std::error_code ec;
  const fs::file_status status = fs::status(from, ec);
  if (!fs::exists(status)) return true;
  if (!folder) {
    if (!fs::is_regular_file(status)) return true;  // only the program's own files are ever backed up
    if (CopyFileWhole(WidePath(from), WidePath(to), &fault->detail)) return true;
    fault->systemError = LastWriteError();
    return false;
  }
  if (!fs::is_directory(status)) return true;
  if (fs::create_directory(to, ec); ec) {
    *fault = {.detail = WidePath(to) + L": " + Utf8ToWide(ec.message()), .systemError = ec.value()};
    return false;
  }
  fs::directory_iterator it(from, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    std::error_code typeEc;
    if (!it->is_regular_file(typeEc)) continue;
    if (!CopyFileWhole(WidePath(it->path()), WidePath(to / it->path().filename()), &fault->detail)) {
      fault->systemError = LastWriteError();
      return false;
    }
  }
  if (ec) {
    *fault = {.detail = WidePath(from) + L": " + Utf8ToWide(ec.message()), .systemError = 0};
    return false;
  }
  if (SyncFolder(WidePath(to))) return true;
  *fault = {.detail = WidePath(to) + L": not flushed to the disk", .systemError = LastWriteError()};
  return false;
}

// Builds today's backup under its ".partial" name and gives it the dated name only once every
// item is in it whole and on the disk.
bool MakeBackup(const fs::path& building, const fs::path& finished, BackupFault* fault) {
  std::error_code ec;
  fs::remove_all(building, ec);
  if (fs::create_directory(building, ec); ec) {
    *fault = {.detail = WidePath(building) + L": " + Utf8ToWide(ec.message()), .systemError = ec.value()};
    return false;
  }
  const fs::path data = FsPath(AppDataDir());
  for (const BackupItem& item : kBackupItems)
    if (!CopyItem(data / FsPath(item.name), building / FsPath(item.name), item.folder, fault)) return false;
  if (!SyncFolder(WidePath(building))) {
    *fault = {.detail = WidePath(building) + L": not flushed to the disk", .systemError = LastWriteError()};
    return false;
  }
  fs::rename(building, finished, ec);
  if (ec) {
    *fault = {.detail = WidePath(finished) + L": " + Utf8ToWide(ec.message()), .systemError = ec.value()};
    return false;
  }
  SyncFolder(WidePath(finished.parent_path()));
  return true;
}

// Deletes leftover ".partial" entries and, when keepDated is false, all but the newest
// kBackupsKept dated folders. Called with keepDated after a failed backup: a good old backup is
// never given up for one that was not made.
void PruneBackups(const fs::path& backups, bool keepDated) {
  std::error_code ec;
  std::vector<fs::path> partial;
  std::vector<std::wstring> dated;
  fs::directory_iterator it(backups, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    std::wstring name = WidePath(it->path().filename());
    std::error_code typeEc;
    if (WidePath(it->path().extension()) == kPartialSuffix)
      partial.push_back(it->path());
    else if (it->is_directory(typeEc) && IsBackupName(name))
      dated.push_back(name);
  }
  for (const fs::path& p : partial) fs::remove_all(p, ec);
  if (keepDated) return;
  std::sort(dated.begin(), dated.end());
  for (size_t i = 0; i + kBackupsKept < dated.size(); ++i) fs::remove_all(backups / FsPath(dated[i]), ec);
}

void ReportFailedBackup(const BackupFault& fault) {
  WriteLog(L"Backup: today's backup couldn't be made ({}); it was removed and the earlier backups are kept",
           fault.detail);
  ShowStatus(UiFormat(L"Today's backup couldn't be made \u2014 {}", WriteFailureCause(fault.systemError, fault.detail)),
             kBackupFailedStatusMs);
}

}  // namespace

std::wstring BackupsDir() {
  const std::wstring base = LocalDataBase();
  return base.empty() ? std::wstring() : JoinPath(JoinPath(base, L"Veldmix"), L"Backups");
}

std::wstring BackupFolderName(const LocalTime& date) {
  return fmt::format(L"{:04}-{:02}-{:02}", date.year, date.month, date.day);
}

bool DailyBackup(const LocalTime& today) {
  if (TestMode) return true;
  if (LibraryNoSave) {
    WriteLog(L"Library: no backup today, the library database could not be read whole");
    return true;
  }
  const std::wstring dir = BackupsDir();
  if (dir.empty()) {
    ReportFailedBackup({.detail = L"no folder for backups (HOME is not set)", .systemError = 0});
    return false;
  }
  const fs::path backups = FsPath(dir);
  std::error_code ec;
  fs::create_directories(backups, ec);
  if (ec) {
    ReportFailedBackup({.detail = dir + L": " + Utf8ToWide(ec.message()), .systemError = ec.value()});
    return false;
  }
  const std::wstring name = BackupFolderName(today);
  const fs::path finished = backups / FsPath(name);
  const fs::path building = backups / FsPath(name + kPartialSuffix);
  if (fs::exists(fs::symlink_status(finished, ec))) return true;

  BackupFault fault;
  const bool made = MakeBackup(building, finished, &fault);
  if (!made) fs::remove_all(building, ec);
  PruneBackups(backups, /*keepDated=*/!made);
  if (!made) ReportFailedBackup(fault);
  return made;
}
