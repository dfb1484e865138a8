#include "base/log.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <iterator>
#include <system_error>
#include <vector>

#include "base/crash_report.h"
#include "platform/append_file.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/system_info.h"
#include "platform/text.h"

namespace {

namespace fs = std::filesystem;

// A larger log is moved aside at the next start; a log of exactly this size is continued.
constexpr long long kRotateAboveBytes = 2'097'152;
constexpr size_t kKeptCrashDumps = 5;
constexpr size_t kMaxMessageChars = 1024;
constexpr double kBytesPerGiB = 1073741824.0;

// Set once by StartLog before other threads exist; the handle is never closed.
std::atomic<int> g_logHandle{-1};
// Cached so that the lines of a crash report written by a forked child carry the crashed pid.
unsigned long g_processId = 0;
std::wstring g_supportFolder;
bool g_previousRunCrashed = false;

struct DumpFile {
  fs::path path;
  fs::file_time_type written;
  bool timeKnown = false;
};

// Crash dumps newest first; a file whose time cannot be read counts as the oldest.
bool NewestFirst(const DumpFile& a, const DumpFile& b) {
  if (a.timeKnown != b.timeKnown) return a.timeKnown;
  return a.timeKnown && a.written > b.written;
}

void PruneCrashDumps(const std::wstring& folder) {
  std::vector<DumpFile> dumps;
  std::error_code ec;
  for (fs::directory_iterator it(fs::path(PathToBytes(folder)), ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code entryError;
    if (!it->is_regular_file(entryError) || it->path().extension() != ".dmp") continue;
    DumpFile dump{it->path(), {}, false};
    dump.written = it->last_write_time(entryError);
    dump.timeKnown = !entryError;
    dumps.push_back(dump);
  }
  if (dumps.size() <= kKeptCrashDumps) return;
  std::stable_sort(dumps.begin(), dumps.end(), NewestFirst);
  for (size_t i = kKeptCrashDumps; i < dumps.size(); ++i) DeleteFileAt(PathFromBytes(dumps[i].path.string()));
}

}  // namespace

void StartLog(const std::wstring& argumentText) {
  g_processId = CurrentProcessId();
  const std::wstring base = LocalDataBase();
  g_supportFolder = base.empty() ? std::wstring() : JoinPath(base, L"Veldmix");
  const std::wstring& folder = g_supportFolder;
  if (!folder.empty()) {
    CreateFolderTree(folder);
    g_previousRunCrashed = DeleteFileAt(JoinPath(folder, L"last-crash"));
    PruneCrashDumps(folder);
    const std::wstring log = JoinPath(folder, L"Veldmix.log");
    // A failed move leaves the big log in place and it is continued.
    if (FileSize(log) > kRotateAboveBytes) MoveReplace(log, JoinPath(folder, L"Veldmix.old.log"));
    g_logHandle.store(OpenAppendFile(log), std::memory_order_release);
  }
  InstallCrashHandlers(folder);
  WriteLog(L"==== Veldmix {} started on Linux {}, {} logical processors, {:.1f} GB RAM", L"" VELDMIX_VERSION,
           KernelRelease(), LogicalProcessorCount(), static_cast<double>(PhysicalMemoryBytes()) / kBytesPerGiB);
  if (!argumentText.empty()) WriteLog(L"Command line: {}", argumentText);
  if (g_previousRunCrashed) WriteLog(L"The previous run crashed (see the report above)");
}

void WriteLogText(std::wstring_view message) {
  const int handle = g_logHandle.load(std::memory_order_acquire);
  if (handle < 0) return;
  if (message.size() > kMaxMessageChars) message = message.substr(0, kMaxMessageChars);
  const LocalTime t = NowLocal();
  // Built whole in the caller's buffer and written with one call: that is what keeps the lines
  // of concurrent threads apart without a lock.
  fmt::memory_buffer line;
  fmt::format_to(std::back_inserter(line), "{:04}-{:02}-{:02} {:02}:{:02}:{:02}.{:03} [{}] {}\r\n", t.year, t.month,
                 t.day, t.hour, t.minute, t.second, t.millisecond, g_processId, WideToUtf8(message));
  AppendToFile(handle, std::string_view(line.data(), line.size()));
}

bool PreviousRunCrashed() { return g_previousRunCrashed; }

std::wstring SupportFolder() {
  if (!g_supportFolder.empty()) return g_supportFolder;
  // Before StartLog (a tool that keeps no log) the folder is still where StartLog would put it.
  const std::wstring base = LocalDataBase();
  return base.empty() ? std::wstring() : JoinPath(base, L"Veldmix");
}
