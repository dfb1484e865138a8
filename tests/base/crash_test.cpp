#include <gtest/gtest.h>

#include <dlfcn.h>
#include <elf.h>
#include <unistd.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <latch>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/crash_report.h"
#include "base/log.h"
#include "platform/text.h"
#include "support/temp_home.h"

// Each crash happens for real in a forked child (a death test) that started the log first; the
// test then reads the log, the report file and the marker the crash left behind.

namespace fs = std::filesystem;

// Outside the anonymous namespace, so the compiler cannot know every class derived from it and
// drop the call; the volatile pointer hides that the object is the one under construction.
namespace crash_test_types {
struct HalfBuiltDeck {
  HalfBuiltDeck();
  virtual ~HalfBuiltDeck() = default;
  virtual void Describe() = 0;
};
struct TurntableDeck : HalfBuiltDeck {
  void Describe() override {}
};
HalfBuiltDeck* volatile g_deckUnderConstruction = nullptr;
HalfBuiltDeck::HalfBuiltDeck() {
  g_deckUnderConstruction = this;
  g_deckUnderConstruction->Describe();
}
}  // namespace crash_test_types

namespace {

constexpr int kExitPreviousRunCrashed = 10;
constexpr int kExitWithoutSignal = 3;
constexpr int kSymbolProbeLine = __LINE__ + 1;
[[gnu::noinline]] int SymbolProbe(int x) { return x * 3 + 1; }

// The fault is the point: the undefined-behaviour checker must let it reach the signal handler,
// and the thread checker must not call two threads faulting at once a race.
constexpr int kNullWriteLine = __LINE__ + 4;
[[gnu::noinline, gnu::no_sanitize("undefined", "thread")]] void CrashByNullWrite() {
  // volatile twice: the compiler may neither drop the store nor prove the pointer null.
  volatile int* volatile target = nullptr;
  *target = 7;
}

// Each level keeps a page alive so the UI thread's stack runs out within a few thousand calls.
[[gnu::noinline]] int RecurseWithoutEnd(int depth) {
  volatile char page[4096];
  page[0] = static_cast<char>(depth);
  if (depth < 0) return 0;
  return RecurseWithoutEnd(depth + 1) + page[0];
}

[[gnu::noinline]] void OverflowTheStack() { std::_Exit(RecurseWithoutEnd(0)); }

[[gnu::noinline]] void ThrowFromWorker() { throw std::runtime_error("deck A decoder gave up"); }

[[gnu::noinline]] void ThrowOnWorkerThread() {
  std::thread worker(ThrowFromWorker);
  worker.join();
}

[[gnu::noinline]] void AbortHere() { std::abort(); }

[[gnu::noinline]] void CallPureVirtual() { crash_test_types::TurntableDeck deck; }

// Each thread faults on a small signal stack of its own, as some libraries give their threads.
[[gnu::noinline]] void CrashOnTwoThreadsAtOnce() {
  std::latch ready(2);
  auto crash = [&ready] {
    static thread_local char signalStack[64 * 1024];
    stack_t stack{};
    stack.ss_sp = signalStack;
    stack.ss_size = sizeof signalStack;
    sigaltstack(&stack, nullptr);
    ready.arrive_and_wait();
    CrashByNullWrite();
  };
  std::thread a(crash);
  std::thread b(crash);
  a.join();
  b.join();
}

// Folders named like every report file of the next half minute make writing the report fail.
[[gnu::noinline]] void CrashWithReportBlocked() {
  const std::string folder = WideToUtf8(SupportFolder());
  const auto now = std::chrono::system_clock::now();
  for (int s = 0; s < 30; ++s) {
    const std::time_t when = std::chrono::system_clock::to_time_t(now + std::chrono::seconds(s));
    std::tm t{};
    localtime_r(&when, &t);
    LocalTime local{static_cast<unsigned>(t.tm_year + 1900), static_cast<unsigned>(t.tm_mon + 1),
                    static_cast<unsigned>(t.tm_mday), static_cast<unsigned>(t.tm_hour),
                    static_cast<unsigned>(t.tm_min), static_cast<unsigned>(t.tm_sec), 0};
    fs::create_directory(folder + "/" + WideToUtf8(CrashDumpName(local, static_cast<unsigned long>(getpid()))));
  }
  CrashByNullWrite();
}

[[noreturn]] void StartThenRun(void (*action)()) {
  StartLog(L"");
  action();
  std::_Exit(0);
}

[[noreturn]] void StartThenExit() {
  StartLog(L"");
  std::_Exit(PreviousRunCrashed() ? kExitPreviousRunCrashed : 0);
}

std::string SupportDir(const TempHome& home) { return home.path() + "/state/Veldmix"; }
std::string ReadLog(const TempHome& home) { return ReadRaw(SupportDir(home) + "/Veldmix.log"); }

std::vector<std::string> DumpFiles(const TempHome& home) {
  std::vector<std::string> found;
  for (const auto& entry : fs::directory_iterator(SupportDir(home))) {
    if (entry.is_regular_file() && entry.path().extension() == ".dmp") found.push_back(entry.path().string());
  }
  return found;
}

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// The pid in the log line's brackets and the thread named by the CRASH line.
struct CrashLine {
  unsigned long pid = 0;
  unsigned long thread = 0;
};

CrashLine FindCrashLine(const std::string& log, const std::string& pattern) {
  std::smatch m;
  const std::regex line("\\[(\\d+)\\] CRASH: " + pattern + " on thread (\\d+)\r\n");
  EXPECT_TRUE(std::regex_search(log, m, line)) << "no CRASH line matching " << pattern << " in:\n" << log;
  if (m.empty()) return {};
  return {std::stoul(m[1]), std::stoul(m[m.size() - 1])};
}

// A frame line "  N  module+0xOFFSET (function...)" that names the function.
bool HasFrameNaming(const std::string& log, const std::string& function) {
  const std::regex frame("\\] +\\d+  veldmix_tests\\+0x[0-9A-F]+ \\([^\r\n]*" + function + "[^\r\n]*\\)\r\n");
  return std::regex_search(log, frame);
}

// Whether this program carries a line table (.debug_line): a build without debug information (a
// packager's plain Release build) has function names but no source lines to give.
bool HasLineTable() {
  std::ifstream exe("/proc/self/exe", std::ios::binary);
  Elf64_Ehdr header{};
  if (!exe.read(reinterpret_cast<char*>(&header), sizeof header) || header.e_shstrndx >= header.e_shnum) return false;
  std::vector<Elf64_Shdr> sections(header.e_shnum);
  exe.seekg(static_cast<std::streamoff>(header.e_shoff));
  if (!exe.read(reinterpret_cast<char*>(sections.data()), static_cast<std::streamsize>(sections.size() * sizeof(Elf64_Shdr))))
    return false;
  const Elf64_Shdr& names = sections[header.e_shstrndx];
  std::string table(names.sh_size, '\0');
  exe.seekg(static_cast<std::streamoff>(names.sh_offset));
  if (!exe.read(table.data(), static_cast<std::streamsize>(table.size()))) return false;
  for (const Elf64_Shdr& section : sections)
    if (section.sh_name < table.size() && std::string(table.c_str() + section.sh_name) == ".debug_line") return true;
  return false;
}

// ", FILE:LINE" as a frame names its source where the program has a line table; nothing without.
std::string SourceLine(const std::string& file, int line) {
  return HasLineTable() ? ", " + file + ":" + std::to_string(line) : "";
}

// The report the crash saved, by the path its log line names.
std::string SavedReport(const std::string& log, const TempHome& home) {
  std::smatch m;
  const std::regex saved("Crash report saved: ([^\r\n]+)\r\n");
  if (!std::regex_search(log, m, saved)) return {};
  const std::string path = m[1];
  const std::regex name(SupportDir(home) + "/Veldmix 1\\.0\\.10 crash \\d{4}-\\d\\d-\\d\\d \\d{6}-\\d+\\.dmp");
  EXPECT_TRUE(std::regex_match(path, name)) << path;
  return ReadRaw(path);
}

void ExpectNextStartReportsTheCrashOnce(const TempHome& home) {
  EXPECT_EXIT(StartThenExit(), testing::ExitedWithCode(kExitPreviousRunCrashed), "");
  EXPECT_EXIT(StartThenExit(), testing::ExitedWithCode(0), "");
  const std::string log = ReadLog(home);
  EXPECT_EQ(Count(log, "The previous run crashed (see the report above)\r\n"), 1);
  EXPECT_GT(log.find("The previous run crashed"), log.find("CRASH: "));
  EXPECT_FALSE(fs::exists(SupportDir(home) + "/last-crash"));
}

}  // namespace

