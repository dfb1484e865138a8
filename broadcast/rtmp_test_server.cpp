#include "broadcast/rtmp_test_server.h"

#include <atomic>
#include <cmath>
#include <mutex>
#include <thread>
#include <vector>

#include "base/log.h"
#include "broadcast/rtmp_chunks.h"
#include "broadcast/rtmp_publisher.h"
#include "broadcast/transport.h"
#include "platform/net.h"

namespace {

constexpr int kListenBacklog = 1;
constexpr uint32_t kServerWindowAckSize = 5000000;  // bytes, announced after the handshake
constexpr uint32_t kServerStreamId = 1;            // the one message stream createStream gives
constexpr uint8_t kSoundFormatAac = 10;
constexpr uint8_t kVideoCodecAvc = 7;
constexpr uint8_t kFrameTypeKey = 1;
constexpr size_t kMinAudioTagBytes = 2;
constexpr size_t kMinAacHeaderBytes = 4;
constexpr size_t kMinVideoTagBytes = 5;
constexpr size_t kMinAvcHeaderBytes = 12;
constexpr size_t kNalLengthBytes = 4;

std::mutex gMutex;  // guards gStats and gEndReason
TestRtmpServerStats gStats;
std::wstring gEndReason;

std::mutex gSocketMutex;  // guards gAccepted against the stopper's shutdown
NetSocket gAccepted = kNoSocket;
NetSocket gListener = kNoSocket;
std::atomic<bool> gStop{false};
std::atomic<bool> gFinished{false};
std::thread gThread;

uint32_t U32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// A metadata number as a 32-bit integer; what cannot be one becomes 0.
int32_t ToInt32(double v) {
  return std::isfinite(v) && v >= INT32_MIN && v <= INT32_MAX ? static_cast<int32_t>(v) : 0;
}

void WriteStatusObject(std::vector<uint8_t>& b, const char* level, const char* code, const char* description) {
  AmfWriteObjectStart(b);
  AmfWritePropertyName(b, "level");
  AmfWriteString(b, level);
  AmfWritePropertyName(b, "code");
  AmfWriteString(b, code);
  if (description) {
    AmfWritePropertyName(b, "description");
    AmfWriteString(b, description);
  }
  AmfWriteObjectEnd(b);
}

void Reply(Publisher& p, const std::vector<uint8_t>& b, uint32_t chunkStream = kChunkStreamCommand,
           uint32_t streamId = 0) {
  RtmpWriteMessage(p, chunkStream, kRtmpAmf0Command, 0, streamId, b);
}

void HandleCommand(Publisher& p, const std::string& name, double txn, const std::vector<AmfValue>& args) {
  std::vector<uint8_t> b;
  if (name == "connect") {
    if (!args.empty()) gStats.app = AmfStringProperty(args[0], "app");
    AmfWriteString(b, "_result");
    AmfWriteNumber(b, txn);
    AmfWriteObjectStart(b);
    AmfWritePropertyName(b, "fmsVer");
    AmfWriteString(b, "FMS/3,0,1,123");
    AmfWritePropertyName(b, "capabilities");
    AmfWriteNumber(b, 31);
    AmfWriteObjectEnd(b);
    WriteStatusObject(b, "status", "NetConnection.Connect.Success", "Connection succeeded (Veldmix's test server).");
    Reply(p, b);
  } else if (name == "createStream") {
    AmfWriteString(b, "_result");
    AmfWriteNumber(b, txn);
    AmfWriteNull(b);
    AmfWriteNumber(b, kServerStreamId);
    Reply(p, b);
  } else if (name == "releaseStream" || name == "FCPublish") {
    AmfWriteString(b, "_error");
    AmfWriteNumber(b, txn);
    AmfWriteNull(b);
    WriteStatusObject(b, "error", "NetConnection.Call.Failed", nullptr);
    Reply(p, b);
  } else if (name == "publish" && args.size() >= 2) {
    gStats.streamName = args[1].type == kAmfString ? args[1].string : std::string();
    gStats.published = true;
    AmfWriteString(b, "onStatus");
    AmfWriteNumber(b, 0);
    AmfWriteNull(b);
    WriteStatusObject(b, "status", "NetStream.Publish.Start", "Publishing.");
    Reply(p, b, kChunkStreamStatus, kServerStreamId);
    const std::vector<uint8_t> ping = {0x00, 0x06, 0x00, 0x00, 0x12, 0x34};
    RtmpWriteMessage(p, kChunkStreamControl, kRtmpUserControl, 0, 0, ping);
  }
}

void CheckAudio(const RtmpMessage& m) {
  const std::vector<uint8_t>& b = m.payload;
  if (b.size() < kMinAudioTagBytes || (b[0] >> 4) != kSoundFormatAac) {
    ++gStats.errors;
    return;
  }
  if (b[1] == 0) {
    gStats.aacHeaderSeen = b.size() >= kMinAacHeaderBytes;
    return;
  }
  if (!gStats.aacHeaderSeen) ++gStats.errors;
  if (gStats.audioFrames++ > 0 && m.timestamp < gStats.lastAudioTime) gStats.audioTimesRise = false;
  gStats.lastAudioTime = m.timestamp;
}

void CheckVideo(const RtmpMessage& m) {
  const std::vector<uint8_t>& b = m.payload;
  if (b.size() < kMinVideoTagBytes || (b[0] & 0x0F) != kVideoCodecAvc) {
    ++gStats.errors;
    return;
  }
  if (b[1] == 0) {
    gStats.avcHeaderSeen = b.size() >= kMinAvcHeaderBytes && b[5] == 1 && (b[10] & 0x1F) == 1;
    return;
  }
  size_t pos = kMinVideoTagBytes;
  bool exact = true;
  while (pos < b.size()) {
    if (b.size() - pos < kNalLengthBytes) {
      exact = false;
      break;
    }
    const size_t length = U32(&b[pos]);
    pos += kNalLengthBytes;
    if (length > b.size() - pos) {
      exact = false;
      break;
    }
    pos += length;
  }
  if (!exact || !gStats.avcHeaderSeen) ++gStats.errors;
  if (gStats.videoFrames++ > 0 && m.timestamp < gStats.lastVideoTime) gStats.videoTimesRise = false;
  gStats.lastVideoTime = m.timestamp;
  if ((b[0] >> 4) == kFrameTypeKey) ++gStats.keyframes;
}

void CheckData(const RtmpMessage& m) {
  AmfReader r(m.payload.data(), m.payload.data() + m.payload.size());
  AmfValue first, second, third;
  if (!ReadAmfValue(r, &first) || first.type != kAmfString || first.string != "@setDataFrame" ||
      !ReadAmfValue(r, &second) || second.type != kAmfString || second.string != "onMetaData")
    return;
  gStats.metadataSeen = true;
  ReadAmfValue(r, &third);  // a failed read leaves a null value: width and height 0
  gStats.width = ToInt32(AmfNumberProperty(third, "width"));
  gStats.height = ToInt32(AmfNumberProperty(third, "height"));
}

void Handle(Publisher& p, const RtmpMessage& m) {
  std::lock_guard lock(gMutex);
  std::string name;
  double txn = 0;
  std::vector<AmfValue> args;
  if (m.type == kRtmpUserControl) {
    if (m.payload.size() >= 6 && m.payload[0] == 0 && m.payload[1] == 7) gStats.pongSeen = true;
  } else if (ParseCommand(m, &name, &txn, &args)) {
    HandleCommand(p, name, txn, args);
  } else if (m.type == kRtmpAudio) {
    CheckAudio(m);
  } else if (m.type == kRtmpVideo) {
    CheckVideo(m);
  } else if (m.type == kRtmpAmf0Data) {
    CheckData(m);
  }
}

// The server's side of the simple handshake: C0+C1 in; S0, zero S1 and C1 echoed as S2 out; C2 in.
bool ServerHandshake(Publisher& p) {
  std::vector<uint8_t> c(1 + kRtmpHandshakeBytes);
  if (!ReceiveBytes(p, c.data(), c.size())) return false;
  std::vector<uint8_t> s(1 + 2 * kRtmpHandshakeBytes, 0);
  s[0] = kRtmpVersion;
  std::copy(c.begin() + 1, c.end(), s.begin() + 1 + kRtmpHandshakeBytes);
  return SendBytes(p, s.data(), s.size()) && ReceiveBytes(p, c.data(), kRtmpHandshakeBytes);
}

void Serve(Publisher& p) {
  if (!ServerHandshake(p)) {
    std::lock_guard lock(gMutex);
    gEndReason = L"The client's handshake was cut short";
    return;
  }
  std::vector<uint8_t> window;
  AppendU32BE(window, kServerWindowAckSize);
  RtmpWriteMessage(p, kChunkStreamControl, kRtmpWindowAckSize, 0, 0, window);
  RtmpMessage m;
  while (RtmpReadMessage(p, &m)) Handle(p, m);
  std::lock_guard lock(gMutex);
  gEndReason = p.readProblem;
}

void ServerThread() {
  NetSocket s = kNoSocket;
  if (NetAccept(gListener, &gStop, &s)) {
    {
      std::lock_guard lock(gSocketMutex);
      gAccepted = s;
    }
    if (!gStop) {
      NetSetTimeouts(s, kSocketTimeoutMs);
      NetSetNoDelay(s);  // answers go out at once, as an ingest's do
      Publisher p;
      AdoptConnection(p, s);
      Serve(p);
      {
        std::lock_guard lock(gSocketMutex);
        gAccepted = kNoSocket;
      }
      CloseConnection(p);
      s = kNoSocket;
    }
    std::lock_guard lock(gSocketMutex);
    gAccepted = kNoSocket;
    NetClose(s);
  }
  const std::wstring reason = TestRtmpServerEndReason();
  if (!reason.empty()) WriteLog(L"Live video: test server: {}", reason);
  gFinished = true;
}

}  // namespace

