// Library commands over the program's data folder, running the real workers and applying their
// completions on this thread as the main window does: scan, analyse-view, mytags, relocate.
#include <chrono>
#include <functional>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/log.h"
#include "app/status_message.h"
#include "library/database.h"
#include "library/folder_scan.h"
#include "library/track_lists.h"
#include "platform/text.h"
#include "platform/ui_post.h"
#include "tools/veldmix-tool/commands.h"

namespace {

constexpr auto kDrainPoll = std::chrono::milliseconds(2);

constexpr const char* kScanUsage = "usage: veldmix-tool scan [FOLDER...] [--list NAME]\n";

// The status line's text, last, when a command set one.
void PrintStatus() {
  if (!Status.text.empty()) std::printf("%s\n", WideToUtf8(Status.text).c_str());
}

// The list of that name (exact, else ignoring case), or -1.
int ListNamed(const std::wstring& name) {
  for (size_t i = 0; i < TrackLists.size(); ++i)
    if (TrackLists[i].name == name) return static_cast<int>(i);
  for (size_t i = 0; i < TrackLists.size(); ++i)
    if (LowerText(TrackLists[i].name) == LowerText(name)) return static_cast<int>(i);
  return -1;
}

// FOLDER... [--list NAME] into a scan job; false on a bad argument (printed).
bool ParseViewArgs(const std::vector<std::string>& args, const char* usage, ScanJob* job) {
  std::optional<std::wstring> list;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--list") {
      if (i + 1 >= args.size() || list) {
        std::fputs(usage, stderr);
        return false;
      }
      list = Utf8ToWide(args[++i]);
    } else if (args[i].empty() || args[i].starts_with("-")) {
      std::fputs(usage, stderr);
      return false;
    } else {
      job->folders.push_back(Utf8ToWide(args[i]));
    }
  }
  if (list) {
    TrackLists = LoadLists();
    const int index = ListNamed(*list);
    if (index < 0) {
      std::fprintf(stderr, "veldmix-tool: no list named \"%s\"\n%s", WideToUtf8(*list).c_str(), usage);
      return false;
    }
    job->singleFiles = TrackLists[static_cast<size_t>(index)].paths;
  }
  return true;
}

// Runs the scan worker and hands each current batch, in order, to onBatch until it reports done.
void RunScan(ScanJob job, const std::function<void(std::vector<LibraryFile>&)>& onBatch) {
  OpenUiPosts(nullptr);
  job.generation = ++ScanGeneration;
  const uint32_t generation = job.generation;
  StartScanWorker(std::move(job));
  bool done = false;
  while (!done) {
    DrainUiPosts([&](const UiPost& post) {
      if (post.message == kScanBatchPost) {
        std::unique_ptr<std::vector<LibraryFile>> batch(static_cast<std::vector<LibraryFile>*>(post.lparam));
        if (post.wparam == generation) onBatch(*batch);
      } else if (post.message == kScanDonePost && post.wparam == generation) {
        done = true;
      }
    });
    if (!done) std::this_thread::sleep_for(kDrainPoll);
  }
  CloseUiPosts([](const UiPost& post) {
    if (post.message == kScanBatchPost) delete static_cast<std::vector<LibraryFile>*>(post.lparam);
  });
}

// scan [FOLDER...] [--list NAME]: each file in delivery order, tab-separated: index, duration,
// modified, title, artist, genre, path.
int RunScanCommand(const std::vector<std::string>& args) {
  ScanJob job;
  if (!ParseViewArgs(args, kScanUsage, &job)) return 2;
  StartLog(L"scan");
  RunScan(std::move(job), [](std::vector<LibraryFile>& batch) {
    for (const LibraryFile& f : batch)
      std::printf("%u\t%.3f\t%lld\t%s\t%s\t%s\t%s\n", f.index, f.duration, static_cast<long long>(f.modified),
                  WideToUtf8(f.title).c_str(), WideToUtf8(f.artist).c_str(), WideToUtf8(f.genre).c_str(),
                  WideToUtf8(f.path).c_str());
  });
  PrintStatus();
  return 0;
}

}  // namespace

const ToolCommand kLibraryScanCommands[] = {
    {"scan", "[FOLDER...] [--list NAME]", "list the audio files a scan delivers, with their tags", RunScanCommand},
};
const int kLibraryScanCommandCount = static_cast<int>(std::size(kLibraryScanCommands));
