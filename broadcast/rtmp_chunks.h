#pragma once
// The RTMP chunk stream over a Publisher's connection: a writer that always uses full type-0
// headers, a reader that reassembles messages from any header type and acts on the protocol
// control messages of this layer, command decoding, and the simple handshake.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "broadcast/amf0.h"
#include "broadcast/transport.h"

// --- Message types ------------------------------------------------------------------------------
inline constexpr uint8_t kRtmpSetChunkSize = 1;
inline constexpr uint8_t kRtmpAcknowledgement = 3;
inline constexpr uint8_t kRtmpUserControl = 4;
inline constexpr uint8_t kRtmpWindowAckSize = 5;
inline constexpr uint8_t kRtmpSetPeerBandwidth = 6;
inline constexpr uint8_t kRtmpAudio = 8;
inline constexpr uint8_t kRtmpVideo = 9;
inline constexpr uint8_t kRtmpAmf3Command = 17;
inline constexpr uint8_t kRtmpAmf0Data = 18;
inline constexpr uint8_t kRtmpAmf0Command = 20;

// --- Limits and sizes ---------------------------------------------------------------------------
inline constexpr uint32_t kRtmpDefaultChunkSize = 128;    // bytes, both directions at the start
inline constexpr uint32_t kRtmpMaxChunkSize = 0x1000000;  // bytes; Set Chunk Size is clamped here
inline constexpr uint32_t kRtmpMaxMessageBytes = 0x1000000;     // 16 MiB: longer messages fail
inline constexpr size_t kRtmpMaxPartialBytes = 2 * size_t(kRtmpMaxMessageBytes);  // all streams
inline constexpr size_t kRtmpMaxChunkStreams = 64;        // chunk streams tracked at once
inline constexpr uint32_t kRtmpExtendedTimestamp = 0xFFFFFF;
inline constexpr size_t kRtmpHandshakeBytes = 1536;       // C1, C2, S1 and S2
inline constexpr uint8_t kRtmpVersion = 3;                // C0 and S0

// The four chunk header types: bytes after the basic header (before any extended timestamp).
struct ChunkHeaderRule {
  uint8_t format;       // the basic header's top two bits
  uint8_t headerBytes;  // 11, 7, 3 or 0
  bool hasTimestamp;    // 3-byte timestamp (or delta) field
  bool hasLength;       // 3-byte message length and the type byte
  bool hasStreamId;     // 4-byte little-endian message stream id
};
std::span<const ChunkHeaderRule> ChunkHeaderRules();

// One reassembled message.
struct RtmpMessage {
  uint8_t type = 0;
  uint32_t timestamp = 0;  // milliseconds
  uint32_t streamId = 0;   // message stream id
  std::vector<uint8_t> payload;
};

// --- Writing ------------------------------------------------------------------------------------
// Sends one message as a type-0 chunk and type-3 continuations of outChunkSize bytes, with the
// extended timestamp after every header when timestamp >= 0xFFFFFF, in one SendBytes. Chunk
// stream ids 2 to 63 only (asserted). False when the send failed or the payload is longer than
// a message may be.
bool RtmpWriteMessage(Publisher& publisher, uint32_t chunkStreamId, uint8_t type, uint32_t timestamp,
                      uint32_t streamId, const uint8_t* payload, size_t size);
bool RtmpWriteMessage(Publisher& publisher, uint32_t chunkStreamId, uint8_t type, uint32_t timestamp,
                      uint32_t streamId, const std::vector<uint8_t>& payload);

// --- Reading ------------------------------------------------------------------------------------
// Reads chunks (of any chunk stream) until one message is whole and hands it out. Sends an
// Acknowledgement whenever the peer's window is used up, and before returning applies Set Chunk
// Size and Window Acknowledgement Size (those messages are returned too). Partial messages stay
// in the publisher's chunk states between calls. False when the connection failed or the chunks
// are malformed; publisher.readProblem then says which.
bool RtmpReadMessage(Publisher& publisher, RtmpMessage* out);

// Decodes an AMF0 (type 20) or AMF3-wrapped (type 17) command: the name (must be a string), the
// transaction id (its number, 0 when the value is not a number, -1 when there is none) and every
// further value until the payload ends or one fails to read.
bool ParseCommand(const RtmpMessage& message, std::string* name, double* transactionId,
                  std::vector<AmfValue>* arguments);

// --- Handshake ----------------------------------------------------------------------------------
// The simple handshake, client side: C0+C1 (pseudo-random after eight zero bytes), S0+S1 in,
// S1 echoed as C2, S2 in. S0's version and the contents of S1 and S2 are not checked.
bool RtmpHandshake(Publisher& publisher);
