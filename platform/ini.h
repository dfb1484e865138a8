#pragma once
// Our INI reader and writer, standing in for the private-profile API. Lookups follow its rules:
// section and key names compare without letter case, only the first section of a name and the
// first key of a name in it count, values lose surrounding blanks and then one pair of
// surrounding double quotes. Unlike that API the
// file is read and written whole, as UTF-8, and nothing it does not understand is dropped.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// A settings file is a few kilobytes; anything this large is not read.
constexpr size_t kIniMaxBytes = size_t(4) << 20;

// One line inside a section: a "key=value" pair, or a line kept as it is (a comment, or text
// without "=") so that a rewrite gives it back.
struct IniEntry {
  std::wstring key;
  std::wstring stored;  // the value as it stands in the file (trimmed, quotes kept); or the line
  bool isKey = true;
};

struct IniSection {
  std::wstring name;
  bool hasHeader = true;  // false only for lines before the first "[section]"
  std::vector<IniEntry> entries;
};

struct IniDocument {
  std::vector<IniSection> sections;  // in file order
};

// --- Reading and writing a document ---

// Parses UTF-8 text with or without a byte-order mark, CR LF or LF line ends; never fails. Bytes
// that are not UTF-8 are kept as PathFromBytes keeps them, and written back as they were.
IniDocument ParseIni(std::string_view bytes);
// The whole document as UTF-8 without a byte-order mark, LF line ends, a blank line between
// sections.
std::string SerializeIni(const IniDocument& doc);

// --- Lookups (the private-profile rules) ---

// The key's value with its quotes removed; false when there is no such key.
bool IniLookup(const IniDocument& doc, std::wstring_view section, std::wstring_view key, std::wstring* value);
// The value, or the default when the key is missing.
std::wstring IniString(const IniDocument& doc, std::wstring_view section, std::wstring_view key,
                       std::wstring_view defaultValue);
// The leading decimal integer of the value (saturated to 32 bits; 0 when it starts with no
// number); the default when the key is missing or its value empty.
int32_t IniInt(const IniDocument& doc, std::wstring_view section, std::wstring_view key, int32_t defaultValue);
// The leading decimal integer of a text: blanks, an optional sign, digits; saturated to 64 bits.
// 0 when the text starts with no number.
int64_t LeadingInteger(std::wstring_view text);

// The same lookups on a file, read afresh on every call; a missing or unreadable file gives
// the default.
std::wstring IniString(const std::wstring& path, std::wstring_view section, std::wstring_view key,
                       std::wstring_view defaultValue);
int32_t IniInt(const std::wstring& path, std::wstring_view section, std::wstring_view key, int32_t defaultValue);

// --- Changes ---

// Sets the key that lookups find, or appends it to the section, or appends a new section. The value comes back unchanged from IniLookup: it is quoted when its ends would
// otherwise be lost, and line breaks, which a line cannot hold, become spaces.
void IniSet(IniDocument* doc, std::wstring_view section, std::wstring_view key, std::wstring_view value);
// Removes every matching key of every matching section.
void IniErase(IniDocument* doc, std::wstring_view section, std::wstring_view key);
// Removes every matching section with all its lines.
void IniEraseSection(IniDocument* doc, std::wstring_view section);

// --- Updating a file that several parts share ---

enum class IniUpdate { Saved, Unreadable, WriteFailed };
// Reads the file (a missing file is an empty document), lets `change` edit it and writes it back
// whole and crash-safe, so the sections other parts keep there survive. An existing file that
// cannot be read is never overwritten (Unreadable). *error names the failing step.
IniUpdate UpdateIniFile(const std::wstring& path, const std::function<void(IniDocument*)>& change,
                        std::wstring* error);
