#include "library/id3_frames.h"

#include <algorithm>
#include <fstream>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "base/log.h"
#include "base/text_parse.h"
#include "platform/files.h"
#include "platform/text.h"

namespace {

constexpr uint8_t kHeaderUnsync = 0x80;
constexpr uint8_t kHeaderExtended = 0x40;
constexpr uint8_t kHeaderFooter = 0x10;  // 2.4 only: a 10-byte copy of the header after the body
constexpr size_t kFooterBytes = 10;
constexpr size_t kExtendedSizeBytes = 4;
constexpr size_t kMinExtended24Bytes = 6;  // size, flag count, one flag byte

// Frame format flags (the second flags byte).
constexpr uint8_t kFrame23Compressed = 0x80;
constexpr uint8_t kFrame23Encrypted = 0x40;
constexpr uint8_t kFrame23Grouped = 0x20;
constexpr uint8_t kFrame24Grouped = 0x40;
constexpr uint8_t kFrame24Compressed = 0x08;
constexpr uint8_t kFrame24Encrypted = 0x04;
constexpr uint8_t kFrame24Unsync = 0x02;
constexpr uint8_t kFrame24DataLength = 0x01;
constexpr size_t kGroupBytes = 1;
constexpr size_t kDataLengthBytes = 4;

constexpr uint8_t kSyncsafeTopBit = 0x80;
constexpr uint32_t kHighSurrogateFirst = 0xD800, kLowSurrogateFirst = 0xDC00, kSurrogateEnd = 0xE000;
constexpr wchar_t kReplacement = 0xFFFD;
constexpr size_t kMaxLoggedExcerpt = 16;  // bytes of a bad frame id shown in a message

uint32_t BigEndian32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

bool IsFrameIdChar(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

struct HeaderInfo {
  int version = 0;
  uint8_t flags = 0;
  uint32_t bodyBytes = 0;
  uint64_t totalBytes = 0;
};

Id3Status Fail(Id3Status status, std::wstring* error, std::wstring text) {
  if (error) *error = std::move(text);
  return status;
}

Id3Status ParseHeader(std::span<const uint8_t> bytes, HeaderInfo* info, std::wstring* error) {
  if (bytes.size() < kId3HeaderBytes || bytes[0] != 'I' || bytes[1] != 'D' || bytes[2] != '3')
    return Fail(Id3Status::NoTag, error, L"No ID3v2 tag at the start of the file");
  info->version = bytes[3];
  if (info->version != 3 && info->version != 4)
    return Fail(Id3Status::Unsupported, error,
                fmt::format(L"ID3v2.{} tags are not read (only 2.3 and 2.4)", info->version));
  info->flags = bytes[5];
  if (!ReadSyncsafe(&bytes[6], &info->bodyBytes))
    return Fail(Id3Status::Malformed, error, L"The ID3 tag size is not a syncsafe number");
  const bool footer = info->version == 4 && (info->flags & kHeaderFooter);
  info->totalBytes = kId3HeaderBytes + uint64_t(info->bodyBytes) + (footer ? kFooterBytes : 0);
  if (info->totalBytes > kMaxId3TagBytes)
    return Fail(Id3Status::Malformed, error,
                fmt::format(L"The ID3 tag of {} bytes is larger than the {} MiB allowed", info->totalBytes,
                            kMaxId3TagBytes >> 20));
  return Id3Status::Ok;
}

// Where the frames start in the body (after an extended header); false when it does not fit.
bool FramesStart(const std::vector<uint8_t>& body, int version, size_t* start, std::wstring* error) {
  if (body.size() < kExtendedSizeBytes) {
    *error = L"The ID3 extended header runs past the tag";
    return false;
  }
  uint64_t size = 0;
  if (version == 3) {
    size = uint64_t(BigEndian32(body.data())) + kExtendedSizeBytes;
  } else {
    uint32_t syncsafe = 0;
    if (!ReadSyncsafe(body.data(), &syncsafe)) {
      *error = L"The ID3 extended header size is not a syncsafe number";
      return false;
    }
    size = syncsafe;
    if (size < kMinExtended24Bytes) {
      *error = fmt::format(L"The ID3 extended header declares {} bytes, fewer than its own fields", size);
      return false;
    }
  }
  if (size > body.size()) {
    *error = fmt::format(L"The ID3 extended header declares {} bytes but the tag holds {}", size, body.size());
    return false;
  }
  *start = static_cast<size_t>(size);
  return true;
}

// Turns one frame's stored data into its plain data. False with *error when the data is too short
// for the fields its flags announce; *keep false for frames whose data cannot be read as stored
// (compressed or encrypted).
bool FrameData(const std::string& id, int version, bool tagUnsync, uint8_t format, std::span<const uint8_t> stored,
               std::vector<uint8_t>* data, bool* keep, std::wstring* error) {
  const bool compressed = format & (version == 3 ? kFrame23Compressed : kFrame24Compressed);
  const bool encrypted = format & (version == 3 ? kFrame23Encrypted : kFrame24Encrypted);
  const bool grouped = format & (version == 3 ? kFrame23Grouped : kFrame24Grouped);
  *keep = !compressed && !encrypted;
  if (!*keep) return true;
  size_t skip = grouped ? kGroupBytes : 0;
  if (version == 4 && (format & kFrame24DataLength)) skip += kDataLengthBytes;
  if (stored.size() < skip) {
    *error = fmt::format(L"ID3 frame \"{}\" of {} bytes is too short for the fields its flags announce",
                         Utf8ToWide(id), stored.size());
    return false;
  }
  stored = stored.subspan(skip);
  // In 2.3 the whole body was resynchronised already; 2.4 marks each frame (some writers set only
  // the header flag, which 2.4 defines as "every frame is unsynchronised").
  if (version == 4 && ((format & kFrame24Unsync) || tagUnsync)) *data = RemoveUnsync(stored);
  else data->assign(stored.begin(), stored.end());
  return true;
}

}  // namespace

bool ReadSyncsafe(const uint8_t* four, uint32_t* value) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) {
    if (four[i] & kSyncsafeTopBit) return false;
    v = v << 7 | four[i];
  }
  *value = v;
  return true;
}

