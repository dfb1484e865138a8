// Collection exchange over the program's data folder: import another DJ program's collection
// through the real import thread and merge, and export the library or a list for rekordbox
// through the real export job.
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "base/log.h"
#include "base/status_message.h"
#include "library/database.h"
#include "library/import_merge.h"
#include "library/import_worker.h"
#include "library/rekordbox_export.h"
#include "library/track_lists.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/ui_post.h"
#include "tools/veldmix-tool/commands.h"
#include "tools/veldmix-tool/library_tool.h"
#include "ui/exchange_dialogs.h"
#include "ui/file_dialogs.h"

namespace {

constexpr auto kDrainPoll = std::chrono::milliseconds(2);
constexpr const char* kImportUsage = "usage: veldmix-tool import rekordbox|itunes|serato|traktor|virtualdj [PATH]\n";
constexpr const char* kExportUsage = "usage: veldmix-tool export-rekordbox OUT.xml [--list NAME]\n";

// Source names in ImportSource order.
constexpr std::array<const char*, kImportSourceCount> kSourceNames = {"rekordbox", "itunes", "serato", "traktor",
                                                                      "virtualdj"};

int Usage(const char* usage) {
  std::fputs(usage, stderr);
  return 2;
}

int SourceNamed(const std::string& name) {
  for (size_t i = 0; i < kSourceNames.size(); ++i)
    if (name == kSourceNames[i]) return static_cast<int>(i);
  return -1;
}

void LoadLibraryFiles(const wchar_t* command) {
  StartLog(command);
  LoadDatabase();
  TrackLists = LoadLists();
}

// Serves completions as the main window does until `message` arrives, which `handle` takes.
template <typename Handle>
void WaitForPost(int message, Handle handle) {
  bool done = false;
  while (!done) {
    DrainUiPosts([&](const UiPost& post) {
      if (post.message != message) return;
      handle(post);
      done = true;
    });
    if (!done) std::this_thread::sleep_for(kDrainPoll);
  }
}

// import SOURCE [PATH]: runs the importer on the import thread (PATH, else the source's chooser),
// merges the result into the data folder and prints the report; exit 1 when the import failed,
// was cancelled or could not be saved.
int RunImportCommand(const std::vector<std::string>& args) {
  if (args.empty() || args.size() > 2) return Usage(kImportUsage);
  const int source = SourceNamed(args[0]);
  if (source < 0) return Usage(kImportUsage);
  LoadLibraryFiles(L"import");
  OpenUiPosts(nullptr);
  const bool started = args.size() == 2 ? StartImport(static_cast<uint32_t>(source), PathFromBytes(args[1]))
                                        : ImportLibraryDialog(source);
  if (!started) {
    CloseUiPosts([](const UiPost&) {});
    std::fputs("veldmix-tool import: nothing was chosen; no import started\n", stderr);
    return 1;
  }
  bool merged = false;
  WaitForPost(kImportPost, [&](const UiPost& post) {
    merged = MergeImport(static_cast<int>(post.wparam), static_cast<ImportResult*>(post.lparam));
  });
  CloseUiPosts([](const UiPost& post) {
    if (post.message == kImportPost) FreeImportResult(post.lparam);
  });
  std::FILE* to = merged ? stdout : stderr;
  std::fprintf(to, "%s\n", WideToUtf8(LastImportReport).c_str());
  return merged ? 0 : 1;
}

// export-rekordbox OUT.xml [--list NAME]: the export job of the whole library or one list, its
// Save dialog answered with OUT; prints the job's report; exit 1 when it failed.
int RunExportCommand(const std::vector<std::string>& args) {
  if (args.size() != 1 && !(args.size() == 3 && args[1] == "--list")) return Usage(kExportUsage);
  LoadLibraryFiles(L"export-rekordbox");
  int list = -1;
  if (args.size() == 3) {
    list = ListNamed(Utf8ToWide(args[2]));
    if (list < 0) {
      std::fprintf(stderr, "veldmix-tool export-rekordbox: no list named %s\n", args[2].c_str());
      return 1;
    }
  }
  std::error_code ec;
  const std::filesystem::path out = std::filesystem::absolute(args[0], ec);
  const std::filesystem::path answers =
      std::filesystem::temp_directory_path(ec) / ("veldmix-export-answer-" + std::to_string(getpid()));
  if (!WriteBytesAtomic(PathFromBytes(answers.native()), out.native() + "\n")) {
    std::fputs("veldmix-tool export-rekordbox: couldn't answer the Save dialog\n", stderr);
    return 1;
  }
  setenv(kDialogAnswersVariable, answers.c_str(), 1);
  OpenUiPosts(nullptr);
  const bool started = StartRekordboxExport(list);
  std::filesystem::remove(answers, ec);
  if (!started) {
    CloseUiPosts([](const UiPost&) {});
    std::fputs("veldmix-tool export-rekordbox: no export started\n", stderr);
    return 1;
  }
  bool failed = true;
  WaitForPost(kExportStatusPost, [&](const UiPost& post) {
    std::unique_ptr<UiText> text(static_cast<UiText*>(post.lparam));
    failed = post.wparam != 0;
    std::fprintf(failed ? stderr : stdout, "%s\n", WideToUtf8(EnglishText(*text)).c_str());
  });
  CloseUiPosts([](const UiPost& post) {
    if (post.message == kExportStatusPost) delete static_cast<UiText*>(post.lparam);
  });
  return failed ? 1 : 0;
}

}  // namespace

const ToolCommand kImportCommands[] = {
    {"import", "rekordbox|itunes|serato|traktor|virtualdj [PATH]", "import another DJ program's collection",
     RunImportCommand},
    {"export-rekordbox", "OUT.xml [--list NAME]", "export the library or a list for rekordbox", RunExportCommand},
};
const int kImportCommandCount = static_cast<int>(std::size(kImportCommands));
