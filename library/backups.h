#pragma once
// Daily backups: once a day at start the library and configuration files are copied into a dated
// folder "YYYY-MM-DD" under "Backups" in the support folder; the newest seven are kept.
// UI thread, at start-up right after LoadDatabase.
#include <string>

#include "platform/clock.h"

inline constexpr size_t kBackupsKept = 7;
inline constexpr wchar_t kPartialSuffix[] = L".partial";
inline constexpr size_t kBackupNameChars = 10;  // "YYYY-MM-DD"
inline constexpr int kBackupFailedStatusMs = 8000;

// "$XDG_STATE_HOME/Veldmix/Backups"; empty when the support base cannot be resolved.
std::wstring BackupsDir();
// "YYYY-MM-DD" of a local date.
std::wstring BackupFolderName(const LocalTime& date);

// Makes today's backup unless it exists: built as "<date>.partial", each file copied whole, its
// size checked against its source and flushed to the disk, then renamed to "<date>"; then leftover
// ".partial" entries are removed and only the newest seven dated folders kept (folders named like
// "2024-03-09"; nothing else in the folder is touched). Copies "database.tsv", "crates.tsv",
// "settings.ini", "midi.tsv" and the files directly inside "Lists" and "Controllers"; missing
// items are skipped. Nothing in test mode, and nothing while the library refuses to save (a
// damaged database must not push the good backups out).
// A backup that could not be made whole (a full disk) is removed, logged and said on the status
// line, and then no dated backup is pruned; false. The next start tries again.
bool DailyBackup(const LocalTime& today = NowLocal());
