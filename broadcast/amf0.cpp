#include "broadcast/amf0.h"

#include <bit>
#include <cassert>
#include <cstring>

#include <fmt/format.h>

namespace {

constexpr uint8_t kAmfLastMarker = 12;
constexpr AmfMarkerRule kRules[] = {
    {.marker = 0, .name = "number", .readable = true, .fixedBytes = 8},
    {.marker = 1, .name = "boolean", .readable = true, .fixedBytes = 1},
    {.marker = 2, .name = "string", .readable = true, .fixedBytes = 2},
    {.marker = 3, .name = "object", .readable = true, .fixedBytes = 0},
    {.marker = 4, .name = "movie clip", .readable = false, .fixedBytes = 0},
    {.marker = 5, .name = "null", .readable = true, .fixedBytes = 0},
    {.marker = 6, .name = "undefined", .readable = true, .fixedBytes = 0},
    {.marker = 7, .name = "reference", .readable = false, .fixedBytes = 0},
    {.marker = 8, .name = "ECMA array", .readable = true, .fixedBytes = 4},
    {.marker = 9, .name = "object end", .readable = false, .fixedBytes = 0},
    {.marker = 10, .name = "strict array", .readable = true, .fixedBytes = 4},
    {.marker = 11, .name = "date", .readable = false, .fixedBytes = 0},
    {.marker = 12, .name = "long string", .readable = true, .fixedBytes = 4},
};
static_assert(sizeof kRules / sizeof kRules[0] == kAmfLastMarker + 1);

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint32_t U32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}
size_t Left(const AmfReader& r) { return static_cast<size_t>(r.end - r.cursor); }

bool Fail(AmfReader& r, std::string text) {
  r.error = std::move(text);
  return false;
}

bool ReadValue(AmfReader& r, AmfValue* out, int depth);

// Members up to the empty name and end marker; each member's value one level deeper.
bool ReadProperties(AmfReader& r, AmfValue* out, int depth) {
  for (;;) {
    if (Left(r) < 2) return Fail(r, "AMF object ends without its end marker");
    const size_t nameLength = U16(r.cursor);
    r.cursor += 2;
    if (nameLength > Left(r))
      return Fail(r, fmt::format("AMF property name of {} bytes runs past the end ({} left)", nameLength, Left(r)));
    std::string name(reinterpret_cast<const char*>(r.cursor), nameLength);
    r.cursor += nameLength;
    if (nameLength == 0 && Left(r) > 0 && *r.cursor == kAmfObjectEnd) {
      ++r.cursor;
      return true;
    }
    AmfProperty property{std::move(name), {}};
    if (!ReadValue(r, &property.value, depth + 1)) return false;
    out->properties.push_back(std::move(property));
  }
}