TEST(CrashReportDeathTest, FaultLogsSymbolisedStackAndSavesReportAndMarker) {
  TempHome home;
  EXPECT_EXIT(StartThenRun(CrashByNullWrite), testing::ExitedWithCode(128 + SIGSEGV), "");

  const std::string log = ReadLog(home);
  const CrashLine crash =
      FindCrashLine(log, "signal SIGSEGV \\(address 0x0\\) at veldmix_tests\\+0x[0-9A-F]+");
  // The UI thread crashed: its thread id is the process id.
  EXPECT_EQ(crash.thread, crash.pid);
  // Frame 0 is the faulting store itself, down to its source line where there are lines.
  const std::regex top("\\]    0  veldmix_tests\\+0x[0-9A-F]+ \\(\\(anonymous namespace\\)::CrashByNullWrite\\(\\)" +
                       (HasLineTable() ? ", crash_test\\.cpp:" + std::to_string(kNullWriteLine) : "") + "\\)\r\n");
  EXPECT_TRUE(std::regex_search(log, top)) << log;
  EXPECT_TRUE(HasFrameNaming(log, "StartThenRun"));

  const std::string report = SavedReport(log, home);
  EXPECT_NE(report.find("Process: " + std::to_string(crash.pid) + "\n"), std::string::npos) << report;
  EXPECT_NE(report.find("Reason: signal SIGSEGV (address 0x0)\n"), std::string::npos);
  EXPECT_NE(report.find("Signal: 11 SIGSEGV, code 1\n"), std::string::npos);
  EXPECT_NE(report.find("CrashByNullWrite"), std::string::npos);
  const size_t maps = report.find("Memory map:\n");
  ASSERT_NE(maps, std::string::npos);
  EXPECT_NE(report.find("veldmix_tests", maps), std::string::npos);
  EXPECT_EQ(DumpFiles(home).size(), 1u);
  EXPECT_TRUE(fs::exists(SupportDir(home) + "/last-crash"));

  ExpectNextStartReportsTheCrashOnce(home);
}

