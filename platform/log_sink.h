#pragma once
// The platform layer's own log lines (a refused file, a malformed document) go to the program's
// log, which sets the sink when it starts (base/log.h); before that they go nowhere, as the log's
// own lines do.
#include <string_view>
#include <utility>

#include <fmt/format.h>
#include <fmt/xchar.h>

extern void (*PlatformLogSink)(std::wstring_view line);

template <typename... Args>
void PlatformLog(fmt::wformat_string<Args...> format, Args&&... args) {
  if (PlatformLogSink) PlatformLogSink(fmt::format(format, std::forward<Args>(args)...));
}
