#include "base/json.h"

#include <algorithm>
#include <cwchar>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "base/text_parse.h"

namespace {

constexpr wchar_t kReplacement = 0xFFFD;
constexpr char32_t kHighFirst = 0xD800, kHighLast = 0xDBFF, kLowFirst = 0xDC00, kLowLast = 0xDFFF;

// IsWideSpace of every ASCII character, asked once: the common case costs a table read.
struct AsciiSpaces {
  bool space[0x80] = {};
  AsciiSpaces() {
    for (wchar_t c = 0; c < 0x80; ++c) space[c] = IsWideSpace(c);
  }
};
bool IsJsonSpace(wchar_t c) {
  static const AsciiSpaces ascii;
  return c >= 0 && c < 0x80 ? ascii.space[c] : IsWideSpace(c);
}

inline void SkipSpace(JsonReader* r) {
  const std::wstring& t = r->text;
  // Printable ASCII, the usual next character, is never white space.
  for (; r->pos < t.size(); ++r->pos) {
    const wchar_t c = t[r->pos];
    if ((c > L' ' && c < 0x7F) || !IsJsonSpace(c)) return;
  }
}

bool Peek(const JsonReader* r, wchar_t c) { return r->pos < r->text.size() && r->text[r->pos] == c; }

// Four hex digits at text[at]; -1 when fewer remain or one is not a hex digit.
long ReadHex4(const std::wstring& text, size_t at) {
  if (text.size() - at < 4) return -1;
  long unit = 0;
  for (size_t i = 0; i < 4; ++i) {
    int d = HexDigitValue(text[at + i]);
    if (d < 0) return -1;
    unit = unit * 16 + d;
  }
  return unit;
}

constexpr size_t kExactDigits = 15;  // every integer of this many digits is exact in a double

bool IsDigitChar(wchar_t c) { return c >= L'0' && c <= L'9'; }

// A plain integer at text[at] ("-" and up to 15 digits, not followed by what would continue a
// number): its exact value, the same strtod gives. False leaves the number to the full reader.
bool ReadPlainInteger(const std::wstring& text, size_t at, double* value, size_t* used) {
  size_t i = at;
  const bool negative = i < text.size() && text[i] == L'-';
  if (negative) ++i;
  const size_t first = i;
  uint64_t magnitude = 0;
  for (; i < text.size() && IsDigitChar(text[i]) && i - first <= kExactDigits; ++i)
    magnitude = magnitude * 10 + static_cast<uint64_t>(text[i] - L'0');
  if (i == first || i - first > kExactDigits) return false;
  if (i < text.size()) {
    const wchar_t next = text[i];
    if (next == L'.' || next == L'e' || next == L'E' || next == L'x' || next == L'X') return false;
  }
  *value = negative ? -static_cast<double>(magnitude) : static_cast<double>(magnitude);
  *used = i - at;
  return true;
}

inline bool ParseNumber(JsonReader* r, JsonValue* out) {
  double plain = 0;
  size_t plainUsed = 0;
  if (ReadPlainInteger(r->text, r->pos, &plain, &plainUsed)) {
    out->kind = 2;
    out->number = plain;
    r->pos += plainUsed;
    return true;
  }
  // Overflow to infinity and the words for infinity and not-a-number are no usable answer.
  size_t used = 0;
  const double value = LeadingCNumber(std::wstring_view(r->text).substr(r->pos), &used);
  if (used == 0) return false;
  out->kind = 2;
  out->number = value;
  r->pos += used;
  return true;
}

constexpr size_t kGrowthCheck = 1024;  // an array this long is sized once from its text

// An upper bound on the items left in the array at the cursor: its top-level commas plus one,
// never more than half the remaining text (what well-formed items of that length could need).
size_t RemainingItems(const JsonReader& r) {
  const std::wstring& t = r.text;
  size_t commas = 0, depth = 0, i = r.pos;
  for (; i < t.size(); ++i) {
    const wchar_t c = t[i];
    if (c == L'"') {
      for (++i; i < t.size() && t[i] != L'"'; ++i)
        if (t[i] == L'\\') ++i;
    } else if (c == L'[' || c == L'{') {
      ++depth;
    } else if (c == L']' || c == L'}') {
      if (depth == 0) break;
      --depth;
    } else if (c == L',' && depth == 0) {
      ++commas;
    }
  }
  return std::min(commas + 1, (t.size() - r.pos) / 2 + 1);
}

void WriteValue(const JsonValue& v, std::wstring* out) {
  switch (v.kind) {
    case 1: *out += v.number != 0 ? L"true" : L"false"; break;
    case 2: *out += fmt::format(L"{}", v.number); break;
    case 3: JsonWriteString(v.string, out); break;
    case 4:
      out->push_back(L'[');
      for (size_t i = 0; i < v.items.size(); ++i) {
        if (i) out->push_back(L',');
        WriteValue(v.items[i], out);
      }
      out->push_back(L']');
      break;
    case 5:
      out->push_back(L'{');
      for (size_t i = 0; i < v.members.size(); ++i) {
        if (i) out->push_back(L',');
        JsonWriteString(v.members[i].first, out);
        out->push_back(L':');
        WriteValue(v.members[i].second, out);
      }
      out->push_back(L'}');
      break;
    default: *out += L"null"; break;
  }
}

}  // namespace

bool JsonMatch(JsonReader* r, const wchar_t* word) {
  size_t n = wcslen(word);
  if (r->pos > r->text.size() || r->text.compare(r->pos, n, word) != 0) return false;
  r->pos += n;
  return true;
}