TEST(CrashReportDeathTest, ExceptionEscapingAThreadNamesItsMessage) {
  TempHome home;
  EXPECT_EXIT(StartThenRun(ThrowOnWorkerThread), testing::ExitedWithCode(kExitWithoutSignal), "");
  const std::string log = ReadLog(home);
  const CrashLine crash = FindCrashLine(log, "unhandled C\\+\\+ exception: deck A decoder gave up");
  EXPECT_NE(crash.thread, crash.pid) << "the worker thread, not the UI thread, failed";
  EXPECT_TRUE(HasFrameNaming(log, "ThrowFromWorker")) << log;
  const std::string report = SavedReport(log, home);
  EXPECT_NE(report.find("Reason: unhandled C++ exception: deck A decoder gave up\n"), std::string::npos) << report;
  EXPECT_NE(report.find("Signal: none\n"), std::string::npos);
  EXPECT_TRUE(fs::exists(SupportDir(home) + "/last-crash"));
}

TEST(CrashReportDeathTest, EachKindOfFatalErrorIsReportedByName) {
  struct FatalCase {
    const char* name;
    void (*action)();
    int exitCode;
    const char* crashPattern;
    const char* frame;
  };
  const FatalCase cases[] = {
      {"abort", AbortHere, kExitWithoutSignal, "abort\\(\\)", "AbortHere"},
      {"pure virtual call", CallPureVirtual, kExitWithoutSignal, "pure virtual function call", "CallPureVirtual"},
      // Only the alternate signal stack lets the UI thread report this one.
      {"stack overflow", OverflowTheStack, 128 + SIGSEGV,
       "signal SIGSEGV \\(address 0x[0-9A-F]+\\) at veldmix_tests\\+0x[0-9A-F]+", "RecurseWithoutEnd"},
  };
  for (const FatalCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempHome home;
    EXPECT_EXIT(StartThenRun(c.action), testing::ExitedWithCode(c.exitCode), "");
    const std::string log = ReadLog(home);
    FindCrashLine(log, c.crashPattern);
    EXPECT_TRUE(HasFrameNaming(log, c.frame)) << log;
    EXPECT_FALSE(SavedReport(log, home).empty());
    EXPECT_TRUE(fs::exists(SupportDir(home) + "/last-crash"));
  }
}