std::vector<uint8_t> RemoveUnsync(std::span<const uint8_t> bytes) {
  std::vector<uint8_t> out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == 0x00 && i > 0 && bytes[i - 1] == 0xFF) continue;
    out.push_back(bytes[i]);
  }
  return out;
}

std::vector<uint8_t> ReadFileBytes(const std::wstring& path, size_t limit) {
  const long long size = FileSize(path);
  if (size < 0) return {};
  std::ifstream in(PathToBytes(path), std::ios::binary);
  if (!in) return {};
  std::vector<uint8_t> bytes(std::min(static_cast<size_t>(size), limit));
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<size_t>(std::max<std::streamsize>(in.gcount(), 0)));
  return bytes;
}

Id3Status ParseId3Tag(std::span<const uint8_t> bytes, Id3Tag* tag, std::wstring* error) {
  *tag = Id3Tag{};
  HeaderInfo header;
  if (Id3Status status = ParseHeader(bytes, &header, error); status != Id3Status::Ok) return status;
  const uint64_t bodyEnd = kId3HeaderBytes + uint64_t(header.bodyBytes);
  if (bytes.size() < bodyEnd)
    return Fail(Id3Status::Malformed, error,
                fmt::format(L"The file ends inside its ID3 tag ({} of {} bytes)", bytes.size(), bodyEnd));
  const std::span<const uint8_t> stored = bytes.subspan(kId3HeaderBytes, header.bodyBytes);
  const bool tagUnsync = header.flags & kHeaderUnsync;
  std::vector<uint8_t> body = header.version == 3 && tagUnsync ? RemoveUnsync(stored)
                                                                : std::vector<uint8_t>(stored.begin(), stored.end());
  std::wstring why;
  size_t pos = 0;
  if ((header.flags & kHeaderExtended) && !FramesStart(body, header.version, &pos, &why))
    return Fail(Id3Status::Malformed, error, why);

  tag->version = header.version;
  tag->bytes = header.totalBytes;
  // A bad frame ends the walk; what was read before it stays, as other readers keep it.
  auto stop = [&](std::wstring text) { return Fail(Id3Status::Partial, error, std::move(text)); };
  while (pos + kId3FrameHeaderBytes <= body.size()) {
    const uint8_t* h = &body[pos];
    if (h[0] == 0) break;  // padding
    const std::span<const uint8_t> idBytes(h, 4);
    if (!std::all_of(idBytes.begin(), idBytes.end(), IsFrameIdChar))
      return stop(fmt::format(L"ID3 frame id \"{}\" is not four capital letters or digits", ByteExcerpt(idBytes, kMaxLoggedExcerpt)));
    const std::string id(reinterpret_cast<const char*>(h), 4);
    uint32_t size = 0;
    if (header.version == 3) size = BigEndian32(h + 4);
    else if (!ReadSyncsafe(h + 4, &size))
      return stop(fmt::format(L"ID3 frame \"{}\" size is not a syncsafe number", Utf8ToWide(id)));
    const size_t left = body.size() - pos - kId3FrameHeaderBytes;
    if (size > left)
      return stop(fmt::format(L"ID3 frame \"{}\" declares {} bytes but only {} remain", Utf8ToWide(id), size, left));
    Id3Frame frame{.id = id, .data = {}};
    bool keep = true;
    if (!FrameData(id, header.version, tagUnsync, h[9], std::span<const uint8_t>(h + kId3FrameHeaderBytes, size),
                   &frame.data, &keep, &why))
      return stop(why);
    if (keep) tag->frames.push_back(std::move(frame));
    pos += kId3FrameHeaderBytes + size;
  }
  return Id3Status::Ok;
}

