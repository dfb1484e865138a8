#pragma once
// Text conversion at every boundary: wide strings in memory, UTF-8 outside.
#include <string>
#include <string_view>

// UTF-8 bytes to wide text; every invalid or truncated sequence becomes U+FFFD.
std::wstring Utf8ToWide(std::string_view bytes);
// Wide text to UTF-8; a code point that is not a Unicode scalar value becomes U+FFFD.
std::string WideToUtf8(std::wstring_view text);
// Appends one character as UTF-8; a surrogate or a value past U+10FFFF becomes U+FFFD.
void AppendUtf8(wchar_t c, std::string* out);

// File names are bytes. A path in memory holds each byte that is not part of valid UTF-8 as the
// lone surrogate U+DC00 + byte (U+DC80..U+DCFF), which no decoded text can contain, so valid
// names stay unchanged and no two names meet. WideToUtf8 shows such a byte as U+FFFD.
std::wstring PathFromBytes(std::string_view bytes);
// The bytes of such a path: the escaped bytes as they were, the rest as UTF-8.
std::string PathToBytes(std::wstring_view path);
// One escaped byte of such a path (U+DC80..U+DCFF).
constexpr bool IsRawByteChar(wchar_t c) { return static_cast<char32_t>(c) >= 0xDC80 && static_cast<char32_t>(c) <= 0xDCFF; }
// True when the path holds an escaped byte: its name is not UTF-8 and a UTF-8-only form loses it.
bool PathHasRawBytes(std::wstring_view path);

// A space or a tab: the blanks of stored one-line formats (settings lines, LRC lines, command
// lines). Other white space is no blank.
constexpr bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }
// The value of one hexadecimal digit (0-9, a-f, A-F), or -1.
constexpr int HexDigitValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}
// Each %XX (two hex digits) as its byte, every other byte as it is; with plusIsSpace (HTML form
// fields) '+' is a space. A '%' without two hex digits after it stays.
std::string PercentDecodeBytes(std::string_view text, bool plusIsSpace = false);

// Sets LC_CTYPE to C.UTF-8 and leaves number formatting in the C locale. Once, at start.
void SetProcessLocale();
