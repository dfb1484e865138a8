#include "library/track_lists.h"

#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>
#include <unordered_map>

#include "base/files.h"
#include "base/log.h"
#include "base/status_message.h"
#include "base/text_parse.h"
#include "platform/file_url.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/text.h"

namespace fs = std::filesystem;

std::vector<TrackList> TrackLists;
ListViewHookSet ListViewHooks;

namespace {

constexpr wchar_t kListHeader[] = L"#EXTM3U\n";
constexpr wchar_t kFileUrlScheme[] = L"file:";
constexpr size_t kFileUrlSchemeChars = 5;
constexpr size_t kMaxPlaylistBytes = kMaxListFileBytes;
constexpr size_t kLogExcerptChars = 80;

bool SameNameIgnoringCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::towlower(static_cast<wint_t>(a[i])) != std::towlower(static_cast<wint_t>(b[i]))) return false;
  return true;
}

// Case-insensitive order (towlower per character), ties broken by the exact names.
bool NameBefore(const std::wstring& a, const std::wstring& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    wint_t x = std::towlower(static_cast<wint_t>(a[i])), y = std::towlower(static_cast<wint_t>(b[i]));
    if (x != y) return x < y;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

bool IsFileUrlLine(const std::wstring& line) { return LowerText(line.substr(0, kFileUrlSchemeChars)) == kFileUrlScheme; }

std::wstring Printable(const std::wstring& text) { return PrintableExcerpt(text, kLogExcerptChars); }

// A path must have a line of its own that the reader takes back unchanged.
bool PathFitsOnLine(const std::wstring& path) {
  return !path.empty() && path[0] != L'#' && path.find_first_of(L"\r\n") == std::wstring::npos;
}

std::wstring Trimmed(const std::wstring& line) {
  size_t first = line.find_first_not_of(L" \t");
  if (first == std::wstring::npos) return {};
  size_t last = line.find_last_not_of(L"\r \t");
  return last < first ? std::wstring() : line.substr(first, last - first + 1);
}

// The existing entry a playlist line names, lexically normalised, or nothing.
std::optional<std::wstring> ResolveEntry(const std::wstring& entry, const std::wstring& folder) {
  std::wstring path = entry[0] == L'/' ? entry : JoinPath(folder, entry);
  if (!FileExists(path)) return std::nullopt;
  return PathFromBytes(fs::path(PathToBytes(path)).lexically_normal().native());
}

}  // namespace

// --- Files ---

bool LoadList(const std::wstring& file, TrackList& list) {
  std::string bytes;
  ReadStatus status = ReadBytes(file, &bytes, kMaxListFileBytes);
  if (status == ReadStatus::Missing) return true;
  if (status == ReadStatus::Unreadable) {
    list.noSave = true;
    WriteLog(L"Library: the list file {} couldn't be read; it will not be overwritten", file);
    return false;
  }
  std::string_view view(bytes);
  if (view.substr(0, 3) == "\xEF\xBB\xBF") view.remove_prefix(3);
  for (std::wstring& line : SplitString(PathFromBytes(view), L'\n')) {
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    if (line.empty() || line[0] == L'#') continue;
    if (IsFileUrlLine(line)) line = FileUrlToPath(line);
    if (!line.empty()) list.paths.push_back(std::move(line));
  }
  return true;
}

std::vector<TrackList> LoadLists() {
  std::vector<TrackList> lists;
  for (const wchar_t* name : kBuiltInListNames) {
    TrackList list;
    list.name = name;
    list.builtIn = true;
    LoadList(ListFileName(name), list);
    lists.push_back(std::move(list));
  }
  std::vector<TrackList> user;
  std::error_code ec;
  fs::directory_iterator it(fs::path(PathToBytes(ListsDir())), ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    std::error_code typeEc;
    if (it->path().extension() != WideToUtf8(kListExtension) || !it->is_regular_file(typeEc)) continue;
    std::wstring name = PathFromBytes(it->path().stem().native());
    if (std::find(kBuiltInListNames.begin(), kBuiltInListNames.end(), name) != kBuiltInListNames.end()) continue;
    TrackList list;
    list.name = name;
    LoadList(PathFromBytes(it->path().native()), list);
    user.push_back(std::move(list));
  }
  std::sort(user.begin(), user.end(), [](const TrackList& a, const TrackList& b) { return NameBefore(a.name, b.name); });
  for (TrackList& list : user) lists.push_back(std::move(list));
  return lists;
}

