#pragma once
// Reading text that comes from outside (files, tags, peers, the command line): numbers, trimming,
// hex, percent-encoding, byte encodings, and clipped printable excerpts for messages. Numbers are
// read and written in the C locale whatever the process locale is; no input makes these assert.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>

#include "platform/text.h"  // IsBlank, HexDigitValue, PercentDecodeBytes

// A number written with more characters than this is no number anyone wrote.
inline constexpr size_t kMaxNumberChars = 128;

// --- Numbers, strict: the whole text ---
// The whole text (C white space around it allowed) as a decimal integer within [low, high]; false
// on empty text, a sign alone, anything else in it, or a value outside (never wraps).
bool ParseInteger(std::string_view text, int64_t* out, int64_t low = std::numeric_limits<int64_t>::min(),
                  int64_t high = std::numeric_limits<int64_t>::max());
bool ParseInteger(std::wstring_view text, int64_t* out, int64_t low = std::numeric_limits<int64_t>::min(),
                  int64_t high = std::numeric_limits<int64_t>::max());
// The whole text (C white space around it allowed) as a finite decimal number (sign, digits with
// at most one point, an optional exponent) within [low, high]; false on "inf", "nan", hex,
// overflow ("1e999"), anything else in it, or a value outside. An underflow reads as 0.
bool ParseNumber(std::string_view text, double* out, double low = -std::numeric_limits<double>::max(),
                 double high = std::numeric_limits<double>::max());
bool ParseNumber(std::wstring_view text, double* out, double low = -std::numeric_limits<double>::max(),
                 double high = std::numeric_limits<double>::max());

// --- Numbers, forgiving: what stored files and the C library's readers (wcstod, _wtoi64) take ---
// The decimal number (as ParseNumber takes it) at the start of the text after C white space,
// read as far as it fits; 0 when none starts there, when it overflows or is longer than
// kMaxNumberChars. *used (when given) counts the characters read, blanks included, and is 0 when
// there is no number.
double LeadingNumber(std::string_view text, size_t* used = nullptr);
double LeadingNumber(std::wstring_view text, size_t* used = nullptr);
// The same as the C library's wcstod reads it in the C locale: also the hex forms ("0x10",
// "0x1p3"); the words for infinity and not-a-number, and overflow, still give 0 and *used 0.
double LeadingCNumber(std::wstring_view text, size_t* used = nullptr);
// The decimal integer at the start of the text after C white space, as far as its digits go;
// 0 when none; a value beyond the int64 range saturates.
int64_t LeadingInteger(std::string_view text);

// --- White space and trimming ---
// White space as the C library's wide space test sees it in a UTF-8 locale (Unicode spaces
// included, U+00A0 not), whatever the process locale is.
bool IsWideSpace(wchar_t c);
// White space as the C library's isspace sees it in the C locale: space, \t, \n, \v, \f, \r.
bool IsCSpace(char c);
// The text without leading and trailing IsWideSpace characters.
std::wstring TrimSpace(std::wstring_view text);
// The text without leading and trailing characters of the trim set of lyrics and tag text:
// space, tab, CR, LF, U+00A0 (no-break space) and U+FEFF (byte-order mark).
std::wstring TrimText(std::wstring_view text);

// --- Paths ---
enum class PathSeparators { kSlash, kSlashOrBackslash };
// The part of a path after its last separator (the whole text when there is none). Paths of this
// system split at '/' only; kSlashOrBackslash also splits names written on Windows.
std::wstring FileNameOf(std::wstring_view path, PathSeparators separators = PathSeparators::kSlash);

// --- Letter case ---
// The character lower-cased as the C library's towlower does in a UTF-8 locale (É to é), whatever
// the process locale is.
wchar_t LowerChar(wchar_t c);
// Every character of the text through LowerChar.
std::wstring LowerText(std::wstring_view text);
// <0, 0 or >0 as a sorts before, with or after b by their UTF-16 code units (a character above
// U+FFFF sorts as its surrogate pair, so below U+E000).
int CompareUtf16(std::wstring_view a, std::wstring_view b);

// --- Hex and percent-encoding (HexDigitValue and PercentDecodeBytes: platform/text.h) ---
// Each byte as two lower-case hex digits.
std::wstring HexEncode(std::string_view bytes);
// Pairs of hex digits back to bytes; false (and *bytes empty) on an odd count or a non-digit.
bool HexDecode(std::wstring_view hex, std::string* bytes);
// Every byte but A-Z, a-z, 0-9 and "-._~" as %XX (upper-case hex).
std::string PercentEncode(std::string_view bytes);
// The percent-encoded UTF-8 form of a wide text.
std::string UrlEncode(std::wstring_view text);
// Each %XX is a byte and the result is read as UTF-8 (invalid sequences become U+FFFD); a "%"
// without two hex digits after it stays as it is.
std::wstring PercentDecode(std::wstring_view text);

// --- Byte encodings ---
// True for strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF, no cut sequence.
bool IsValidUtf8(std::string_view bytes);
// Windows-1252 bytes to wide text; its five unassigned bytes keep their own code points.
std::wstring Windows1252ToWide(std::string_view bytes);
// The bytes as UTF-8 when they are valid UTF-8, else as Windows-1252 (text of unknown origin).
std::wstring Utf8OrWindows1252ToWide(std::string_view bytes);

// --- Excerpts for messages and the log ---
// At most maxChars characters of the text, each control character (U+0000-U+001F,
// U+007F-U+009F) written as \xNN.
std::wstring PrintableExcerpt(std::wstring_view text, size_t maxChars);
// The same of UTF-8 bytes; no more of them is decoded than the excerpt needs.
std::wstring PrintableExcerpt(std::string_view utf8, size_t maxChars);
// At most maxBytes raw bytes: printable ASCII as it is, every other byte as \xNN.
std::wstring ByteExcerpt(std::span<const uint8_t> bytes, size_t maxBytes);

// "A" to "D" for deck 0..3.
std::wstring DeckLetter(int deck);
// "m:ss" or, with tenths, "m:ss.t" (tenths cut, not rounded); negative times show as 0.
std::wstring FormatTime(double seconds, bool tenths);
