#pragma once
// Smart crates: saved searches (a name and a search text) shown over all music folders, kept in
// "crates.tsv" in the data folder, one "name<TAB>search" line each. UI thread.
#include <string>
#include <vector>

inline constexpr wchar_t kCratesFile[] = L"crates.tsv";
inline constexpr wchar_t kDefaultCrateName[] = L"Smart crate";

struct SmartCrate {
  std::wstring name{};    // never holds a tab or a line break
  std::wstring search{};  // may hold tabs
};

// Every crate in file order. Filled from LoadCrates when the main window is created.
extern std::vector<SmartCrate> SmartCrates;
// crates.tsv exists but could not be read: SaveCrates never replaces it this run.
extern bool CratesNoSave;

// The crates of crates.tsv; a missing file gives none. Lines without a tab, or starting with one,
// are dropped; one trailing CR is removed. Sets CratesNoSave when the file exists but is unreadable.
std::vector<SmartCrate> LoadCrates();
// Writes every crate to crates.tsv, crash-safe. False when the write failed or CratesNoSave is set;
// the status line then names the file and the cause, and NoteFailedWrite has it.
bool SaveCrates();
// The name as a crate can keep it: tabs and line breaks become spaces.
std::wstring CleanCrateName(const std::wstring& name);
// Appends and shows a crate; an empty name becomes the search text, or "Smart crate" when that is
// empty too. Returns its index.
int CreateCrate(const std::wstring& name, const std::wstring& search);
// The edit form's confirmation: a non-empty name replaces the old one, the search is replaced,
// the crates are saved, and a shown crate is filtered again without a new scan. An invalid index
// does nothing.
void UpdateCrate(int index, const std::wstring& name, const std::wstring& search);