int ListSharingFile(const std::wstring& name) {
  const std::wstring file = ListFileLeaf(name);
  for (size_t i = 0; i < TrackLists.size(); ++i)
    if (TrackLists[i].name != name && ListFileLeaf(TrackLists[i].name) == file) return static_cast<int>(i);
  return -1;
}

bool SaveList(const TrackList& list) {
  const std::wstring file = ListFileName(list.name);
  std::wstring error;
  const int owner = ListSharingFile(list.name);
  if (list.noSave || owner >= 0) {
    if (owner >= 0)
      WriteLog(L"Library: the list \"{}\" was not saved: the list \"{}\" already uses its file", list.name,
               TrackLists[owner].name);
    error = list.noSave ? L"its file couldn't be read at start, so it is left as it is"
                        : L"another list already uses this file";
    NoteFailedWrite(file, error);
  } else {
    const std::wstring text = M3uText(list.name, list.paths, nullptr);
    WaitForLibraryFiles();
    if (WriteFileAtomic(file, text, &error)) return true;
  }
  ShowStatus(WriteFailedText(file, error));
  return false;
}

std::vector<FileWrite> ListFileWrites(const std::vector<int>& indexes, std::vector<std::string>* made, size_t* refused) {
  std::unordered_map<std::wstring, int> owners;  // file leaf -> lists saving to it
  owners.reserve(TrackLists.size());
  for (const TrackList& list : TrackLists) ++owners[ListFileLeaf(list.name)];
  const std::wstring folder = ListsDir();
  std::vector<FileWrite> writes;
  writes.reserve(indexes.size());
  *refused = 0;
  for (size_t i = 0; i < indexes.size(); ++i) {
    const TrackList& list = TrackLists[static_cast<size_t>(indexes[i])];
    const std::wstring leaf = ListFileLeaf(list.name);
    if (list.noSave || owners[leaf] > 1) {
      if (!list.noSave)
        WriteLog(L"Library: the list \"{}\" was not saved: the list \"{}\" already uses its file", list.name,
                 TrackLists[static_cast<size_t>(ListSharingFile(list.name))].name);
      ++*refused;
      continue;
    }
    FileWrite write;
    write.target = JoinPath(folder, leaf);
    if (made && i < made->size() && !(*made)[i].empty()) write.bytes = std::move((*made)[i]);
    else write.bytes = PathToBytes(M3uText(list.name, list.paths, nullptr));
    writes.push_back(std::move(write));
  }
  return writes;
}

size_t CountFailedWrites(const std::vector<FileWrite>& writes) {
  size_t failed = 0;
  for (const FileWrite& write : writes) {
    if (write.ok) continue;
    WriteLog(L"Couldn't write {} ({})", write.target, write.error);
    NoteFailedWrite(write.target, write.error);
    ++failed;
  }
  return failed;
}

size_t SaveLists(const std::vector<int>& indexes) {
  size_t failed = 0;
  std::vector<FileWrite> writes = ListFileWrites(indexes, nullptr, &failed);
  WaitForLibraryFiles();
  WriteFilesAtomic(writes);
  return failed + CountFailedWrites(writes);
}

std::wstring M3uText(const std::wstring& listName, const std::vector<std::wstring>& paths, size_t* kept) {
  std::wstring text = kListHeader;
  size_t written = 0;
  for (const std::wstring& path : paths) {
    if (!PathFitsOnLine(path)) {
      WriteLog(L"Library: left out of the list \"{}\", the path can't stand on one line: \"{}\"", listName,
               Printable(path));
      continue;
    }
    // A name that is not UTF-8 is kept as a file URL: the playlist stays UTF-8 and the bytes survive.
    text += PathHasRawBytes(path) ? PathToFileUrl(path) : path;
    text += L'\n';
    ++written;
  }
  if (kept) *kept = written;
  return text;
}