bool JsonParseString(JsonReader* r, std::wstring* out) {
  const std::wstring& t = r->text;
  if (!Peek(r, L'"')) return false;
  ++r->pos;
  for (;;) {
    if (r->pos >= t.size()) return false;
    // The run up to the next quote or escape goes in with one append.
    size_t end = r->pos;
    while (end < t.size() && t[end] != L'"' && t[end] != L'\\') ++end;
    out->append(t, r->pos, end - r->pos);
    r->pos = end;
    if (r->pos >= t.size()) return false;
    wchar_t c = t[r->pos++];
    if (c == L'"') return true;
    if (r->pos >= t.size()) return false;
    c = t[r->pos++];
    switch (c) {
      case L'b': out->push_back(L'\b'); break;
      case L'f': out->push_back(L'\f'); break;
      case L'n': out->push_back(L'\n'); break;
      case L'r': out->push_back(L'\r'); break;
      case L't': out->push_back(L'\t'); break;
      case L'u': {
        long unit = ReadHex4(t, r->pos);
        if (unit < 0) return false;
        r->pos += 4;
        if (unit < kHighFirst || unit > kLowLast) {
          out->push_back(static_cast<wchar_t>(unit));
          break;
        }
        // Text in memory is UTF-32: a pair becomes one code point, a lone half U+FFFD. A
        // second escape that is not a low half is left to be read on its own.
        long low = unit <= kHighLast && t.compare(r->pos, 2, L"\\u") == 0 ? ReadHex4(t, r->pos + 2) : -1;
        if (low >= kLowFirst && low <= kLowLast) {
          out->push_back(static_cast<wchar_t>(0x10000 + ((unit - kHighFirst) << 10) + (low - kLowFirst)));
          r->pos += 6;
        } else {
          out->push_back(kReplacement);
        }
        break;
      }
      default: out->push_back(c); break;  // \" \\ \/ and any other character stand for themselves
    }
  }
}

bool JsonParseValue(JsonReader* r, JsonValue* out, int depth) {
  if (depth > kJsonMaxDepth || r->pos >= r->text.size()) return false;
  switch (r->text[r->pos]) {
    case L'"':
      out->kind = 3;
      return JsonParseString(r, &out->string);
    case L'{':
      out->kind = 5;
      ++r->pos;
      SkipSpace(r);
      if (Peek(r, L'}')) { ++r->pos; return true; }
      for (;;) {
        SkipSpace(r);
        std::wstring key;
        if (!JsonParseString(r, &key)) return false;
        SkipSpace(r);
        if (!Peek(r, L':')) return false;
        ++r->pos;
        SkipSpace(r);
        out->members.emplace_back(std::move(key), JsonValue{});
        if (!JsonParseValue(r, &out->members.back().second, depth + 1)) return false;
        SkipSpace(r);
        if (Peek(r, L',')) { ++r->pos; continue; }
        if (Peek(r, L'}')) { ++r->pos; return true; }
        return false;
      }
    case L'[':
      out->kind = 4;
      ++r->pos;
      SkipSpace(r);
      if (Peek(r, L']')) { ++r->pos; return true; }
      for (;;) {
        SkipSpace(r);
        if (out->items.size() == kGrowthCheck) out->items.reserve(kGrowthCheck + RemainingItems(*r));
        JsonValue& item = out->items.emplace_back();
        // Long arrays are mostly numbers: read them here rather than one call deeper.
        const bool number = r->pos < r->text.size() && (IsDigitChar(r->text[r->pos]) || r->text[r->pos] == L'-');
        if (!(number && depth < kJsonMaxDepth ? ParseNumber(r, &item) : JsonParseValue(r, &item, depth + 1))) return false;
        SkipSpace(r);
        if (Peek(r, L',')) { ++r->pos; continue; }
        if (Peek(r, L']')) { ++r->pos; return true; }
        return false;
      }
    case L't':
      if (!JsonMatch(r, L"true")) return false;
      out->kind = 1;
      out->number = 1.0;
      return true;
    case L'f':
      if (!JsonMatch(r, L"false")) return false;
      out->kind = 1;
      out->number = 0.0;
      return true;
    case L'n':
      if (!JsonMatch(r, L"null")) return false;
      out->kind = 0;
      return true;
    default:
      return ParseNumber(r, out);
  }
}

bool JsonParse(const std::wstring& text, JsonValue* out) {
  JsonReader reader{text};
  JsonValue value;
  SkipSpace(&reader);
  bool ok = JsonParseValue(&reader, &value, 0);
  if (ok) {
    SkipSpace(&reader);
    ok = reader.pos == text.size();
  }
  *out = ok ? std::move(value) : JsonValue{};
  return ok;
}

const JsonValue* JsonFind(const JsonValue& object, const std::wstring& key) {
  if (object.kind != 5) return nullptr;
  for (const auto& member : object.members)
    if (member.first == key) return &member.second;
  return nullptr;
}

void JsonWriteString(std::wstring_view text, std::wstring* out, JsonControls controls) {
  out->push_back(L'"');
  for (wchar_t c : text) {
    if (c >= 0 && c < 0x20 && controls == JsonControls::kAsSpaces) c = L' ';
    switch (c) {
      case L'"': *out += L"\\\""; break;
      case L'\\': *out += L"\\\\"; break;
      case L'\b': *out += L"\\b"; break;
      case L'\f': *out += L"\\f"; break;
      case L'\n': *out += L"\\n"; break;
      case L'\r': *out += L"\\r"; break;
      case L'\t': *out += L"\\t"; break;
      default:
        if (c >= 0 && c < 0x20) *out += fmt::format(L"\\u{:04x}", static_cast<int>(c));
        else out->push_back(c);
    }
  }
  out->push_back(L'"');
}

std::wstring JsonWrite(const JsonValue& value) {
  std::wstring out;
  WriteValue(value, &out);
  return out;
}
