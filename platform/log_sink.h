#pragma once
// The platform layer's own log lines (a refused file, a malformed document) go to the program's
// log (base/log.h's WriteLogText, which the shell sets); unset, or before the log starts, they go
// nowhere, as the log's own lines do.
#include <string_view>
#include <utility>

#include <fmt/format.h>
#include <fmt/xchar.h>

extern void (*PlatformLogHook)(std::wstring_view line);

template <typename... Args>
void PlatformLog(fmt::wformat_string<Args...> format, Args&&... args) {
  if (PlatformLogHook) PlatformLogHook(fmt::format(format, std::forward<Args>(args)...));
}
