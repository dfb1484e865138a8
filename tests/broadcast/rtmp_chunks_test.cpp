#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "broadcast/rtmp_chunks.h"
#include "platform/text.h"
#include "support/rtmp_peer.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string Str(const Bytes& b) { return std::string(b.begin(), b.end()); }

// A type-0 header (chunk stream id below 64) as a peer writes it.
std::string Header0(int id, uint32_t timestamp, uint32_t length, uint8_t type, uint32_t streamId) {
  std::string h;
  h += static_cast<char>(id);
  for (int s : {16, 8, 0}) h += static_cast<char>(timestamp >> s);
  for (int s : {16, 8, 0}) h += static_cast<char>(length >> s);
  h += static_cast<char>(type);
  for (int s : {0, 8, 16, 24}) h += static_cast<char>(streamId >> s);
  return h;
}

// A publisher over one end of a loopback connection; the test plays the peer on `peer`.
struct Wire {
  SocketPair pair;
  Publisher publisher;
  NetSocket peer = kNoSocket;
  bool ok() const { return peer != kNoSocket; }
  Wire() {
    if (!pair.ok()) return;
    NetSetTimeouts(pair.client, 3000);
    AdoptConnection(publisher, pair.client);
    pair.client = kNoSocket;  // the publisher owns it now
    peer = pair.server;
  }
};

TEST(RtmpChunkRules, HeaderSizesFollowTheirFields) {
  const auto rules = ChunkHeaderRules();
  ASSERT_EQ(rules.size(), 4u);
  for (size_t i = 0; i < rules.size(); ++i) {
    EXPECT_EQ(rules[i].format, i);
    EXPECT_EQ(rules[i].headerBytes, 3 * rules[i].hasTimestamp + 4 * rules[i].hasLength + 4 * rules[i].hasStreamId);
    if (i > 0) {
      EXPECT_LT(rules[i].headerBytes, rules[i - 1].headerBytes);  // each drops fields
    }
  }
}

TEST(RtmpWrite, LongMessageGoesOutAsType0AndType3Chunks) {
  Wire w;
  ASSERT_TRUE(w.ok());
  w.publisher.outChunkSize = 4096;
  Bytes payload(5000);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 7);
  ASSERT_TRUE(RtmpWriteMessage(w.publisher, 6, kRtmpVideo, 1234, 1, payload));
  const std::string got = ReceiveRawBytes(w.peer, 12 + 4096 + 1 + 904, 2000);
  ASSERT_EQ(got.size(), 12u + 4096 + 1 + 904);
  EXPECT_EQ(got.substr(0, 12), Header0(6, 1234, 5000, kRtmpVideo, 1));
  EXPECT_EQ(got.substr(12, 4096), Str(payload).substr(0, 4096));
  EXPECT_EQ(static_cast<uint8_t>(got[12 + 4096]), 0xC6);
  EXPECT_EQ(got.substr(12 + 4096 + 1), Str(payload).substr(4096));
  EXPECT_EQ(ReceiveRawBytes(w.peer, 1, 100), "");  // nothing more
}

TEST(RtmpWrite, LargeTimestampRidesAsExtendedAfterEveryHeader) {
  Wire w;
  ASSERT_TRUE(w.ok());
  w.publisher.outChunkSize = 100;
  ASSERT_TRUE(RtmpWriteMessage(w.publisher, 4, kRtmpAudio, 0x1000000, 1, Bytes(150, 0xAB)));
  const std::string got = ReceiveRawBytes(w.peer, 12 + 4 + 100 + 1 + 4 + 50, 2000);
  const std::string ext("\x01\x00\x00\x00", 4);
  ASSERT_EQ(got.size(), 171u);
  EXPECT_EQ(got.substr(0, 12), Header0(4, 0xFFFFFF, 150, kRtmpAudio, 1));
  EXPECT_EQ(got.substr(12, 4), ext);
  EXPECT_EQ(static_cast<uint8_t>(got[116]), 0xC4);
  EXPECT_EQ(got.substr(117, 4), ext);
}

