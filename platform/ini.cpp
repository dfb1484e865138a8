#include "platform/ini.h"

#include <algorithm>
#include <cwctype>
#include <limits>

#include "platform/files.h"
#include "platform/text.h"

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";


std::wstring_view Trim(std::wstring_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool SameName(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::towlower(static_cast<wint_t>(a[i])) != std::towlower(static_cast<wint_t>(b[i]))) return false;
  return true;
}

bool IsQuoted(std::wstring_view s) { return s.size() >= 2 && s.front() == L'"' && s.back() == L'"'; }

std::wstring_view Unquote(std::wstring_view stored) {
  return IsQuoted(stored) ? stored.substr(1, stored.size() - 2) : stored;
}

// The stored form that Unquote turns back into the value.
std::wstring Quote(std::wstring_view value) {
  std::wstring out(value);
  std::replace_if(out.begin(), out.end(), [](wchar_t c) { return c == L'\r' || c == L'\n'; }, L' ');
  if (!out.empty() && (IsBlank(out.front()) || IsBlank(out.back()) || IsQuoted(out))) out = L'"' + out + L'"';
  return out;
}

template <typename Doc>
auto FindSection(Doc* doc, std::wstring_view name) -> decltype(&doc->sections[0]) {
  for (auto& s : doc->sections)
    if (s.hasHeader && SameName(s.name, name)) return &s;
  return nullptr;
}

template <typename Section>
auto FindKey(Section* section, std::wstring_view key) -> decltype(&section->entries[0]) {
  for (auto& e : section->entries)
    if (e.isKey && SameName(e.key, key)) return &e;
  return nullptr;
}

IniDocument ReadIniFile(const std::wstring& path) {
  std::string bytes;
  if (ReadBytes(path, &bytes, kIniMaxBytes) != ReadStatus::Ok) return {};
  return ParseIni(bytes);
}

}  // namespace

IniDocument ParseIni(std::string_view bytes) {
  if (bytes.substr(0, kUtf8Bom.size()) == kUtf8Bom) bytes.remove_prefix(kUtf8Bom.size());
  // Paths are stored as their bytes (music folders, deck tracks): names that are not UTF-8 read back.
  const std::wstring text = PathFromBytes(bytes);
  const std::wstring_view all(text);
  IniDocument doc;
  size_t pos = 0;
  while (pos < all.size()) {
    size_t end = all.find_first_of(L"\r\n", pos);
    if (end == std::wstring_view::npos) end = all.size();
    std::wstring_view line = Trim(all.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty()) continue;
    if (line.front() == L'[') {
      size_t close = line.rfind(L']');
      if (close != std::wstring_view::npos) {
        doc.sections.push_back({std::wstring(Trim(line.substr(1, close - 1))), true, {}});
        continue;
      }
    }
    if (doc.sections.empty()) doc.sections.push_back({L"", false, {}});
    IniSection& section = doc.sections.back();
    size_t eq = line.find(L'=');
    if (line.front() == L';' || eq == std::wstring_view::npos) {
      section.entries.push_back({L"", std::wstring(line), false});
    } else {
      section.entries.push_back({std::wstring(Trim(line.substr(0, eq))), std::wstring(Trim(line.substr(eq + 1))), true});
    }
  }
  return doc;
}

std::string SerializeIni(const IniDocument& doc) {
  std::wstring out;
  for (const IniSection& s : doc.sections) {
    if (!s.hasHeader && s.entries.empty()) continue;
    if (!out.empty()) out += L'\n';
    if (s.hasHeader) out += L'[' + s.name + L"]\n";
    for (const IniEntry& e : s.entries) out += e.isKey ? e.key + L'=' + e.stored + L'\n' : e.stored + L'\n';
  }
  return PathToBytes(out);
}

bool IniLookup(const IniDocument& doc, std::wstring_view section, std::wstring_view key, std::wstring* value) {
  const IniSection* s = FindSection(&doc, section);
  const IniEntry* e = s ? FindKey(s, key) : nullptr;
  if (!e) return false;
  value->assign(Unquote(e->stored));
  return true;
}

std::wstring IniString(const IniDocument& doc, std::wstring_view section, std::wstring_view key,
                       std::wstring_view defaultValue) {
  std::wstring value;
  return IniLookup(doc, section, key, &value) ? value : std::wstring(defaultValue);
}

int64_t LeadingInteger(std::wstring_view text) {
  text = Trim(text);
  bool negative = false;
  if (!text.empty() && (text.front() == L'-' || text.front() == L'+')) {
    negative = text.front() == L'-';
    text.remove_prefix(1);
  }
  // Magnitudes past |INT64_MIN| saturate instead of wrapping.
  constexpr uint64_t kCap = uint64_t(std::numeric_limits<int64_t>::max()) + 1;
  uint64_t magnitude = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') break;
    const uint64_t digit = uint64_t(c - L'0');
    magnitude = magnitude > (kCap - digit) / 10 ? kCap : magnitude * 10 + digit;
  }
  if (negative) return magnitude == kCap ? std::numeric_limits<int64_t>::min() : -int64_t(magnitude);
  return int64_t(std::min(magnitude, kCap - 1));
}

int32_t IniInt(const IniDocument& doc, std::wstring_view section, std::wstring_view key, int32_t defaultValue) {
  std::wstring value;
  if (!IniLookup(doc, section, key, &value) || value.empty()) return defaultValue;
  return int32_t(std::clamp<int64_t>(LeadingInteger(value), std::numeric_limits<int32_t>::min(),
                                     std::numeric_limits<int32_t>::max()));
}

std::wstring IniString(const std::wstring& path, std::wstring_view section, std::wstring_view key,
                       std::wstring_view defaultValue) {
  return IniString(ReadIniFile(path), section, key, defaultValue);
}

int32_t IniInt(const std::wstring& path, std::wstring_view section, std::wstring_view key, int32_t defaultValue) {
  return IniInt(ReadIniFile(path), section, key, defaultValue);
}

void IniSet(IniDocument* doc, std::wstring_view section, std::wstring_view key, std::wstring_view value) {
  IniSection* s = FindSection(doc, section);
  if (!s) {
    doc->sections.push_back({std::wstring(section), true, {}});
    s = &doc->sections.back();
  }
  if (IniEntry* e = FindKey(s, key)) {
    e->stored = Quote(value);
    return;
  }
  s->entries.push_back({std::wstring(key), Quote(value), true});
}

void IniErase(IniDocument* doc, std::wstring_view section, std::wstring_view key) {
  for (IniSection& s : doc->sections) {
    if (!s.hasHeader || !SameName(s.name, section)) continue;
    std::erase_if(s.entries, [&](const IniEntry& e) { return e.isKey && SameName(e.key, key); });
  }
}

void IniEraseSection(IniDocument* doc, std::wstring_view section) {
  std::erase_if(doc->sections, [&](const IniSection& s) { return s.hasHeader && SameName(s.name, section); });
}

IniUpdate UpdateIniFile(const std::wstring& path, const std::function<void(IniDocument*)>& change,
                        std::wstring* error) {
  std::string bytes;
  IniDocument doc;
  switch (ReadBytes(path, &bytes, kIniMaxBytes)) {
    case ReadStatus::Ok:
      doc = ParseIni(bytes);
      break;
    case ReadStatus::Missing:
      break;
    case ReadStatus::Unreadable:
      if (error) *error = L"the file couldn't be read";
      return IniUpdate::Unreadable;
  }
  change(&doc);
  return WriteBytesAtomic(path, SerializeIni(doc), error) ? IniUpdate::Saved : IniUpdate::WriteFailed;
}
