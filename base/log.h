#pragma once
// The program's one log: "Veldmix.log" in the support folder, a UTF-8 line per event,
// "YYYY-MM-DD hh:mm:ss.mmm [pid] text" + CR LF. Writing takes no lock.
#include <string>
#include <string_view>
#include <utility>

#include <fmt/format.h>
#include <fmt/xchar.h>

// Prepares the support folder, consumes the crash marker, keeps the five newest dumps, rotates
// a log above 2 MiB, opens the log, installs the crash handlers and writes the run's header.
// Once, first thing on the UI thread.
void StartLog(const std::wstring& argumentText);
// Appends one line (cut to 1024 characters); any thread; nothing when the log is not open.
void WriteLogText(std::wstring_view message);
template <typename... Args>
void WriteLog(fmt::wformat_string<Args...> format, Args&&... args) {
  WriteLogText(fmt::format(format, std::forward<Args>(args)...));
}
// True when the previous run left the "last-crash" marker (read after StartLog).
bool PreviousRunCrashed();
// The support folder: log, crash reports, "last-crash". Empty when it cannot be resolved.
std::wstring SupportFolder();
