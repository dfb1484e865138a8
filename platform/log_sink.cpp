#include "platform/log_sink.h"

void (*PlatformLogHook)(std::wstring_view line) = nullptr;
