#include "library/backups.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "base/files.h"
#include "base/log.h"
#include "base/test_mode.h"
#include "library/database.h"
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

fs::path FsPath(const std::wstring& path) { return fs::path(WideToUtf8(path)); }
std::wstring WidePath(const fs::path& path) { return Utf8ToWide(path.native()); }

void CopyItem(const fs::path& from, const fs::path& to, bool folder) {
  std::error_code ec;
  if (!folder) {
    if (fs::is_regular_file(from, ec)) fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    return;
  }
  if (!fs::is_directory(from, ec) || !fs::create_directory(to, ec)) return;
  fs::directory_iterator it(from, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    std::error_code fileEc;
    if (it->is_regular_file(fileEc))
      fs::copy_file(it->path(), to / it->path().filename(), fs::copy_options::overwrite_existing, fileEc);
  }
}

// Deletes leftover ".partial" entries and all but the newest kBackupsKept dated folders.
void PruneBackups(const fs::path& backups) {
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
  std::sort(dated.begin(), dated.end());
  for (size_t i = 0; i + kBackupsKept < dated.size(); ++i) fs::remove_all(backups / FsPath(dated[i]), ec);
}

}  // namespace

std::wstring BackupsDir() {
  const std::wstring base = LocalDataBase();
  return base.empty() ? std::wstring() : JoinPath(JoinPath(base, L"Veldmix"), L"Backups");
}

std::wstring BackupFolderName(const LocalTime& date) {
  return fmt::format(L"{:04}-{:02}-{:02}", date.year, date.month, date.day);
}

void DailyBackup(const LocalTime& today) {
  if (TestMode) return;
  if (LibraryNoSave) {
    WriteLog(L"Library: no backup today, the library database could not be read whole");
    return;
  }
  const std::wstring dir = BackupsDir();
  if (dir.empty() || !CreateFolderTree(dir)) return;
  const fs::path backups = FsPath(dir);
  const std::wstring name = BackupFolderName(today);
  const fs::path finished = backups / FsPath(name);
  const fs::path building = backups / FsPath(name + kPartialSuffix);
  std::error_code ec;
  if (fs::exists(fs::symlink_status(finished, ec))) return;

  fs::remove_all(building, ec);
  if (fs::create_directory(building, ec)) {
    const fs::path data = FsPath(AppDataDir());
    for (const BackupItem& item : kBackupItems)
      CopyItem(data / FsPath(item.name), building / FsPath(item.name), item.folder);
    fs::rename(building, finished, ec);  // on failure the prune below removes the ".partial"
  }
  PruneBackups(backups);
}
