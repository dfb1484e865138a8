#include <gtest/gtest.h>

#include <sys/utsname.h>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/log.h"
#include "platform/files.h"
#include "platform/text.h"
#include "support/temp_home.h"

// StartLog runs once per process and installs process-wide handlers, so every start below runs
// in a forked child (a death test) and the test reads what the child left behind.

namespace fs = std::filesystem;

namespace {

constexpr int kExitPreviousRunCrashed = 10;
constexpr long long kTwoMiB = 2'097'152;

[[noreturn]] void StartThenExit(const std::wstring& arguments) {
  StartLog(arguments);
  std::_Exit(PreviousRunCrashed() ? kExitPreviousRunCrashed : 0);
}

std::string SupportDir(const TempHome& home) { return home.path() + "/state/Veldmix"; }
std::string LogPath(const TempHome& home) { return SupportDir(home) + "/Veldmix.log"; }

struct LogLine {
  std::tm time{};
  unsigned long pid = 0;
  std::string message;
};

// Every line must end in CR LF and have the full prefix; a broken line fails the test here.
std::vector<LogLine> ParseLog(const std::string& bytes) {
  static const std::regex kLine(R"((\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d)\.(\d{3}) \[(\d+)\] ([^\r\n]*))");
  std::vector<LogLine> lines;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find("\r\n", start);
    EXPECT_NE(end, std::string::npos) << "unterminated last line";
    if (end == std::string::npos) break;
    std::string text = bytes.substr(start, end - start);
    std::smatch m;
    EXPECT_TRUE(std::regex_match(text, m, kLine)) << "malformed line: " << text;
    if (!m.empty()) {
      LogLine line;
      line.time.tm_year = std::stoi(m[1]) - 1900;
      line.time.tm_mon = std::stoi(m[2]) - 1;
      line.time.tm_mday = std::stoi(m[3]);
      line.time.tm_hour = std::stoi(m[4]);
      line.time.tm_min = std::stoi(m[5]);
      line.time.tm_sec = std::stoi(m[6]);
      line.time.tm_isdst = -1;
      line.pid = std::stoul(m[8]);
      line.message = m[9];
      lines.push_back(line);
    }
    start = end + 2;
  }
  return lines;
}

// The machine's memory as /proc/meminfo reports it, in GiB.
double MemTotalGiB() {
  std::ifstream in("/proc/meminfo");
  std::string key;
  long long kib = 0;
  while (in >> key >> kib) {
    if (key == "MemTotal:") return static_cast<double>(kib) / (1024.0 * 1024.0);
    in.ignore(1 << 10, '\n');
  }
  return -1;
}

}  // namespace

TEST(LogStartDeathTest, WritesHeaderAndCommandLineInLocalTime) {
  TempHome home;
  const std::wstring arguments = L"--selftest /music/Sigur Rós — Hoppípolla.mp3";
  EXPECT_EXIT(StartThenExit(arguments), testing::ExitedWithCode(0), "");

  const std::string bytes = ReadRaw(LogPath(home));
  ASSERT_FALSE(bytes.empty());
  EXPECT_NE(bytes.substr(0, 3), "\xEF\xBB\xBF") << "the log has no byte-order mark";
  std::vector<LogLine> lines = ParseLog(bytes);
  ASSERT_EQ(lines.size(), 2u);

  struct utsname names;
  ASSERT_EQ(uname(&names), 0);
  std::smatch m;
  const std::regex header("==== Veldmix 1\\.0\\.10 started on Linux (.+), (\\d+) logical processors, (\\d+\\.\\d) GB RAM");
  ASSERT_TRUE(std::regex_match(lines[0].message, m, header)) << lines[0].message;
  EXPECT_EQ(m[1], names.release);
  EXPECT_EQ(std::stoul(m[2]), std::thread::hardware_concurrency());
  EXPECT_NEAR(std::stod(m[3]), MemTotalGiB(), 0.051);
  EXPECT_EQ(lines[1].message, "Command line: " + WideToUtf8(arguments));

  // Both lines come from the one child, and carry its local time.
  EXPECT_EQ(lines[0].pid, lines[1].pid);
  EXPECT_NE(lines[0].pid, static_cast<unsigned long>(getpid()));
  const double age = std::difftime(std::time(nullptr), std::mktime(&lines[0].time));
  EXPECT_GE(age, -2.0);
  EXPECT_LE(age, 120.0);
}

