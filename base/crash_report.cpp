#include "base/crash_report.h"

#include <atomic>
#include <csignal>
#include <exception>
#include <iterator>
#include <vector>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "base/log.h"
#include "platform/crash.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/system_info.h"
#include "platform/text.h"

namespace {

constexpr int kExitCodeWithoutSignal = 3;
constexpr unsigned kReportTimeoutMs = 30000;
constexpr size_t kReasonChars = 512;
constexpr size_t kExceptionTextChars = 400;
constexpr size_t kDescriptionChars = 600;
constexpr size_t kMarkerPathBytes = 4096;

struct CrashJob {
  const FatalEvent* event = nullptr;
  bool describeException = false;  // the terminate and abort paths name the exception in flight
  unsigned long processId = 0;     // of the crashed process, not of the child writing the report
};

std::atomic<bool> g_firstWins{false};
std::atomic<unsigned long> g_reportingThread{0};
bool g_inReportChild = false;
wchar_t g_reason[kReasonChars];
// Never destroyed: a crash while static objects are torn down at exit still finds it whole.
std::wstring& g_supportFolder = *new std::wstring;
// The marker path as bytes, ready before any crash: the crashed side may not allocate.
char g_markerPath[kMarkerPathBytes];

std::wstring DescribeCurrentException(const std::wstring& label) {
  std::exception_ptr current = std::current_exception();
  if (!current) return label;
  std::wstring text;
  try {
    std::rethrow_exception(current);
  } catch (const std::exception& error) {
    text = L"unhandled C++ exception: " + Utf8ToWide(error.what());
  } catch (...) {
    text = L"unhandled C++ exception";
  }
  if (text.size() > kExceptionTextChars) text.resize(kExceptionTextChars);
  return text;
}

std::wstring ModuleName(const CodeLocation& where) {
  return where.module.empty() ? std::wstring(L"unknown module") : where.module;
}

std::string DumpText(const CrashJob& job, const std::wstring& reason, const LocalTime& t,
                     const std::vector<std::wstring>& frames) {
  const FatalEvent& event = *job.event;
  fmt::memory_buffer out;
  auto to = std::back_inserter(out);
  fmt::format_to(to, "Veldmix {} crash report\n", VELDMIX_VERSION);
  fmt::format_to(to, "Time: {:04}-{:02}-{:02} {:02}:{:02}:{:02}\n", t.year, t.month, t.day, t.hour, t.minute, t.second);
  fmt::format_to(to, "Process: {}\nThread: {}\nReason: {}\n", job.processId, event.threadId, WideToUtf8(reason));
  if (event.signal != 0) {
    fmt::format_to(to, "Signal: {} {}, code {}\n", event.signal, SignalName(event.signal), event.signalCode);
    fmt::format_to(to, "Fault address: 0x{:X}\nInstruction: 0x{:X}\n", event.faultAddress, event.faultPc);
  } else {
    fmt::format_to(to, "Signal: none\n");
  }
  fmt::format_to(to, "Frames:\n");
  for (size_t i = 0; i < frames.size(); ++i) {
    fmt::format_to(to, "  {:2}  0x{:016X}  {}\n", i, event.frames[i], WideToUtf8(frames[i]));
  }
  fmt::format_to(to, "Memory map:\n{}", ProcessMemoryMap());
  return std::string(out.data(), out.size());
}

// The body of the forked report child; true once the marker is written (or has nowhere to go).
bool WriteCrashReport(void* data) {
  g_inReportChild = true;
  const CrashJob& job = *static_cast<const CrashJob*>(data);
  const FatalEvent& event = *job.event;
  std::wstring reason = g_reason;
  if (job.describeException) reason = DescribeCurrentException(reason);
  if (!reason.empty()) {
    WriteLog(L"CRASH: {} on thread {}", reason, event.threadId);
  } else {
    const CodeLocation where = LookUpCode(event.faultPc, false);
    reason = fmt::format(L"signal {} (address 0x{:X})", Utf8ToWide(SignalName(event.signal)), event.faultAddress);
    WriteLog(L"CRASH: {} at {}+0x{:X} on thread {}", reason, ModuleName(where), where.offset, event.threadId);
  }
  std::vector<std::wstring> frames;
  for (int i = 0; i < event.frameCount; ++i) {
    frames.push_back(DescribeAddress(event.frames[i], !(i == 0 && event.firstFrameIsFault)));
    WriteLog(L"  {:2}  {}", i, frames.back());
  }
  if (g_supportFolder.empty()) return true;
  const LocalTime now = NowLocal();
  const std::wstring dumpPath = JoinPath(g_supportFolder, CrashDumpName(now, job.processId));
  if (WriteBytesAtomic(dumpPath, DumpText(job, reason, now, frames))) {
    WriteLog(L"Crash report saved: {}", dumpPath);
  } else {
    WriteLog(L"The crash report couldn't be written ({})", dumpPath);
  }
  return WriteBytesAtomic(JoinPath(g_supportFolder, L"last-crash"), "");
}

// The common fatal path; may run inside a signal handler, so until the fork it only copies
// and calls async-signal-safe functions. Never returns.
[[noreturn]] void OnFatal(const FatalEvent* event, const wchar_t* text, bool describeException, int exitCode) {
  // The report child inherits these handlers; failing there must end the child, not wait.
  if (g_inReportChild) ExitProcessNow(exitCode);
  if (g_firstWins.exchange(true)) {
    // The reporting thread failing again would otherwise wait for itself.
    if (g_reportingThread.load() == CurrentThreadId()) ExitProcessNow(exitCode);
    SleepForever();
  }
  g_reportingThread.store(CurrentThreadId());
  size_t n = 0;
  for (; text && text[n] != L'\0' && n + 1 < kReasonChars; ++n) g_reason[n] = text[n];
  g_reason[n] = L'\0';
  CrashJob job{event, describeException, CurrentProcessId()};
  if (!RunInForkedChild(WriteCrashReport, &job, kReportTimeoutMs) && g_markerPath[0] != '\0') {
    CreateEmptyFile(g_markerPath);
  }
  ExitProcessNow(exitCode);
}

[[noreturn]] void AbortHandler(FatalEvent* event) {
  OnFatal(event, L"abort()", true, kExitCodeWithoutSignal);
}

// Every fatal signal arrives here, on the faulting thread.
void CrashFilter(FatalEvent* event) {
  if (event->signal == SIGABRT) AbortHandler(event);
  OnFatal(event, nullptr, false, 128 + event->signal);
}

[[noreturn]] void TerminateHandler() {
  FatalEvent event;
  CaptureCallerStack(&event);
  OnFatal(&event, L"std::terminate", true, kExitCodeWithoutSignal);
}

[[noreturn]] void PureCallHandler() {
  FatalEvent event;
  CaptureCallerStack(&event);
  OnFatal(&event, L"pure virtual function call", false, kExitCodeWithoutSignal);
}

}  // namespace