size_t ListSize(const TrackList& list) { return list.paths.size(); }

// --- Editing ---

int CreateList(const std::wstring& name) {
  std::wstring trimmed = name;
  while (!trimmed.empty() && trimmed.back() == L' ') trimmed.pop_back();
  if (trimmed.empty()) return -1;
  for (const TrackList& list : TrackLists) {
    if (SameNameIgnoringCase(list.name, trimmed)) {
      ShowStatus(L"A list with that name already exists");
      return -1;
    }
  }
  int owner = ListSharingFile(trimmed);
  if (owner >= 0) {
    ShowStatus(UiFormat(L"That name would share a file with the list \u201c{}\u201d \u2014 choose another name",
                        TrackLists[owner].name));
    return -1;
  }
  TrackList list;
  list.name = trimmed;
  SaveList(list);
  TrackLists.push_back(std::move(list));
  int index = static_cast<int>(TrackLists.size()) - 1;
  if (ListViewHooks.showList) ListViewHooks.showList(index);
  return index;
}

void AddToList(int index, const std::wstring& path) {
  if (index < 0 || static_cast<size_t>(index) >= TrackLists.size()) {
    WriteLog(L"Library: no list {} to add \"{}\" to", index, Printable(path));
    return;
  }
  TrackList& list = TrackLists[index];
  list.paths.push_back(path);
  const bool saved = SaveList(list);
  if (ListViewHooks.refreshList) ListViewHooks.refreshList(index);
  if (saved) ShowStatus(L"Added to " + list.name);
}

// --- Playlists from elsewhere ---

std::vector<std::wstring> ImportM3u(const std::wstring& playlistPath) {
  std::vector<std::wstring> found;
  std::string bytes;
  if (ReadBytes(playlistPath, &bytes, kMaxPlaylistBytes) != ReadStatus::Ok) {
    WriteLog(L"Library: the playlist {} couldn't be read", playlistPath);
    return found;
  }
  std::string_view view(bytes);
  if (view.substr(0, 3) == "\xEF\xBB\xBF") view.remove_prefix(3);
  const std::wstring folder = PathFromBytes(fs::path(PathToBytes(playlistPath)).parent_path().native());
  const auto resolve = [&](const std::wstring& raw) -> std::optional<std::wstring> {
    std::wstring line = Trimmed(raw);
    if (line.empty() || line[0] == L'#') return std::nullopt;
    if (IsFileUrlLine(line)) {
      line = FileUrlToPath(line);
      if (line.empty()) return std::nullopt;  // another computer's file
    }
    std::optional<std::wstring> path = ResolveEntry(line, folder);
    // Playlists written on Windows separate folders with '\'; a Linux name may hold one, so the
    // line as written is tried first.
    if (!path && line.find(L'\\') != std::wstring::npos) {
      std::replace(line.begin(), line.end(), L'\\', L'/');
      path = ResolveEntry(line, folder);
    }
    return path;
  };
  // A playlist that is not UTF-8 is read in the Windows code page; where that names no file, its
  // line's bytes may be a Linux file name as it stands (a Latin-1 name).
  const std::vector<std::wstring> lines = SplitString(Utf8OrWindows1252ToWide(view), L'\n');
  const std::vector<std::wstring> byteLines = SplitString(PathFromBytes(view), L'\n');
  for (size_t i = 0; i < lines.size(); ++i) {
    std::optional<std::wstring> path = resolve(lines[i]);
    if (!path && i < byteLines.size() && byteLines[i] != lines[i]) path = resolve(byteLines[i]);
    if (path) found.push_back(std::move(*path));
  }
  return found;
}

size_t AutomixListSize() {
  return TrackLists.size() > static_cast<size_t>(kAutomixList) ? TrackLists[kAutomixList].paths.size() : 0;
}

std::wstring TakeFromAutomixList(size_t index) {
  TrackList& list = TrackLists[kAutomixList];
  std::wstring path = std::move(list.paths[index]);
  list.paths.erase(list.paths.begin() + static_cast<ptrdiff_t>(index));
  SaveList(list);
  if (ListViewHooks.refreshList) ListViewHooks.refreshList(kAutomixList);
  return path;
}
