#include "platform/text.h"

#include <algorithm>
#include <clocale>
#include <cwctype>

namespace {
constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kRawByteBase = 0xDC00;  // a lone low surrogate: never the decoding of valid UTF-8

bool IsScalar(char32_t c) { return c < 0x110000 && (c < 0xD800 || c > 0xDFFF); }
}  // namespace

std::wstring Utf8ToWide(std::string_view bytes) {
  std::wstring out;
  out.reserve(bytes.size());
  size_t i = 0;
  const size_t n = bytes.size();
  while (i < n) {
    unsigned char b = static_cast<unsigned char>(bytes[i]);
    if (b < 0x80) { out.push_back(static_cast<wchar_t>(b)); ++i; continue; }
    int len = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if (b >= 0xC2 && b <= 0xDF) { len = 2; cp = b & 0x1F; min = 0x80; }
    else if (b >= 0xE0 && b <= 0xEF) { len = 3; cp = b & 0x0F; min = 0x800; }
    else if (b >= 0xF0 && b <= 0xF4) { len = 4; cp = b & 0x07; min = 0x10000; }
    else { out.push_back(kReplacement); ++i; continue; }
    // A broken sequence yields one replacement for its valid prefix, then reading resumes
    // at the first byte that did not fit (the way MultiByteToWideChar and browsers do).
    size_t j = 1;
    bool ok = true;
    for (; j < static_cast<size_t>(len); ++j) {
      if (i + j >= n) { ok = false; break; }
      unsigned char c = static_cast<unsigned char>(bytes[i + j]);
      if ((c & 0xC0) != 0x80) { ok = false; break; }
      cp = (cp << 6) | (c & 0x3F);
    }
    if (ok && cp >= min && IsScalar(cp)) {
      out.push_back(static_cast<wchar_t>(cp));
      i += len;
    } else {
      out.push_back(kReplacement);
      i += ok ? len : j;
    }
  }
  return out;
}

void AppendUtf8(wchar_t wc, std::string* out) {
  char32_t c = static_cast<char32_t>(wc);
  if (!IsScalar(c)) c = kReplacement;
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

std::string WideToUtf8(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t wc : text) AppendUtf8(wc, &out);
  return out;
}

namespace {
// The length of the valid UTF-8 sequence at bytes[i] and its code point in *cp; 0 when invalid.
size_t ValidSequenceAt(std::string_view bytes, size_t i, char32_t* cp) {
  const unsigned char b = static_cast<unsigned char>(bytes[i]);
  size_t len = 0;
  char32_t min = 0;
  if (b < 0x80) return *cp = b, 1;
  if (b >= 0xC2 && b <= 0xDF) { len = 2; *cp = b & 0x1F; min = 0x80; }
  else if (b >= 0xE0 && b <= 0xEF) { len = 3; *cp = b & 0x0F; min = 0x800; }
  else if (b >= 0xF0 && b <= 0xF4) { len = 4; *cp = b & 0x07; min = 0x10000; }
  else return 0;
  if (i + len > bytes.size()) return 0;
  for (size_t j = 1; j < len; ++j) {
    const unsigned char c = static_cast<unsigned char>(bytes[i + j]);
    if ((c & 0xC0) != 0x80) return 0;
    *cp = (*cp << 6) | (c & 0x3F);
  }
  return *cp >= min && IsScalar(*cp) ? len : 0;
}
}  // namespace

std::wstring PathFromBytes(std::string_view bytes) {
  std::wstring out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size();) {
    char32_t cp = 0;
    const size_t len = ValidSequenceAt(bytes, i, &cp);
    if (len == 0) {
      // One byte at a time, so the bytes after it decode as they would on their own.
      out.push_back(static_cast<wchar_t>(kRawByteBase + static_cast<unsigned char>(bytes[i])));
      ++i;
    } else {
      out.push_back(static_cast<wchar_t>(cp));
      i += len;
    }
  }
  return out;
}

std::string PathToBytes(std::wstring_view path) {
  std::string out;
  out.reserve(path.size());
  for (wchar_t wc : path) {
    if (IsRawByteChar(wc)) out.push_back(static_cast<char>(static_cast<char32_t>(wc) - kRawByteBase));
    else AppendUtf8(wc, &out);
  }
  return out;
}

bool PathHasRawBytes(std::wstring_view path) { return std::any_of(path.begin(), path.end(), IsRawByteChar); }

std::string PercentDecodeBytes(std::string_view text, bool plusIsSpace) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    int high = -1, low = -1;
    if (text[i] == '%' && i + 2 < text.size() && (high = HexDigitValue(text[i + 1])) >= 0 &&
        (low = HexDigitValue(text[i + 2])) >= 0) {
      out.push_back(static_cast<char>(high * 16 + low));
      i += 2;
    } else {
      out.push_back(plusIsSpace && text[i] == '+' ? ' ' : text[i]);
    }
  }
  return out;
}

void SetProcessLocale() {
  if (!std::setlocale(LC_CTYPE, "C.UTF-8")) std::setlocale(LC_CTYPE, "C");
  std::setlocale(LC_NUMERIC, "C");
}