Id3Status ReadId3Tag(const std::wstring& path, Id3Tag* tag, std::wstring* error) {
  *tag = Id3Tag{};
  if (FileSize(path) < 0) return Fail(Id3Status::Unreadable, error, L"The file cannot be read");
  const std::vector<uint8_t> head = ReadFileBytes(path, kId3HeaderBytes);
  HeaderInfo header;
  if (Id3Status status = ParseHeader(head, &header, error); status != Id3Status::Ok) return status;
  const std::vector<uint8_t> bytes = ReadFileBytes(path, static_cast<size_t>(header.totalBytes));
  return ParseId3Tag(bytes, tag, error);
}

std::vector<Id3Frame> ReadId3Frames(const std::wstring& path) {
  Id3Tag tag;
  std::wstring error;
  const Id3Status status = ReadId3Tag(path, &tag, &error);
  if (status == Id3Status::Malformed || status == Id3Status::Partial) WriteLog(L"Tags: {}: {}", path, error);
  return std::move(tag.frames);
}

std::wstring Utf16BytesToWide(std::span<const uint8_t> bytes, bool bigEndian) {
  std::wstring out;
  out.reserve(bytes.size() / 2);
  uint32_t pendingHigh = 0;
  for (size_t i = 0; i + 2 <= bytes.size(); i += 2) {
    const uint32_t unit = bigEndian ? uint32_t(bytes[i]) << 8 | bytes[i + 1] : uint32_t(bytes[i + 1]) << 8 | bytes[i];
    const bool high = unit >= kHighSurrogateFirst && unit < kLowSurrogateFirst;
    const bool low = unit >= kLowSurrogateFirst && unit < kSurrogateEnd;
    if (pendingHigh && low) {
      out += static_cast<wchar_t>(0x10000 + ((pendingHigh - kHighSurrogateFirst) << 10) + (unit - kLowSurrogateFirst));
      pendingHigh = 0;
      continue;
    }
    if (pendingHigh) out += kReplacement;
    pendingHigh = 0;
    if (high) pendingHigh = unit;
    else out += low ? kReplacement : static_cast<wchar_t>(unit);
  }
  if (pendingHigh) out += kReplacement;
  return out;
}

std::wstring ReadId3Text(std::span<const uint8_t> bytes, size_t* position, uint8_t encoding, bool toEnd) {
  size_t p = std::min(*position, bytes.size());
  const size_t n = bytes.size();
  std::wstring text;
  if (encoding == 1 || encoding == 2) {
    bool big = encoding == 2;
    if (p + 2 <= n && bytes[p] == 0xFF && bytes[p + 1] == 0xFE) {
      big = false;
      p += 2;
    } else if (p + 2 <= n && bytes[p] == 0xFE && bytes[p + 1] == 0xFF) {
      big = true;
      p += 2;
    }
    size_t end = p;
    while (end + 2 <= n && (toEnd || bytes[end] != 0 || bytes[end + 1] != 0)) end += 2;
    text = Utf16BytesToWide(bytes.subspan(p, end - p), big);
    p = end + 2 <= n ? end + 2 : end;  // past the terminator when there is one
  } else {
    size_t end = p;
    while (end < n && (toEnd || bytes[end] != 0)) ++end;
    const std::span<const uint8_t> field = bytes.subspan(p, end - p);
    if (encoding == 3) {
      text = Utf8ToWide(std::string_view(reinterpret_cast<const char*>(field.data()), field.size()));
    } else {
      text.assign(field.begin(), field.end());  // Latin-1 bytes are their own code points
    }
    p = end < n ? end + 1 : end;
  }
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  *position = p;
  return text;
}
