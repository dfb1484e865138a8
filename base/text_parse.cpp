#include "base/text_parse.h"

#include <locale.h>
#include <stdlib.h>
#include <wctype.h>

#include <algorithm>
#include <cmath>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "platform/text.h"

namespace {

constexpr wchar_t kNoBreakSpace = 0x00A0;
constexpr wchar_t kByteOrderMark = 0xFEFF;
constexpr size_t kUtf8MaxBytesPerChar = 4;
constexpr uint64_t kInt64MinMagnitude = uint64_t(std::numeric_limits<int64_t>::max()) + 1;

// Windows-1252 at 0x80..0x9F; its five unassigned bytes keep their own code points, as the
// Windows conversion does.
constexpr wchar_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// The C locale for numbers with UTF-8 character classes, made once; (locale_t)0 when the system
// has neither (then the process locale is used).
locale_t ParseLocale() {
  static const locale_t locale = [] {
    locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(0));
    locale_t utf8 = c ? newlocale(LC_CTYPE_MASK, "C.UTF-8", c) : locale_t(0);
    return utf8 ? utf8 : c;
  }();
  return locale;
}

template <typename Char>
bool IsCSpaceChar(Char c) {
  return c == Char(' ') || (c >= Char('\t') && c <= Char('\r'));
}
template <typename Char>
bool IsDigit(Char c) {
  return c >= Char('0') && c <= Char('9');
}

template <typename Char>
size_t SkipCSpace(std::basic_string_view<Char> text, size_t i) {
  while (i < text.size() && IsCSpaceChar(text[i])) ++i;
  return i;
}

// The length of the decimal number at text[from] (sign, digits with one optional point, an
// optional exponent with digits); 0 when none starts there.
template <typename Char>
size_t DecimalLength(std::basic_string_view<Char> text, size_t from) {
  size_t i = from;
  if (i < text.size() && (text[i] == Char('+') || text[i] == Char('-'))) ++i;
  size_t digits = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) ++digits;
  if (i < text.size() && text[i] == Char('.'))
    for (++i; i < text.size() && IsDigit(text[i]); ++i) ++digits;
  if (digits == 0) return 0;
  if (i < text.size() && (text[i] == Char('e') || text[i] == Char('E'))) {
    size_t e = i + 1;
    if (e < text.size() && (text[e] == Char('+') || text[e] == Char('-'))) ++e;
    if (e < text.size() && IsDigit(text[e])) {
      while (e < text.size() && IsDigit(text[e])) ++e;
      i = e;
    }
  }
  return i - from;
}

// The number at text[from] of the given length (DecimalLength); false when it is too long or
// not finite. An underflow gives 0 (or a subnormal), as the C library does.
template <typename Char>
bool DecimalValue(std::basic_string_view<Char> text, size_t from, size_t length, double* out) {
  if (length > kMaxNumberChars) return false;
  char narrow[kMaxNumberChars + 1];
  for (size_t k = 0; k < length; ++k) narrow[k] = static_cast<char>(text[from + k]);  // ASCII by DecimalLength
  narrow[length] = '\0';
  locale_t locale = ParseLocale();
  const double value = locale ? strtod_l(narrow, nullptr, locale) : strtod(narrow, nullptr);
  if (!std::isfinite(value)) return false;
  *out = value;
  return true;
}

template <typename Char>
bool ParseNumberOf(std::basic_string_view<Char> text, double* out, double low, double high) {
  const size_t start = SkipCSpace(text, 0);
  const size_t length = DecimalLength(text, start);
  double value = 0.0;
  if (length == 0 || SkipCSpace(text, start + length) != text.size() || !DecimalValue(text, start, length, &value) ||
      !(value >= low && value <= high))
    return false;
  *out = value;
  return true;
}

template <typename Char>
double LeadingNumberOf(std::basic_string_view<Char> text, size_t* used) {
  const size_t start = SkipCSpace(text, 0);
  const size_t length = DecimalLength(text, start);
  double value = 0.0;
  const bool ok = length > 0 && DecimalValue(text, start, length, &value);
  if (used) *used = ok ? start + length : 0;
  return ok ? value : 0.0;
}

template <typename Char>
double LeadingCNumberOf(std::basic_string_view<Char> text, size_t* used) {
  const size_t start = SkipCSpace(text, 0);
  // One character more than a number may have, so that a longer one is seen.
  char narrow[kMaxNumberChars + 2];
  size_t n = 0;
  for (; n <= kMaxNumberChars && start + n < text.size() && text[start + n] > 0 && text[start + n] < 0x80; ++n)
    narrow[n] = static_cast<char>(text[start + n]);
  narrow[n] = '\0';
  char* end = narrow;
  locale_t locale = ParseLocale();
  const double value = locale ? strtod_l(narrow, &end, locale) : strtod(narrow, &end);
  const auto length = static_cast<size_t>(end - narrow);
  const bool ok = length > 0 && length <= kMaxNumberChars && std::isfinite(value);
  if (used) *used = ok ? start + length : 0;
  return ok ? value : 0.0;
}