TEST(RtmpRead, RoundTripsThroughWriterWithEveryChunkSize) {
  for (uint32_t chunk : {1u, 128u, 4096u}) {
    SCOPED_TRACE(chunk);
    Wire w;
    ASSERT_TRUE(w.ok());
    Publisher writer;
    AdoptConnection(writer, w.peer);
    w.pair.server = kNoSocket;
    // Announce the chunk size the way a peer does, then switch.
    Bytes size;
    AppendU32BE(size, chunk);
    ASSERT_TRUE(RtmpWriteMessage(writer, 2, kRtmpSetChunkSize, 0, 0, size));
    writer.outChunkSize = chunk;
    Bytes payload(1000);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i);
    ASSERT_TRUE(RtmpWriteMessage(writer, 5, kRtmpAmf0Data, 77, 3, payload));
    RtmpMessage m;
    ASSERT_TRUE(RtmpReadMessage(w.publisher, &m));
    EXPECT_EQ(m.type, kRtmpSetChunkSize);  // control messages are handed out too
    EXPECT_EQ(w.publisher.inChunkSize, chunk);
    ASSERT_TRUE(RtmpReadMessage(w.publisher, &m)) << WideToUtf8(w.publisher.readProblem);
    EXPECT_EQ(m.type, kRtmpAmf0Data);
    EXPECT_EQ(m.timestamp, 77u);
    EXPECT_EQ(m.streamId, 3u);
    EXPECT_EQ(m.payload, payload);
  }
}

TEST(RtmpRead, InterleavedStreamsDeltasAndLongIdsReassemble) {
  Wire w;
  ASSERT_TRUE(w.ok());
  std::string s;
  s += Header0(4, 1000, 200, kRtmpAudio, 1) + std::string(128, 'a');         // audio, part 1
  s += Header0(6, 2000, 10, kRtmpVideo, 1) + std::string(10, 'v');           // whole video
  s += std::string("\xC4") + std::string(72, 'b');                          // audio, part 2
  s += std::string("\x84\x00\x00\x28", 4) + std::string(128, 'c');              // type 2: delta 40
  s += std::string("\xC4") + std::string(72, 'd');
  s += std::string("\xC4") + std::string(128, 'e') + "\xC4" + std::string(72, 'f');  // type 3: +40
  s += std::string("\x00\x06", 2) + Header0(0, 5, 1, kRtmpAmf0Data, 0).substr(1) + "x";  // id 70
  s += std::string("\x01\x10\x02", 3) + Header0(0, 6, 1, kRtmpAmf0Data, 0).substr(1) + "y";  // id 592
  ASSERT_TRUE(SendRawBytes(w.peer, s));
  RtmpMessage m;
  ASSERT_TRUE(RtmpReadMessage(w.publisher, &m));
  EXPECT_EQ(m.type, kRtmpVideo);
  EXPECT_EQ(Str(m.payload), std::string(10, 'v'));
  const uint32_t times[] = {1000, 1040, 1080};
  const char fill[][2] = {{'a', 'b'}, {'c', 'd'}, {'e', 'f'}};
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(RtmpReadMessage(w.publisher, &m));
    EXPECT_EQ(m.timestamp, times[i]);
    EXPECT_EQ(Str(m.payload), std::string(128, fill[i][0]) + std::string(72, fill[i][1]));
  }
  ASSERT_TRUE(RtmpReadMessage(w.publisher, &m));
  EXPECT_EQ(Str(m.payload), "x");
  EXPECT_TRUE(w.publisher.chunkStreams.count(70));
  ASSERT_TRUE(RtmpReadMessage(w.publisher, &m));
  EXPECT_EQ(Str(m.payload), "y");
  EXPECT_TRUE(w.publisher.chunkStreams.count(0x210 + 64));
}

TEST(RtmpRead, ExtendedTimestampsOnType0AndType3) {
  Wire w;
  ASSERT_TRUE(w.ok());
  const std::string ext("\x01\x02\x03\x04", 4);
  std::string s = Header0(4, 0xFFFFFF, 130, kRtmpAudio, 1) + ext + std::string(128, 'a');
  s += "\xC4" + ext + "zz";  // the continuation repeats the extended field
  ASSERT_TRUE(SendRawBytes(w.peer, s));
  RtmpMessage m;
  ASSERT_TRUE(RtmpReadMessage(w.publisher, &m));
  EXPECT_EQ(m.timestamp, 0x01020304u);
  EXPECT_EQ(Str(m.payload), std::string(128, 'a') + "zz");
}