TEST(LogStartDeathTest, ContinuesTheLogAndSkipsAnEmptyCommandLine) {
  TempHome home;
  EXPECT_EXIT(StartThenExit(L""), testing::ExitedWithCode(0), "");
  EXPECT_EXIT(StartThenExit(L""), testing::ExitedWithCode(0), "");
  std::vector<LogLine> lines = ParseLog(ReadRaw(LogPath(home)));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].message.rfind("==== Veldmix 1.0.10 started", 0), 0u);
  EXPECT_EQ(lines[1].message.rfind("==== Veldmix 1.0.10 started", 0), 0u);
  EXPECT_NE(lines[0].pid, lines[1].pid);
  EXPECT_FALSE(fs::exists(SupportDir(home) + "/Veldmix.old.log"));
}

TEST(LogStartDeathTest, RotatesOnlyALogAboveTwoMiB) {
  TempHome home;
  fs::create_directories(SupportDir(home));
  const std::string log = LogPath(home);
  const std::string old = SupportDir(home) + "/Veldmix.old.log";
  WriteRaw(old, "the run before last\r\n");

  const std::string exact(kTwoMiB, 'a');
  WriteRaw(log, exact);
  EXPECT_EXIT(StartThenExit(L""), testing::ExitedWithCode(0), "");
  EXPECT_EQ(ReadRaw(old), "the run before last\r\n");
  std::string continued = ReadRaw(log);
  ASSERT_GT(continued.size(), exact.size());
  EXPECT_EQ(continued.compare(0, exact.size(), exact), 0);

  const std::string over(kTwoMiB + 1, 'b');
  WriteRaw(log, over);
  EXPECT_EXIT(StartThenExit(L""), testing::ExitedWithCode(0), "");
  EXPECT_EQ(ReadRaw(old), over);
  std::vector<LogLine> fresh = ParseLog(ReadRaw(log));
  ASSERT_EQ(fresh.size(), 1u);
  EXPECT_EQ(fresh[0].message.rfind("==== Veldmix", 0), 0u);
}

TEST(LogStartDeathTest, KeepsTheFiveNewestCrashDumps) {
  TempHome home;
  const std::string dir = SupportDir(home);
  fs::create_directories(dir);
  const auto now = fs::file_time_type::clock::now();
  // Names sort differently from times, so an order by name would keep the wrong ones.
  const std::vector<std::pair<std::string, int>> dumps = {
      {"a.dmp", 5}, {"b.dmp", 1}, {"c.dmp", 7}, {"d.dmp", 2}, {"e.dmp", 6}, {"f.dmp", 3}, {"g.dmp", 4}};
  for (const auto& [name, hoursOld] : dumps) {
    WriteRaw(dir + "/" + name, "dump");
    fs::last_write_time(dir + "/" + name, now - std::chrono::hours(hoursOld));
  }
  WriteRaw(dir + "/notes.txt", "not a dump");
  fs::last_write_time(dir + "/notes.txt", now - std::chrono::hours(100));

  EXPECT_EXIT(StartThenExit(L""), testing::ExitedWithCode(0), "");
  std::set<std::string> left;
  for (const auto& entry : fs::directory_iterator(dir)) left.insert(entry.path().filename().string());
  const std::set<std::string> expected = {"b.dmp", "d.dmp", "f.dmp", "g.dmp", "a.dmp", "notes.txt", "Veldmix.log"};
  EXPECT_EQ(left, expected);
}

TEST(LogStartDeathTest, ReportsThePreviousCrashOnce) {
  TempHome home;
  fs::create_directories(SupportDir(home));
  WriteRaw(SupportDir(home) + "/last-crash", "");
  EXPECT_EXIT(StartThenExit(L""), testing::ExitedWithCode(kExitPreviousRunCrashed), "");
  EXPECT_FALSE(fs::exists(SupportDir(home) + "/last-crash"));
  EXPECT_EXIT(StartThenExit(L""), testing::ExitedWithCode(0), "");

  std::vector<LogLine> lines = ParseLog(ReadRaw(LogPath(home)));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1].message, "The previous run crashed (see the report above)");
  EXPECT_EQ(lines[2].message.rfind("==== Veldmix", 0), 0u);
}

