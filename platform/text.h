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

// Sets LC_CTYPE to C.UTF-8 and leaves number formatting in the C locale. Once, at start.
void SetProcessLocale();
