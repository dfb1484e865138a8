#include "library/crates.h"

#include "base/files.h"
#include "base/log.h"
#include "base/status_message.h"
#include "base/text_file.h"
#include "library/search_filter.h"
#include "library/track_view.h"
#include "platform/folders.h"

std::vector<SmartCrate> SmartCrates;
bool CratesNoSave = false;

namespace {

std::wstring CratesPath() { return JoinPath(AppDataDir(), kCratesFile); }

// A line break in a search would split its crate in two at the next load; tabs may stay.
std::wstring CleanCrateSearch(const std::wstring& search) {
  std::wstring clean = search;
  for (wchar_t& c : clean)
    if (c == L'\n' || c == L'\r') c = L' ';
  return clean;
}

}  // namespace

std::vector<SmartCrate> LoadCrates() {
  bool unreadable = false;
  const std::wstring text = ReadTextFile(CratesPath(), &unreadable);
  CratesNoSave = unreadable;
  if (unreadable) WriteLog(L"Library: {} couldn't be read; the crates will not be saved this run", kCratesFile);
  std::vector<SmartCrate> crates;
  for (std::wstring& line : SplitString(text, L'\n')) {
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    const size_t tab = line.find(L'\t');
    if (tab == std::wstring::npos || tab == 0) continue;
    crates.push_back({.name = line.substr(0, tab), .search = line.substr(tab + 1)});
  }
  return crates;
}

bool SaveCrates() {
  const std::wstring file = CratesPath();
  std::wstring error = L"it couldn't be read at start, so it is left as it is";
  if (CratesNoSave) {
    NoteFailedWrite(file, error);
  } else {
    std::wstring text;
    for (const SmartCrate& crate : SmartCrates) {
      text += CleanCrateName(crate.name) + L'\t' + CleanCrateSearch(crate.search) + L'\n';
    }
    if (WriteFileAtomic(file, text, &error)) return true;
  }
  ShowStatus(WriteFailedText(file, error));
  return false;
}

std::wstring CleanCrateName(const std::wstring& name) {
  std::wstring clean = name;
  for (wchar_t& c : clean)
    if (c == L'\t' || c == L'\n' || c == L'\r') c = L' ';
  return clean;
}

int CreateCrate(const std::wstring& name, const std::wstring& searchText) {
  const std::wstring search = CleanCrateSearch(searchText);
  std::wstring crateName = CleanCrateName(name);
  if (crateName.empty()) crateName = CleanCrateName(search);
  if (crateName.empty()) crateName = kDefaultCrateName;
  SmartCrates.push_back({.name = crateName, .search = search});
  SaveCrates();
  const int index = static_cast<int>(SmartCrates.size()) - 1;
  ShowCrate(index);
  return index;
}

void UpdateCrate(int index, const std::wstring& name, const std::wstring& search) {
  if (index < 0 || index >= static_cast<int>(SmartCrates.size())) return;
  SmartCrate& crate = SmartCrates[static_cast<size_t>(index)];
  const std::wstring cleanName = CleanCrateName(name);
  if (!cleanName.empty()) crate.name = cleanName;
  crate.search = CleanCrateSearch(search);
  SaveCrates();
  if (ViewKind == kViewCrate && ViewIndex == index) {
    CrateSearch = crate.search;
    RebuildView();
  }
}
