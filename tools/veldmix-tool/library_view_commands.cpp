// Library view commands over the program's data folder, running the real scan worker and applying
// its completions on this thread as the main window does: search, crates, mix-order,
// find-duplicates. Each prints the status line's text last when the command set one.
#include <array>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "base/log.h"
#include "base/settings.h"
#include "base/status_message.h"
#include "base/text_parse.h"
#include "library/crates.h"
#include "library/database.h"
#include "library/duplicates.h"
#include "library/mix_order.h"
#include "library/track_lists.h"
#include "library/track_view.h"
#include "platform/text.h"
#include "platform/ui_post.h"
#include "tools/veldmix-tool/commands.h"
#include "tools/veldmix-tool/library_tool.h"

namespace {

constexpr const char* kSearchUsage =
    "usage: veldmix-tool search TEXT [--folder DIR|--list NAME|--crate NAME]\n"
    "         [--sort title|artist|bpm|key|time|energy|rating|genre|plays|played|added|colour|source] [--descending]\n";
constexpr const char* kCratesUsage = "usage: veldmix-tool crates [add NAME SEARCH|edit INDEX NAME SEARCH]\n";
constexpr const char* kMixOrderUsage = "usage: veldmix-tool mix-order --list NAME | --folder DIR [--search TEXT]\n";
constexpr const char* kDuplicatesUsage = "usage: veldmix-tool find-duplicates --folder DIR\n";

// The sort names in SortKey order; "source" is the scan order.
constexpr std::array<const char*, 12> kSortNames = {"title",  "artist", "bpm",   "key",    "time",  "energy",
                                                    "rating", "genre",  "plays", "played", "added", "colour"};

int Usage(const char* usage) {
  std::fputs(usage, stderr);
  return 2;
}

int CrateNamed(const std::wstring& name) {
  for (size_t i = 0; i < SmartCrates.size(); ++i)
    if (SmartCrates[i].name == name) return static_cast<int>(i);
  return -1;
}

// search TEXT [source] [--sort KEY] [--descending]: the rows in view: path, title, artist.
int RunSearchCommand(const std::vector<std::string>& args) {
  if (args.empty() || args[0].starts_with("--")) return Usage(kSearchUsage);
  std::optional<std::string> folder, list, crate, sort;
  bool descending = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::optional<std::string>* slot = a == "--folder"  ? &folder
                                       : a == "--list"  ? &list
                                       : a == "--crate" ? &crate
                                       : a == "--sort"  ? &sort
                                                        : nullptr;
    if (a == "--descending" && !descending)
      descending = true;
    else if (!slot || slot->has_value() || i + 1 >= args.size())
      return Usage(kSearchUsage);
    else
      *slot = args[++i];
  }
  if (int(folder.has_value()) + int(list.has_value()) + int(crate.has_value()) > 1) return Usage(kSearchUsage);
  int column = kSortSourceOrder;
  if (sort && *sort != "source") {
    column = -2;
    for (size_t k = 0; k < kSortNames.size(); ++k)
      if (*sort == kSortNames[k]) column = static_cast<int>(k);
    if (column == -2) return Usage(kSearchUsage);
  }
  LoadLibrary(L"search");
  int listIndex = -1, crateIndex = -1;
  if (list && (listIndex = ListNamed(Utf8ToWide(*list))) < 0) {
    std::fprintf(stderr, "veldmix-tool search: no list named \"%s\"\n", list->c_str());
    return Usage(kSearchUsage);
  }
  if (crate && (crateIndex = CrateNamed(Utf8ToWide(*crate))) < 0) {
    std::fprintf(stderr, "veldmix-tool search: no crate named \"%s\"\n", crate->c_str());
    return Usage(kSearchUsage);
  }
  SearchText = Utf8ToWide(args[0]);
  OpenScanPosts();
  if (folder)
    ShowFolderOnly(PathFromBytes(*folder));
  else if (list)
    ShowList(listIndex);
  else if (crate)
    ShowCrate(crateIndex);
  else
    ShowFolder();
  if (sort)
    SortColumn = column, SortAscending = !descending;
  else if (descending)
    SortAscending = false;
  DrainScan();
  RebuildView();
  CloseScanPosts();
  for (int i : ViewOrder) {
    const LibraryFile& f = ViewItems[static_cast<size_t>(i)];
    std::printf("%s\t%s\t%s\n", PathToBytes(f.path).c_str(), WideToUtf8(f.title).c_str(), WideToUtf8(f.artist).c_str());
  }
  PrintStatus();
  return 0;
}