TEST(RtmpRead, ProtocolControlSetsSizesAndAcknowledgesTheWindow) {
  Wire w;
  ASSERT_TRUE(w.ok());
  const auto control = [&](uint8_t type, const std::string& body) {
    ASSERT_TRUE(SendRawBytes(w.peer, Header0(2, 0, static_cast<uint32_t>(body.size()), type, 0) + body));
    RtmpMessage m;
    ASSERT_TRUE(RtmpReadMessage(w.publisher, &m));
    EXPECT_EQ(m.type, type);
  };
  control(kRtmpSetChunkSize, std::string("\x80\x00\x10\x00", 4));
  EXPECT_EQ(w.publisher.inChunkSize, 4096u);  // the top bit is not part of the size
  control(kRtmpSetChunkSize, std::string("\x7F\xFF\xFF\xFF", 4));
  EXPECT_EQ(w.publisher.inChunkSize, 0x1000000u);  // clamped down
  control(kRtmpSetChunkSize, std::string("\x00\x01", 2));
  EXPECT_EQ(w.publisher.inChunkSize, 0x1000000u);  // too short: ignored
  control(kRtmpWindowAckSize, std::string("\x00\x00\x00\x64", 4));  // 100 bytes
  EXPECT_EQ(w.publisher.windowAckSize, 100u);
  const uint64_t before = w.publisher.bytesReceived;
  EXPECT_EQ(before, 3 * 16u + 14);
  // The window counts from the last acknowledgement (none yet): this one passes it at once.
  const std::string data = Header0(3, 0, 100, kRtmpAmf0Data, 0) + std::string(100, 'p');
  ASSERT_TRUE(SendRawBytes(w.peer, data));
  RtmpMessage m;
  ASSERT_TRUE(RtmpReadMessage(w.publisher, &m));
  const std::string ack = ReceiveRawBytes(w.peer, 16, 2000);
  const uint32_t total = static_cast<uint32_t>(before + data.size());
  std::string body;
  for (int s : {24, 16, 8, 0}) body += static_cast<char>(total >> s);
  EXPECT_EQ(ack, Header0(2, 0, 4, kRtmpAcknowledgement, 0) + body);
  EXPECT_EQ(w.publisher.bytesAtLastAck, total);
  control(kRtmpSetChunkSize, std::string("\0\0\0\0", 4));
  EXPECT_EQ(w.publisher.inChunkSize, 1u);  // clamped up
}

TEST(RtmpRead, ChunkSizeChangeInMidMessageAppliesToTheRest) {
  Wire w;
  ASSERT_TRUE(w.ok());
  std::string s = Header0(4, 0, 300, kRtmpAmf0Data, 1) + std::string(128, 'a');
  s += Header0(2, 0, 4, kRtmpSetChunkSize, 0) + std::string("\0\0\0\x40", 4);  // 64 from now on
  s += "\xC4" + std::string(64, 'b') + "\xC4" + std::string(64, 'c') + "\xC4" + std::string(44, 'd');
  ASSERT_TRUE(SendRawBytes(w.peer, s));
  RtmpMessage m;
  ASSERT_TRUE(RtmpReadMessage(w.publisher, &m));
  EXPECT_EQ(m.type, kRtmpSetChunkSize);
  ASSERT_TRUE(RtmpReadMessage(w.publisher, &m));
  EXPECT_EQ(Str(m.payload), std::string(128, 'a') + std::string(64, 'b') + std::string(64, 'c') + std::string(44, 'd'));
  EXPECT_EQ(w.publisher.partialBytes, 0u);
}

