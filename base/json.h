#pragma once
// The one JSON reader (server answers of a few kilobytes to a few hundred) and a canonical writer.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// One parsed value; it owns its children.
struct JsonValue {
  // Provided, so that a value made in a container is not first zero-filled whole.
  JsonValue() noexcept {}
  int32_t kind = 0;   // 0 null, 1 bool, 2 number, 3 string, 4 array, 5 object
  double number = 0;  // a number's value; 1.0 for true; 0.0 for false and every other kind
  std::wstring string;
  std::vector<JsonValue> items;                               // array elements, in document order
  std::vector<std::pair<std::wstring, JsonValue>> members;    // object members, duplicates kept
};

// --- Reading ---

// True when the whole text (white space around it allowed) is one valid value; *out then holds
// it. On false *out is a null value: no partial result. Never throws for bad input.
bool JsonParse(const std::wstring& text, JsonValue* out);
// The first member of the object whose key equals key exactly; null when there is none or when
// object is not an object.
const JsonValue* JsonFind(const JsonValue& object, const std::wstring& key);

// --- The parser's steps ---

// The parse cursor: the whole text and the index of the next character.
struct JsonReader {
  const std::wstring& text;
  size_t pos = 0;
};
// Deepest level below the top-level value (at depth 0) that a value may sit at.
constexpr int kJsonMaxDepth = 64;
// One value at the cursor (no white space before it). Numbers are read in the C locale and
// must be finite. On false the cursor and *out are unspecified.
bool JsonParseValue(JsonReader* reader, JsonValue* out, int depth);
// One quoted string at the cursor, appended to *out. A \u surrogate pair becomes one code point;
// a lone surrogate becomes U+FFFD.
bool JsonParseString(JsonReader* reader, std::wstring* out);
// True and moves past the word when the next characters equal it; else leaves the cursor.
bool JsonMatch(JsonReader* reader, const wchar_t* word);

// --- Writing ---

// Compact canonical text: members in document order, numbers in their shortest round-trip form
// (integral values without a fraction), strings escaped with \uXXXX for control characters.
std::wstring JsonWrite(const JsonValue& value);
// How a JSON string writes characters below U+0020: escaped (\n, \u0001) or as spaces (text a
// page shows on one line, such as the phone remote's titles).
enum class JsonControls { kEscaped, kAsSpaces };
// Appends the text as a JSON string, quotes included, '"' and '\' escaped.
void JsonWriteString(std::wstring_view text, std::wstring* out, JsonControls controls = JsonControls::kEscaped);
