#include "broadcast/rtmp_chunks.h"

#include <algorithm>
#include <cassert>
#include <random>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "platform/clock.h"

namespace {

constexpr ChunkHeaderRule kHeaderRules[] = {
    {.format = 0, .headerBytes = 11, .hasTimestamp = true, .hasLength = true, .hasStreamId = true},
    {.format = 1, .headerBytes = 7, .hasTimestamp = true, .hasLength = true, .hasStreamId = false},
    {.format = 2, .headerBytes = 3, .hasTimestamp = true, .hasLength = false, .hasStreamId = false},
    {.format = 3, .headerBytes = 0, .hasTimestamp = false, .hasLength = false, .hasStreamId = false},
};

constexpr uint32_t kProtocolChunkStream = 2;     // protocol control messages
constexpr uint32_t kFirstExtendedChunkId = 64;   // ids from here need a longer basic header
constexpr size_t kPayloadPieceBytes = 65536;     // payload is stored as it arrives, this at a time
constexpr uint32_t kChunkSizeValueMask = 0x7FFFFFFF;  // Set Chunk Size's top bit is reserved

uint32_t U24(const uint8_t* p) { return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]; }
uint32_t U32(const uint8_t* p) { return uint32_t(p[0]) << 24 | U24(p + 1); }
uint32_t U32LE(const uint8_t* p) {
  return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}
void AppendU24(std::vector<uint8_t>& b, uint32_t v) {
  b.insert(b.end(), {static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)});
}

// Reads bytes that belong to chunks, counting them toward the acknowledgement window.
bool ReadCounted(Publisher& p, uint8_t* buffer, size_t size) {
  if (!ReceiveBytes(p, buffer, size)) return false;
  p.bytesReceived += size;
  return true;
}

template <typename... Args>
bool Problem(Publisher& p, fmt::wformat_string<Args...> format, Args&&... args) {
  p.readProblem = fmt::format(format, std::forward<Args>(args)...);
  return false;
}

void ApplyProtocolControl(Publisher& p, const RtmpMessage& m) {
  if (m.payload.size() < 4) return;
  const uint32_t value = U32(m.payload.data());
  if (m.type == kRtmpSetChunkSize)
    p.inChunkSize = std::clamp<uint32_t>(value & kChunkSizeValueMask, 1, kRtmpMaxChunkSize);
  else if (m.type == kRtmpWindowAckSize)
    p.windowAckSize = value;
}

}  // namespace

std::span<const ChunkHeaderRule> ChunkHeaderRules() { return kHeaderRules; }

bool RtmpWriteMessage(Publisher& p, uint32_t chunkStreamId, uint8_t type, uint32_t timestamp,
                      uint32_t streamId, const uint8_t* payload, size_t size) {
  assert(chunkStreamId >= 2 && chunkStreamId < kFirstExtendedChunkId && "use chunk streams 2 to 63");
  if (size > kRtmpExtendedTimestamp) return false;  // the length field has 24 bits
  const bool extended = timestamp >= kRtmpExtendedTimestamp;
  std::vector<uint8_t>& b = p.sendBuffer;
  b.clear();
  b.push_back(static_cast<uint8_t>(chunkStreamId));
  AppendU24(b, std::min(timestamp, kRtmpExtendedTimestamp));
  AppendU24(b, static_cast<uint32_t>(size));
  b.push_back(type);
  for (int shift = 0; shift < 32; shift += 8) b.push_back(static_cast<uint8_t>(streamId >> shift));
  if (extended) AppendU32BE(b, timestamp);
  const size_t chunk = std::max<uint32_t>(p.outChunkSize, 1);
  size_t done = 0;
  do {
    if (done > 0) {
      b.push_back(static_cast<uint8_t>(0xC0 | chunkStreamId));
      if (extended) AppendU32BE(b, timestamp);
    }
    const size_t piece = std::min(chunk, size - done);
    b.insert(b.end(), payload + done, payload + done + piece);
    done += piece;
  } while (done < size);
  return SendBytes(p, b.data(), b.size());
}

bool RtmpWriteMessage(Publisher& p, uint32_t chunkStreamId, uint8_t type, uint32_t timestamp,
                      uint32_t streamId, const std::vector<uint8_t>& payload) {
  return RtmpWriteMessage(p, chunkStreamId, type, timestamp, streamId, payload.data(), payload.size());
}