// crates [add NAME SEARCH | edit INDEX NAME SEARCH]: changes the crates, then lists them: index,
// name, search.
int RunCratesCommand(const std::vector<std::string>& args) {
  const bool add = !args.empty() && args[0] == "add" && args.size() == 3;
  const bool edit = !args.empty() && args[0] == "edit" && args.size() == 4;
  if (!args.empty() && !add && !edit) return Usage(kCratesUsage);
  int64_t index = -1;
  if (edit && !ParseInteger(args[1], &index, 0, INT32_MAX)) return Usage(kCratesUsage);
  LoadLibrary(L"crates");
  if (edit && index >= static_cast<int64_t>(SmartCrates.size())) {
    std::fprintf(stderr, "veldmix-tool crates: no crate %lld\n", static_cast<long long>(index));
    return Usage(kCratesUsage);
  }
  StartScanWorkerHook = nullptr;  // showing the crate needs no files here
  const size_t before = SmartCrates.size();
  if (add) CreateCrate(Utf8ToWide(args[1]), Utf8ToWide(args[2]));
  if (edit) UpdateCrate(static_cast<int>(index), Utf8ToWide(args[2]), Utf8ToWide(args[3]));
  for (size_t i = 0; i < SmartCrates.size(); ++i)
    std::printf("%zu\t%s\t%s\n", i, WideToUtf8(SmartCrates[i].name).c_str(), WideToUtf8(SmartCrates[i].search).c_str());
  if ((add || edit) && CratesNoSave) {
    std::fprintf(stderr, "veldmix-tool crates: %s couldn't be read, so it was not overwritten; %s\n",
                 WideToUtf8(kCratesFile).c_str(),
                 add && SmartCrates.size() > before ? "the crate is not saved" : "the change is not saved");
    return 1;
  }
  PrintStatus();
  return 0;
}

// The view of DIR with the search, scanned to its end.
// mix-order --list NAME | --folder DIR [--search TEXT]: orders, then prints the written list.
int RunMixOrderCommand(const std::vector<std::string>& args) {
  std::optional<std::string> list, folder, search;
  for (size_t i = 0; i < args.size(); i += 2) {
    std::optional<std::string>* slot = args[i] == "--list"     ? &list
                                       : args[i] == "--folder" ? &folder
                                       : args[i] == "--search" ? &search
                                                               : nullptr;
    if (!slot || slot->has_value() || i + 1 >= args.size()) return Usage(kMixOrderUsage);
    *slot = args[i + 1];
  }
  if (list.has_value() == folder.has_value() || (list && search)) return Usage(kMixOrderUsage);
  LoadLibrary(L"mix-order");
  if (list) {
    const int index = ListNamed(Utf8ToWide(*list));
    if (index < 0) {
      std::fprintf(stderr, "veldmix-tool mix-order: no list named \"%s\"\n", list->c_str());
      return Usage(kMixOrderUsage);
    }
    StartScanWorkerHook = nullptr;
    MixOrderList(index);
  } else {
    ScanFolderView(PathFromBytes(*folder), search ? Utf8ToWide(*search) : std::wstring());
    MixOrderView();
  }
  PrintShownList();
  PrintStatus();
  return 0;
}

// find-duplicates --folder DIR: the Duplicates list when one was written, then the status text.
int RunFindDuplicatesCommand(const std::vector<std::string>& args) {
  if (args.size() != 2 || args[0] != "--folder") return Usage(kDuplicatesUsage);
  LoadLibrary(L"find-duplicates");
  ScanFolderView(PathFromBytes(args[1]), L"");
  FindDuplicates();
  PrintShownList();
  PrintStatus();
  return 0;
}

}  // namespace

const ToolCommand kLibraryViewCommands[] = {
    {"search", "TEXT [--folder D|--list N|--crate N] [--sort K] [--descending]",
     "the rows a search shows: path, title, artist", RunSearchCommand},
    {"crates", "[add NAME SEARCH|edit I NAME SEARCH]", "change and list the smart crates", RunCratesCommand},
    {"mix-order", "--list NAME | --folder DIR [--search T]", "order tracks for mixing into a list", RunMixOrderCommand},
    {"find-duplicates", "--folder DIR", "gather songs found in more than one file", RunFindDuplicatesCommand},
};
const int kLibraryViewCommandCount = static_cast<int>(sizeof kLibraryViewCommands / sizeof kLibraryViewCommands[0]);