TEST(LogStartDeathTest, AnUnopenableLogLeavesTheProgramRunning) {
  TempHome home;
  // A file where the support folder should be: nothing can be created inside it.
  fs::create_directories(home.path() + "/state");
  WriteRaw(SupportDir(home), "in the way");
  EXPECT_EXIT(
      {
        StartLog(L"--selftest");
        WriteLog(L"Audio: {} devices", 2);
        std::_Exit(PreviousRunCrashed() ? kExitPreviousRunCrashed : 0);
      },
      testing::ExitedWithCode(0), "");
  EXPECT_EQ(ReadRaw(SupportDir(home)), "in the way");
}

TEST(LogLinesDeathTest, LinesFromManyThreadsStayWhole) {
  TempHome home;
  constexpr int kThreads = 8;
  constexpr int kLinesEach = 400;
  // Lengths vary so that lines straddle every buffer boundary; the text is checked per line.
  auto payload = [](int thread, int line) { return std::wstring(static_cast<size_t>((thread * 37 + line) % 300), L'♫'); };
  EXPECT_EXIT(
      {
        StartLog(L"");
        std::vector<std::thread> writers;
        for (int t = 0; t < kThreads; ++t) {
          writers.emplace_back([t, &payload] {
            for (int i = 0; i < kLinesEach; ++i) WriteLog(L"Library: writer {} line {} [{}]", t, i, payload(t, i));
          });
        }
        for (std::thread& w : writers) w.join();
        std::_Exit(0);
      },
      testing::ExitedWithCode(0), "");

  std::vector<LogLine> lines = ParseLog(ReadRaw(LogPath(home)));
  ASSERT_EQ(lines.size(), 1u + kThreads * kLinesEach);
  const std::regex body(R"(Library: writer (\d+) line (\d+) \[(.*)\])");
  std::set<std::pair<int, int>> seen;
  for (size_t i = 1; i < lines.size(); ++i) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[i].message, m, body)) << lines[i].message;
    const int t = std::stoi(m[1]);
    const int n = std::stoi(m[2]);
    EXPECT_EQ(m[3], WideToUtf8(payload(t, n)));
    seen.insert({t, n});
  }
  EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kLinesEach));
}

TEST(LogLinesDeathTest, TextIsUtf8AndCutAt1024Characters) {
  TempHome home;
  EXPECT_EXIT(
      {
        StartLog(L"");
        WriteLog(L"Library: {} – {}", L"Björk", L"Jóga 🎵");
        WriteLog(L"{}", std::wstring(1500, L'é'));
        std::_Exit(0);
      },
      testing::ExitedWithCode(0), "");
  std::vector<LogLine> lines = ParseLog(ReadRaw(LogPath(home)));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1].message, "Library: Bj\xC3\xB6rk \xE2\x80\x93 J\xC3\xB3ga \xF0\x9F\x8E\xB5");
  std::string cut;
  for (int i = 0; i < 1024; ++i) cut += "\xC3\xA9";
  EXPECT_EQ(lines[2].message, cut);
}

// The platform layer's own lines (here a folder refused as a file) reach the log once it has
// started, and go nowhere before, as the log's own lines do.
TEST(LogLinesDeathTest, PlatformLinesReachTheStartedLog) {
  TempHome home;
  EXPECT_EXIT(
      {
        std::string bytes;
        ReadBytes(Utf8ToWide(home.path()), &bytes, 16);
        StartLog(L"");
        ReadBytes(Utf8ToWide(home.path()), &bytes, 16);
        std::_Exit(0);
      },
      testing::ExitedWithCode(0), "");
  std::vector<LogLine> lines = ParseLog(ReadRaw(LogPath(home)));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].message, "Refused to read " + home.path() + ": it is not a regular file");
}