bool RtmpReadMessage(Publisher& p, RtmpMessage* out) {
  p.readProblem.clear();
  for (;;) {
    uint8_t basic[3];
    if (!ReadCounted(p, basic, 1)) return Problem(p, L"The connection ended before the next chunk");
    const uint8_t format = basic[0] >> 6;
    uint32_t id = basic[0] & 0x3F;
    if (id == 0 || id == 1) {
      if (!ReadCounted(p, basic + 1, id == 0 ? 1 : 2))
        return Problem(p, L"The connection ended inside a chunk's basic header");
      id = (id == 0 ? basic[1] : uint32_t(basic[2]) * 256 + basic[1]) + kFirstExtendedChunkId;
    }
    auto it = p.chunkStreams.find(id);
    if (it == p.chunkStreams.end()) {
      if (p.chunkStreams.size() >= kRtmpMaxChunkStreams)
        return Problem(p, L"Chunk stream {} would be one more than the {} kept at once", id, kRtmpMaxChunkStreams);
      it = p.chunkStreams.emplace(id, ChunkStreamState{}).first;
    }
    ChunkStreamState& s = it->second;
    const ChunkHeaderRule& rule = kHeaderRules[format];
    if (format != 0 && !s.started)
      return Problem(p, L"Chunk stream {} continues a message it never started (header type {})", id, format);

    uint8_t h[11];
    if (!ReadCounted(p, h, rule.headerBytes))
      return Problem(p, L"The connection ended inside the header of chunk stream {}", id);
    uint32_t field = 0;
    if (rule.hasTimestamp) {
      field = U24(h);
      s.extendedTimestamp = field == kRtmpExtendedTimestamp;
    }
    uint32_t length = s.messageLength;
    uint8_t type = s.messageType;
    if (rule.hasLength) {
      length = U24(h + 3);
      type = h[6];
    }
    if (rule.hasStreamId) s.messageStreamId = U32LE(h + 7);
    if (s.extendedTimestamp) {
      uint8_t ext[4];
      if (!ReadCounted(p, ext, 4))
        return Problem(p, L"The connection ended inside the extended timestamp of chunk stream {}", id);
      if (format <= 2) field = U32(ext);
    }
    if (length > kRtmpMaxMessageBytes)
      return Problem(p, L"A message of {} bytes on chunk stream {} is larger than the 16 MiB limit", length, id);
    const bool inProgress = !s.partial.empty();
    if (inProgress && rule.hasLength && length != s.messageLength)
      return Problem(p, L"Chunk stream {} changes its message length from {} to {} in mid-message", id,
                     s.messageLength, length);
    s.messageLength = length;
    s.messageType = type;
    if (format == 0) {
      s.timestamp = field;
      s.timestampDelta = 0;
      s.started = true;
    } else if (format <= 2) {
      s.timestampDelta = field;
      if (!inProgress) s.timestamp += field;
    } else if (!inProgress) {
      s.timestamp += s.timestampDelta;
    }

    // The payload is stored as it arrives: a declared length never sizes an allocation.
    size_t want = std::min<size_t>(p.inChunkSize, length - s.partial.size());
    if (p.partialBytes + want > kRtmpMaxPartialBytes)
      return Problem(p, L"Messages in progress would hold more than {} MiB", kRtmpMaxPartialBytes >> 20);
    while (want > 0) {
      const size_t piece = std::min(want, kPayloadPieceBytes);
      const size_t at = s.partial.size();
      s.partial.resize(at + piece);
      if (!ReadCounted(p, s.partial.data() + at, piece))
        return Problem(p, L"The connection ended inside a chunk of chunk stream {}", id);
      p.partialBytes += piece;
      want -= piece;
    }

    if (p.windowAckSize != 0 && p.bytesReceived - p.bytesAtLastAck >= p.windowAckSize) {
      std::vector<uint8_t> body;
      AppendU32BE(body, static_cast<uint32_t>(p.bytesReceived));
      if (!RtmpWriteMessage(p, kProtocolChunkStream, kRtmpAcknowledgement, 0, 0, body))
        return Problem(p, L"Couldn't send the acknowledgement");
      p.bytesAtLastAck = p.bytesReceived;
    }

    if (s.partial.size() == length) {
      out->type = s.messageType;
      out->timestamp = s.timestamp;
      out->streamId = s.messageStreamId;
      out->payload.clear();
      out->payload.swap(s.partial);
      p.partialBytes -= out->payload.size();
      ApplyProtocolControl(p, *out);
      return true;
    }
  }
}

bool ParseCommand(const RtmpMessage& message, std::string* name, double* transactionId,
                  std::vector<AmfValue>* arguments) {
  name->clear();
  *transactionId = -1;
  arguments->clear();
  size_t skip = 0;
  if (message.type == kRtmpAmf3Command) skip = 1;  // an AMF3 command opens with a format byte
  else if (message.type != kRtmpAmf0Command) return false;
  if (message.payload.size() < skip) return false;
  AmfReader reader(message.payload.data() + skip, message.payload.data() + message.payload.size());
  AmfValue value;
  if (!ReadAmfValue(reader, &value) || value.type != kAmfString) return false;
  *name = std::move(value.string);
  if (!ReadAmfValue(reader, &value)) return true;
  *transactionId = value.type == kAmfNumber ? value.number : 0.0;
  while (reader.cursor < reader.end && ReadAmfValue(reader, &value)) arguments->push_back(std::move(value));
  return true;
}

bool RtmpHandshake(Publisher& p) {
  std::vector<uint8_t> c(1 + kRtmpHandshakeBytes, 0);
  c[0] = kRtmpVersion;
  std::mt19937 random(static_cast<uint32_t>(MonotonicMs()));
  constexpr size_t kTimeAndZeroBytes = 8;  // C1's time and zero fields
  for (size_t i = 1 + kTimeAndZeroBytes; i < c.size(); ++i) c[i] = static_cast<uint8_t>(random());
  std::vector<uint8_t> s(1 + kRtmpHandshakeBytes);
  return SendBytes(p, c.data(), c.size()) && ReceiveBytes(p, s.data(), s.size()) &&
         SendBytes(p, s.data() + 1, kRtmpHandshakeBytes) &&
         ReceiveBytes(p, s.data() + 1, kRtmpHandshakeBytes);
}