// The magnitude of the digits at text[i...] and the index after them; the magnitude stops
// growing at kInt64MinMagnitude + 1 so that every overflow is seen.
template <typename Char>
size_t ReadMagnitude(std::basic_string_view<Char> text, size_t i, uint64_t* magnitude) {
  uint64_t m = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i)
    m = m > kInt64MinMagnitude / 10 ? kInt64MinMagnitude + 1
                                    : std::min(m * 10 + uint64_t(text[i] - Char('0')), kInt64MinMagnitude + 1);
  *magnitude = m;
  return i;
}

template <typename Char>
bool ParseIntegerOf(std::basic_string_view<Char> text, int64_t* out, int64_t low, int64_t high) {
  size_t i = SkipCSpace(text, 0);
  bool negative = false;
  if (i < text.size() && (text[i] == Char('+') || text[i] == Char('-'))) negative = text[i++] == Char('-');
  uint64_t magnitude = 0;
  const size_t end = ReadMagnitude(text, i, &magnitude);
  if (end == i || SkipCSpace(text, end) != text.size()) return false;
  if (magnitude > (negative ? kInt64MinMagnitude : kInt64MinMagnitude - 1)) return false;
  const int64_t value = negative ? int64_t(0 - magnitude) : int64_t(magnitude);
  if (value < low || value > high) return false;
  *out = value;
  return true;
}

std::wstring TrimIf(std::wstring_view text, bool (*trimmed)(wchar_t)) {
  size_t begin = 0, end = text.size();
  while (begin < end && trimmed(text[begin])) ++begin;
  while (end > begin && trimmed(text[end - 1])) --end;
  return std::wstring(text.substr(begin, end - begin));
}

bool IsTrimChar(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == kNoBreakSpace || c == kByteOrderMark;
}

bool IsControl(wchar_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

}  // namespace

bool ParseInteger(std::string_view text, int64_t* out, int64_t low, int64_t high) {
  return ParseIntegerOf(text, out, low, high);
}
bool ParseInteger(std::wstring_view text, int64_t* out, int64_t low, int64_t high) {
  return ParseIntegerOf(text, out, low, high);
}
bool ParseNumber(std::string_view text, double* out, double low, double high) {
  return ParseNumberOf(text, out, low, high);
}
bool ParseNumber(std::wstring_view text, double* out, double low, double high) {
  return ParseNumberOf(text, out, low, high);
}
double LeadingNumber(std::string_view text, size_t* used) { return LeadingNumberOf(text, used); }
double LeadingNumber(std::wstring_view text, size_t* used) { return LeadingNumberOf(text, used); }
double LeadingCNumber(std::wstring_view text, size_t* used) { return LeadingCNumberOf(text, used); }

int64_t LeadingInteger(std::string_view text) {
  size_t i = SkipCSpace(text, 0);
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  uint64_t magnitude = 0;
  ReadMagnitude(text, i, &magnitude);
  if (negative) return magnitude >= kInt64MinMagnitude ? std::numeric_limits<int64_t>::min() : -int64_t(magnitude);
  return magnitude >= kInt64MinMagnitude ? std::numeric_limits<int64_t>::max() : int64_t(magnitude);
}

bool IsWideSpace(wchar_t c) {
  locale_t locale = ParseLocale();
  return locale ? iswspace_l(static_cast<wint_t>(c), locale) != 0 : iswspace(static_cast<wint_t>(c)) != 0;
}

std::wstring TrimSpace(std::wstring_view text) { return TrimIf(text, IsWideSpace); }

wchar_t LowerChar(wchar_t c) {
  locale_t locale = ParseLocale();
  return static_cast<wchar_t>(locale ? towlower_l(static_cast<wint_t>(c), locale) : towlower(static_cast<wint_t>(c)));
}

