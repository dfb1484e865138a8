#include "platform/log_sink.h"

void (*PlatformLogSink)(std::wstring_view line) = nullptr;
