#include "settings/updates.h"

#include <ctime>
#include <filesystem>
#include <iterator>
#include <system_error>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "platform/clock.h"
#include "platform/folders.h"
#include "platform/text.h"

int32_t UpdateState = kUpdateIdle;
uint64_t NextUpdateCheckMs = 0;

namespace {
constexpr uint64_t kAutoCheckEveryMs = 6ull * 60 * 60 * 1000;
constexpr int kTmYearBase = 1900;  // std::tm counts years from here
constexpr const wchar_t* kMonths[] = {L"Jan", L"Feb", L"Mar", L"Apr", L"May", L"Jun",
                                      L"Jul", L"Aug", L"Sep", L"Oct", L"Nov", L"Dec"};
}  // namespace

void StartUpdateCheck(bool) {
  if (UpdateState != kUpdateIdle) return;
  NextUpdateCheckMs = MonotonicMs() + kAutoCheckEveryMs;
}

uint32_t BuildStamp() { return 0; }

std::wstring FormatStamp(int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  const std::tm* local = std::localtime(&t);  // UI thread only: its buffer is shared
  if (!local || local->tm_mon < 0 || local->tm_mon >= static_cast<int>(std::size(kMonths))) return {};
  return fmt::format(L"{} {} {}, {:02}:{:02}", local->tm_mday, kMonths[local->tm_mon], local->tm_year + kTmYearBase,
                     local->tm_hour, local->tm_min);
}

std::wstring UpdateDownloadFolder() {
  std::error_code ec;
  const std::filesystem::path temp = std::filesystem::temp_directory_path(ec);
  return JoinPath(Utf8ToWide(ec ? std::string("/tmp") : temp.string()), L"Veldmix Update");
}
