#pragma once
// AMF0, the value encoding of RTMP commands: writers for the handful of types the publisher sends
// and one reader for every type it may receive. Multi-byte numbers are big-endian.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// --- Type markers -------------------------------------------------------------------------------
inline constexpr uint8_t kAmfNumber = 0;
inline constexpr uint8_t kAmfBoolean = 1;
inline constexpr uint8_t kAmfString = 2;
inline constexpr uint8_t kAmfObject = 3;
inline constexpr uint8_t kAmfNull = 5;
inline constexpr uint8_t kAmfUndefined = 6;
inline constexpr uint8_t kAmfEcmaArray = 8;
inline constexpr uint8_t kAmfObjectEnd = 9;
inline constexpr uint8_t kAmfStrictArray = 10;
inline constexpr uint8_t kAmfLongString = 12;  // read, then kept as kAmfString

// What the reader does with each marker, one row per marker 0 to 12.
struct AmfMarkerRule {
  uint8_t marker;
  const char* name;
  bool readable;         // markers 4, 7, 9 and 11 are refused
  uint8_t fixedBytes;    // bytes that always follow the marker before any variable part
};
std::span<const AmfMarkerRule> AmfMarkerRules();

// --- Limits -------------------------------------------------------------------------------------
inline constexpr int kAmfMaxDepth = 16;          // levels below the top-level value
inline constexpr size_t kAmfMaxValues = 65536;   // values one read (or one command) may produce

struct AmfProperty;
// One decoded value; a fresh one is null. Values own their children.
struct AmfValue {
  uint8_t type = kAmfNull;  // kAmfNumber ... kAmfStrictArray; long strings become kAmfString
  double number = 0.0;
  bool boolean = false;
  std::string string;                   // UTF-8 bytes
  std::vector<AmfProperty> properties;  // object or ECMA array members in order; strict array
                                        // elements with empty names
};
struct AmfProperty {
  std::string name;
  AmfValue value;
};

// --- Writers (append to a byte buffer) ------------------------------------------------------------
void AmfWriteNumber(std::vector<uint8_t>& out, double value);
void AmfWriteBoolean(std::vector<uint8_t>& out, bool value);
// Strings are written with a 16-bit length: only short ones (asserted below 65536 bytes).
void AmfWriteString(std::vector<uint8_t>& out, std::string_view utf8);
void AmfWriteNull(std::vector<uint8_t>& out);
void AmfWriteObjectStart(std::vector<uint8_t>& out);
void AmfWritePropertyName(std::vector<uint8_t>& out, std::string_view utf8);
void AmfWriteObjectEnd(std::vector<uint8_t>& out);
void AmfWriteEcmaArrayStart(std::vector<uint8_t>& out, uint32_t count);

// --- Reading ------------------------------------------------------------------------------------
// A cursor over AMF0 bytes that counts the values it produced, so that every value of one
// command shares one kAmfMaxValues budget. error says why the last read failed.
struct AmfReader {
  AmfReader(const uint8_t* begin, const uint8_t* stop) : cursor(begin), end(stop) {}
  const uint8_t* cursor;
  const uint8_t* end;
  size_t valuesRead = 0;
  std::string error;
};
// Reads one top-level value at the reader's cursor and advances past it; as below.
bool ReadAmfValue(AmfReader& reader, AmfValue* out);
// Reads one value at *cursor (top-level callers pass depth 0) and advances past it. Fails past
// kAmfMaxDepth levels, on an unknown marker, on anything that runs past end, or beyond
// kAmfMaxValues values; a declared count never sizes an allocation. On failure *out is null,
// *cursor is unspecified and *error (when given) says what was wrong.
bool ReadAmfValue(const uint8_t** cursor, const uint8_t* end, AmfValue* out, int depth,
                  std::string* error = nullptr);
// The number of the first property with exactly that name when it is a number, else 0.0.
double AmfNumberProperty(const AmfValue& object, std::string_view name);
// The string of the first property with exactly that name when it is a string, else empty.
std::string AmfStringProperty(const AmfValue& object, std::string_view name);