bool ReadValue(AmfReader& r, AmfValue* out, int depth) {
  *out = AmfValue{};
  if (Left(r) == 0) return Fail(r, "AMF value missing: no bytes left");
  if (depth > kAmfMaxDepth) return Fail(r, fmt::format("AMF value nested deeper than {} levels", kAmfMaxDepth));
  if (++r.valuesRead > kAmfMaxValues) return Fail(r, fmt::format("AMF data holds more than {} values", kAmfMaxValues));
  const uint8_t marker = *r.cursor++;
  if (marker > kAmfLastMarker || !kRules[marker].readable)
    return Fail(r, fmt::format("AMF marker {} ({}) is not supported", marker,
                               marker > kAmfLastMarker ? "unknown" : kRules[marker].name));
  const AmfMarkerRule& rule = kRules[marker];
  if (Left(r) < rule.fixedBytes)
    return Fail(r, fmt::format("AMF {} needs {} bytes, only {} left", rule.name, rule.fixedBytes, Left(r)));
  out->type = marker;
  switch (marker) {
    case kAmfNumber:
      out->number = std::bit_cast<double>(uint64_t(U32(r.cursor)) << 32 | U32(r.cursor + 4));
      r.cursor += 8;
      return true;
    case kAmfBoolean:
      out->boolean = *r.cursor++ != 0;
      return true;
    case kAmfString:
    case kAmfLongString: {
      const size_t length = marker == kAmfString ? U16(r.cursor) : U32(r.cursor);
      r.cursor += rule.fixedBytes;
      if (length > Left(r))
        return Fail(r, fmt::format("AMF {} of {} bytes runs past the end ({} left)", rule.name, length, Left(r)));
      out->type = kAmfString;
      out->string.assign(reinterpret_cast<const char*>(r.cursor), length);
      r.cursor += length;
      return true;
    }
    case kAmfObject:
      return ReadProperties(r, out, depth);
    case kAmfNull:
    case kAmfUndefined:
      return true;
    case kAmfEcmaArray:
      r.cursor += 4;  // the count is a hint only; the end marker ends the array
      return ReadProperties(r, out, depth);
    case kAmfStrictArray: {
      const uint32_t count = U32(r.cursor);
      r.cursor += 4;
      // Each element takes at least its marker byte: a larger count cannot be real.
      if (count > Left(r))
        return Fail(r, fmt::format("AMF strict array declares {} elements but only {} bytes are left", count, Left(r)));
      for (uint32_t i = 0; i < count; ++i) {
        AmfProperty element;
        if (!ReadValue(r, &element.value, depth + 1)) return false;
        out->properties.push_back(std::move(element));
      }
      return true;
    }
  }
  return Fail(r, "AMF marker not handled");
}

void AppendU16(std::vector<uint8_t>& out, size_t value) {
  assert(value <= 0xFFFF && "AMF0 short strings only: keep written names and texts below 64 KiB");
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value));
}

}  // namespace

std::span<const AmfMarkerRule> AmfMarkerRules() { return kRules; }

void AmfWriteNumber(std::vector<uint8_t>& out, double value) {
  out.push_back(kAmfNumber);
  const uint64_t bits = std::bit_cast<uint64_t>(value);
  for (int shift = 56; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(bits >> shift));
}

void AmfWriteBoolean(std::vector<uint8_t>& out, bool value) {
  out.push_back(kAmfBoolean);
  out.push_back(value ? 1 : 0);
}

void AmfWriteString(std::vector<uint8_t>& out, std::string_view utf8) {
  out.push_back(kAmfString);
  AmfWritePropertyName(out, utf8);
}

void AmfWriteNull(std::vector<uint8_t>& out) { out.push_back(kAmfNull); }

void AmfWriteObjectStart(std::vector<uint8_t>& out) { out.push_back(kAmfObject); }

void AmfWritePropertyName(std::vector<uint8_t>& out, std::string_view utf8) {
  AppendU16(out, utf8.size());
  out.insert(out.end(), utf8.begin(), utf8.end());
}

void AmfWriteObjectEnd(std::vector<uint8_t>& out) {
  out.insert(out.end(), {0x00, 0x00, kAmfObjectEnd});
}

void AmfWriteEcmaArrayStart(std::vector<uint8_t>& out, uint32_t count) {
  out.push_back(kAmfEcmaArray);
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(count >> shift));
}

bool ReadAmfValue(AmfReader& reader, AmfValue* out) {
  reader.error.clear();
  if (ReadValue(reader, out, 0)) return true;
  *out = AmfValue{};
  return false;
}

bool ReadAmfValue(const uint8_t** cursor, const uint8_t* end, AmfValue* out, int depth, std::string* error) {
  AmfReader reader(*cursor, end);
  const bool ok = ReadValue(reader, out, depth);
  if (!ok) {
    *out = AmfValue{};
    if (error) *error = reader.error;
  }
  *cursor = reader.cursor;
  return ok;
}

double AmfNumberProperty(const AmfValue& object, std::string_view name) {
  for (const AmfProperty& p : object.properties)
    if (p.name == name) return p.value.type == kAmfNumber ? p.value.number : 0.0;
  return 0.0;
}

std::string AmfStringProperty(const AmfValue& object, std::string_view name) {
  for (const AmfProperty& p : object.properties)
    if (p.name == name) return p.value.type == kAmfString ? p.value.string : std::string();
  return {};
}
