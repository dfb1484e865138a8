#pragma once
// The Broadcast page's judgements, apart from its drawing so they can be checked on their own.
#include <cstdint>
#include <string>
#include <string_view>

// A port typed into the port form: its leading decimal digits (a value too long for 64 bits
// saturates, so it can never wrap into range). True with *port set only for 1 to 65534.
bool PortFromText(std::wstring_view text, int32_t* port);

// What a measured upload (Mbit/s) means for a stream needing `required` Mbit/s, whose lowest
// choice needs `fallback`: the verdict text (English) and whether it is good, tight or too slow.
enum class VerdictTone { Good, Tight, Bad };
struct StreamVerdict {
  std::wstring_view text;
  VerdictTone tone;
};
StreamVerdict JudgeUpload(double upload, double required, double fallback, std::wstring_view advice);