void InstallCrashHandlers(const std::wstring& supportFolder) {
  g_supportFolder = supportFolder;
  g_markerPath[0] = '\0';
  if (!supportFolder.empty()) {
    const std::string marker = PathToBytes(JoinPath(supportFolder, L"last-crash"));
    // A cut path would name another file: then only the report child writes the marker.
    if (marker.size() < kMarkerPathBytes) {
      marker.copy(g_markerPath, marker.size());
      g_markerPath[marker.size()] = '\0';
    }
  }
  std::set_terminate(TerminateHandler);
  SetPureVirtualCallHandler(PureCallHandler);
  InstallFatalSignalHandlers(CrashFilter);
}

std::wstring DescribeAddress(uintptr_t address, bool isReturnAddress) {
  const CodeLocation where = LookUpCode(address, isReturnAddress);
  std::wstring text;
  if (where.function.empty()) {
    text = fmt::format(L"{}+0x{:X}", ModuleName(where), where.offset);
  } else if (where.file.empty()) {
    text = fmt::format(L"{}+0x{:X} ({})", ModuleName(where), where.offset, where.function);
  } else {
    text = fmt::format(L"{}+0x{:X} ({}, {}:{})", ModuleName(where), where.offset, where.function, where.file, where.line);
  }
  if (text.size() > kDescriptionChars) text.resize(kDescriptionChars);
  return text;
}

std::wstring CrashDumpName(const LocalTime& t, unsigned long processId) {
  return fmt::format(L"Veldmix {} crash {:04}-{:02}-{:02} {:02}{:02}{:02}-{}.dmp", L"" VELDMIX_VERSION, t.year,
                     t.month, t.day, t.hour, t.minute, t.second, processId);
}