int CompareUtf16(std::wstring_view a, std::wstring_view b) {
  constexpr uint32_t kFirstSupplementary = 0x10000;
  const auto firstUnit = [](uint32_t c) {
    return c < kFirstSupplementary ? c : 0xD800 + ((c - kFirstSupplementary) >> 10);
  };
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const uint32_t x = static_cast<uint32_t>(a[i]), y = static_cast<uint32_t>(b[i]);
    if (x == y) continue;
    const uint32_t ux = firstUnit(x), uy = firstUnit(y);
    if (ux != uy) return ux < uy ? -1 : 1;
    return x < y ? -1 : 1;  // two surrogate pairs with the same high half: the low halves decide
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

std::wstring LowerText(std::wstring_view text) {
  std::wstring lower(text);
  locale_t locale = ParseLocale();
  for (wchar_t& c : lower)
    c = static_cast<wchar_t>(locale ? towlower_l(static_cast<wint_t>(c), locale) : towlower(static_cast<wint_t>(c)));
  return lower;
}
std::wstring TrimText(std::wstring_view text) { return TrimIf(text, IsTrimChar); }


std::wstring HexEncode(std::string_view bytes) {
  static constexpr wchar_t kHex[] = L"0123456789abcdef";
  std::wstring hex;
  hex.reserve(bytes.size() * 2);
  for (char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    hex.push_back(kHex[b >> 4]);
    hex.push_back(kHex[b & 0xF]);
  }
  return hex;
}

bool HexDecode(std::wstring_view hex, std::string* bytes) {
  bytes->clear();
  if (hex.size() % 2 != 0) return false;
  bytes->reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int high = HexDigitValue(hex[i]), low = HexDigitValue(hex[i + 1]);
    if (high < 0 || low < 0) {
      bytes->clear();
      return false;
    }
    bytes->push_back(static_cast<char>(high << 4 | low));
  }
  return true;
}

std::string PercentEncode(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                      c == '.' || c == '_' || c == '~';
    if (keep) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string UrlEncode(std::wstring_view text) { return PercentEncode(WideToUtf8(text)); }

std::wstring PercentDecode(std::wstring_view text) { return Utf8ToWide(PercentDecodeBytes(WideToUtf8(text))); }

bool IsCSpace(char c) { return IsCSpaceChar(c); }

std::wstring FileNameOf(std::wstring_view path, PathSeparators separators) {
  const size_t slash = path.find_last_of(separators == PathSeparators::kSlash ? L"/" : L"\\/");
  return std::wstring(slash == std::wstring_view::npos ? path : path.substr(slash + 1));
}

bool IsValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<uint8_t>(s[i]);
    size_t extra = 0;
    uint8_t low = 0x80, high = 0xBF;  // range of the first continuation byte
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      if (c == 0xE0) low = 0xA0;
      if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      if (c == 0xF0) low = 0x90;
      if (c == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (i + extra >= s.size()) return false;  // cut sequence
    for (size_t k = 1; k <= extra; ++k) {
      const auto b = static_cast<uint8_t>(s[i + k]);
      const uint8_t lo = k == 1 ? low : 0x80, hi = k == 1 ? high : 0xBF;
      if (b < lo || b > hi) return false;
    }
    i += extra + 1;
  }
  return true;
}

std::wstring Windows1252ToWide(std::string_view bytes) {
  std::wstring out;
  out.reserve(bytes.size());
  for (char ch : bytes) {
    const auto c = static_cast<uint8_t>(ch);
    out += c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : static_cast<wchar_t>(c);
  }
  return out;
}

std::wstring Utf8OrWindows1252ToWide(std::string_view bytes) {
  return IsValidUtf8(bytes) ? Utf8ToWide(bytes) : Windows1252ToWide(bytes);
}

std::wstring PrintableExcerpt(std::wstring_view text, size_t maxChars) {
  std::wstring out;
  for (wchar_t c : text.substr(0, maxChars)) {
    if (IsControl(c)) out += fmt::format(L"\\x{:02X}", static_cast<unsigned>(c));
    else out += c;
  }
  return out;
}

std::wstring PrintableExcerpt(std::string_view utf8, size_t maxChars) {
  // maxChars characters take at most this many bytes; a sequence cut here lies past them.
  const size_t bytes = maxChars > utf8.size() / kUtf8MaxBytesPerChar ? utf8.size() : maxChars * kUtf8MaxBytesPerChar;
  return PrintableExcerpt(std::wstring_view(Utf8ToWide(utf8.substr(0, bytes))), maxChars);
}

std::wstring ByteExcerpt(std::span<const uint8_t> bytes, size_t maxBytes) {
  std::wstring out;
  for (uint8_t c : bytes.first(std::min(bytes.size(), maxBytes))) {
    if (c >= 0x20 && c < 0x7F) out += wchar_t(c);
    else out += fmt::format(L"\\x{:02X}", c);
  }
  return out;
}

std::wstring DeckLetter(int deck) { return std::wstring(1, static_cast<wchar_t>(L'A' + deck)); }

std::wstring FormatTime(double seconds, bool tenths) {
  // A track never lasts longer than this; larger or non-finite values would overflow the minutes.
  constexpr double kMaxSeconds = 1.0e7;
  const double s = std::isfinite(seconds) ? std::clamp(seconds, 0.0, kMaxSeconds) : 0.0;
  const int minutes = static_cast<int>(s / 60);
  const double rest = s - minutes * 60.0;
  std::string text = tenths ? fmt::format("{}:{:04.1f}", minutes, std::floor(rest * 10) / 10)
                            : fmt::format("{}:{:02d}", minutes, static_cast<int>(rest));
  return std::wstring(text.begin(), text.end());
}