TEST(CrashReportDeathTest, TwoThreadsFaultingTogetherGiveOneReport) {
  TempHome home;
  EXPECT_EXIT(StartThenRun(CrashOnTwoThreadsAtOnce), testing::ExitedWithCode(128 + SIGSEGV), "");
  const std::string log = ReadLog(home);
  EXPECT_EQ(Count(log, "CRASH: "), 1) << log;
  EXPECT_EQ(Count(log, "Crash report saved: "), 1);
  const CrashLine crash = FindCrashLine(log, "signal SIGSEGV \\(address 0x0\\) at veldmix_tests\\+0x[0-9A-F]+");
  EXPECT_NE(crash.thread, crash.pid);
  EXPECT_EQ(DumpFiles(home).size(), 1u);
}

TEST(CrashReportDeathTest, UnwritableReportStillLeavesTheMarker) {
  TempHome home;
  EXPECT_EXIT(StartThenRun(CrashWithReportBlocked), testing::ExitedWithCode(128 + SIGSEGV), "");
  const std::string log = ReadLog(home);
  const std::regex failed("The crash report couldn't be written \\(" + SupportDir(home) +
                          "/Veldmix 1\\.0\\.10 crash [^\r\n]+\\.dmp\\)\r\n");
  EXPECT_TRUE(std::regex_search(log, failed)) << log;
  EXPECT_EQ(log.find("Crash report saved"), std::string::npos);
  EXPECT_TRUE(DumpFiles(home).empty());
  EXPECT_TRUE(fs::exists(SupportDir(home) + "/last-crash"));

  ExpectNextStartReportsTheCrashOnce(home);
}

TEST(CrashSymbols, DescribeAddressNamesModuleFunctionAndLine) {
  const auto address = reinterpret_cast<uintptr_t>(&SymbolProbe);
  Dl_info info{};
  ASSERT_NE(dladdr(reinterpret_cast<void*>(address), &info), 0);
  const uintptr_t offset = address - reinterpret_cast<uintptr_t>(info.dli_fbase);

  char expected[256];
  std::snprintf(expected, sizeof expected, "veldmix_tests+0x%llX ((anonymous namespace)::SymbolProbe(int)%s)",
                static_cast<unsigned long long>(offset), SourceLine("crash_test.cpp", kSymbolProbeLine).c_str());
  EXPECT_EQ(WideToUtf8(DescribeAddress(address, false)), expected);
  EXPECT_EQ(SymbolProbe(1), 4);

  // Code in a shared library is named by that library. (getpid: the sanitizers' runtime replaces
  // write and most other I/O calls with its own, so those would be named by that library.)
  void* getpid_code = dlsym(RTLD_DEFAULT, "getpid");
  ASSERT_NE(getpid_code, nullptr);
  EXPECT_EQ(WideToUtf8(DescribeAddress(reinterpret_cast<uintptr_t>(getpid_code), false)).rfind("libc.so.6+0x", 0), 0u);

  EXPECT_EQ(DescribeAddress(0x10, false), L"unknown module+0x10");
}