TEST(RtmpRead, MalformedChunksFailWithTheirReason) {
  struct Case {
    const char* what;
    std::string bytes;
    const wchar_t* problem;
  };
  std::string many;
  for (int i = 0; i < 65; ++i) many += std::string("\x00", 1) + static_cast<char>(i) + Header0(0, 0, 1, 20, 0).substr(1) + "x";
  const Case cases[] = {
      {"continuation first", "\xC5" + std::string(5, 'x'),
       L"Chunk stream 5 continues a message it never started (header type 3)"},
      {"type 1 first", std::string("\x47\x00\x00\x00\x00\x00\x01\x14x", 9),
       L"Chunk stream 7 continues a message it never started (header type 1)"},
      {"too many chunk streams", many, L"Chunk stream 128 would be one more than the 64 kept at once"},
      {"length change", Header0(3, 0, 256, 20, 0) + std::string(128, 'a') + std::string("\x43\0\0\0\0\0\x09\x14", 8),
       L"Chunk stream 3 changes its message length from 256 to 9 in mid-message"},
      {"truncated header", std::string("\x03\x00\x00", 3), L"The connection ended inside the header of chunk stream 3"},
      {"truncated payload", Header0(3, 0, 100, 20, 0) + "abc", L"The connection ended inside a chunk of chunk stream 3"},
      {"truncated extended", Header0(3, 0xFFFFFF, 1, 20, 0) + "\x01", L"The connection ended inside the extended timestamp of chunk stream 3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Wire w;
    ASSERT_TRUE(w.ok());
    ASSERT_TRUE(SendRawBytes(w.peer, c.bytes));
    NetShutdown(w.peer);  // the end of the bytes is the end of the connection
    RtmpMessage m;
    bool ok = true;
    for (int i = 0; i < 100 && ok; ++i) ok = RtmpReadMessage(w.publisher, &m);
    EXPECT_FALSE(ok);
    EXPECT_EQ(w.publisher.readProblem, c.problem);
  }
}

TEST(RtmpRead, DeclaredLengthNeverSizesAnAllocation) {
  // A message declares 16 MiB - 1 with a 16 MiB chunk size but sends 100 bytes: under a 12 MiB
  // cap the reader must fail on the closed connection, not on memory.
  SocketPair pair;
  ASSERT_TRUE(pair.ok());
  std::string s = Header0(2, 0, 4, kRtmpSetChunkSize, 0) + std::string("\x01\x00\x00\x00", 4);
  s += Header0(3, 0, 0xFFFFFF, kRtmpVideo, 1) + std::string(100, 'v');
  ASSERT_TRUE(SendRawBytes(pair.server, s));
  NetShutdown(pair.server);
  EXPECT_TRUE(RunUnderMemoryCap(12u << 20, 5000, [&] {
    Publisher p;
    AdoptConnection(p, pair.client);
    RtmpMessage m;
    const bool first = RtmpReadMessage(p, &m);
    const bool second = RtmpReadMessage(p, &m);
    const bool expected = first && !second && p.readProblem == L"The connection ended inside a chunk of chunk stream 3";
    p.socket = kNoSocket;  // the parent still owns it
    return expected;
  }));
}

TEST(RtmpCommand, DecodesNameTransactionAndArguments) {
  RtmpMessage m;
  m.type = kRtmpAmf0Command;
  AmfWriteString(m.payload, "onStatus");
  AmfWriteNumber(m.payload, 3);
  AmfWriteNull(m.payload);
  AmfWriteString(m.payload, "x");
  m.payload.push_back(7);  // a bad value ends the arguments, not the command
  std::string name;
  double id = 0;
  std::vector<AmfValue> args;
  ASSERT_TRUE(ParseCommand(m, &name, &id, &args));
  EXPECT_EQ(name, "onStatus");
  EXPECT_EQ(id, 3);
  ASSERT_EQ(args.size(), 2u);
  EXPECT_EQ(args[1].string, "x");

  RtmpMessage amf3 = m;
  amf3.type = kRtmpAmf3Command;
  amf3.payload.insert(amf3.payload.begin(), 0);
  ASSERT_TRUE(ParseCommand(amf3, &name, &id, &args));
  EXPECT_EQ(name, "onStatus");

  RtmpMessage nullId;
  nullId.type = kRtmpAmf0Command;
  AmfWriteString(nullId.payload, "_result");
  AmfWriteNull(nullId.payload);
  ASSERT_TRUE(ParseCommand(nullId, &name, &id, &args));
  EXPECT_EQ(id, 0);  // not a number
  nullId.payload.resize(nullId.payload.size() - 1);
  ASSERT_TRUE(ParseCommand(nullId, &name, &id, &args));
  EXPECT_EQ(id, -1);  // none at all

  RtmpMessage notString;
  notString.type = kRtmpAmf0Command;
  AmfWriteNumber(notString.payload, 1);
  EXPECT_FALSE(ParseCommand(notString, &name, &id, &args));
  m.type = kRtmpAudio;
  EXPECT_FALSE(ParseCommand(m, &name, &id, &args));
}

TEST(RtmpHandshakeClient, SendsVersionZerosAndEchoesS1) {
  Wire w;
  ASSERT_TRUE(w.ok());
  std::string c0c1, c2;
  std::thread server([&] {
    c0c1 = ReceiveRawBytes(w.peer, 1537, 3000);
    std::string s1(1536, '\0');
    for (size_t i = 0; i < s1.size(); ++i) s1[i] = static_cast<char>(i * 13 + 5);
    SendRawBytes(w.peer, "\x03" + s1 + std::string(1536, 's'));
    c2 = ReceiveRawBytes(w.peer, 1536, 3000);
    if (c2 != s1) c2 = "mismatch";
  });
  EXPECT_TRUE(RtmpHandshake(w.publisher));
  server.join();
  ASSERT_EQ(c0c1.size(), 1537u);
  EXPECT_EQ(c0c1[0], 3);
  EXPECT_EQ(c0c1.substr(1, 8), std::string(8, '\0'));
  EXPECT_NE(c0c1.substr(9, 64), std::string(64, '\0'));  // random, not zero
  EXPECT_EQ(c2.size(), 1536u);                           // S1 came back as C2
}

}  // namespace