bool StartTestRtmpServer(int* port, int requestedPort) {
  if (gThread.joinable()) return false;
  {
    std::lock_guard lock(gMutex);
    gStats = TestRtmpServerStats{};
    gEndReason.clear();
  }
  gStop = false;
  gFinished = false;
  if (!NetListenLoopback(requestedPort, kListenBacklog, &gListener, port)) return false;
  gThread = std::thread(ServerThread);
  return true;
}

void StopTestRtmpServer() {
  gStop = true;
  NetShutdown(gListener);
  {
    std::lock_guard lock(gSocketMutex);
    NetShutdown(gAccepted);
  }
  if (gThread.joinable()) gThread.join();
  NetClose(gListener);
  gListener = kNoSocket;
}

TestRtmpServerStats TestRtmpServerStatsCopy() {
  std::lock_guard lock(gMutex);
  return gStats;
}

bool TestRtmpServerFinished() { return gFinished; }

std::wstring TestRtmpServerEndReason() {
  std::lock_guard lock(gMutex);
  return gEndReason;
}

int TestRtmpHandshake(const std::wstring& address, std::wstring* message) {
  RtmpUrl url;
  if (!ParseRtmpUrl(address, &url, message)) return 0;
  Publisher p;
  if (!OpenConnection(p, url.host, url.port, false, message)) return -1;
  if (url.tls && !SecureConnection(p, message)) return 0;
  const bool ok = RtmpHandshake(p);
  *message = ok ? L"TLS and RTMP handshake with " + url.host : L"TLS worked but the RTMP handshake didn't";
  CloseConnection(p);
  return ok ? 1 : 0;
}
