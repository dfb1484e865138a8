#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "broadcast/rtmp_publisher.h"
#include "broadcast/rtmp_test_server.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "support/rtmp_peer.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr unsigned kWaitMs = 5000;

const Bytes kSps = {0x67, 0x4D, 0x40, 0x1F, 0xAA};
const Bytes kPps = {0x68, 0xEE, 0x3C, 0x80};
const Bytes kIdr = {0x65, 0x88, 0x84, 0x00, 0x21};
const Bytes kInter = {0x41, 0x9A};

// Annex B: each unit after a four-byte start code.
Bytes AnnexB(std::initializer_list<Bytes> units) {
  Bytes b;
  for (const Bytes& u : units) {
    b.insert(b.end(), {0, 0, 0, 1});
    b.insert(b.end(), u.begin(), u.end());
  }
  return b;
}

EncodedSample Sample(const Bytes& data, int64_t time, int64_t decodeTime) {
  EncodedSample s;
  s.data = data;
  s.time = time;
  s.decodeTime = decodeTime;
  return s;
}

// One end of a loopback connection as a publisher, the other as a reader of whole messages.
struct MessagePipe {
  SocketPair pair;
  Publisher writer, reader;
  MessagePipe() {
    if (!pair.ok()) return;
    NetSetTimeouts(pair.server, 2000);
    AdoptConnection(writer, pair.client);
    AdoptConnection(reader, pair.server);
    pair.client = pair.server = kNoSocket;
  }
  RtmpMessage Next() {
    RtmpMessage m;
    if (!RtmpReadMessage(reader, &m)) m.type = 0xFF;
    return m;
  }
};

// A scripted ingest server on its own thread: the handshake, then `script` with every message
// the client sends until it returns false or the connection ends.
class ScriptedServer {
 public:
  using Script = std::function<bool(Publisher&, const RtmpMessage&)>;
  explicit ScriptedServer(Script script) {
    NetListenLoopback(0, 1, &listener_, &port_);
    thread_ = std::thread([this, script] {
      NetSocket s = kNoSocket;
      if (!NetAccept(listener_, &stop_, &s)) return;
      NetSetTimeouts(s, kWaitMs);
      AdoptConnection(server_, s);
      const std::string c = ReceiveRawBytes(server_.socket, 1537, kWaitMs);
      if (c.size() != 1537 || !SendRawBytes(server_.socket, "\x03" + std::string(1536, 'S') + c.substr(1)) ||
          ReceiveRawBytes(server_.socket, 1536, kWaitMs).size() != 1536)
        return;
      RtmpMessage m;
      while (!stop_ && RtmpReadMessage(server_, &m) && script(server_, m)) ++messages_;
    });
  }
  ~ScriptedServer() {
    stop_ = true;
    StopConnection(server_);
    thread_.join();
    NetClose(listener_);
  }
  std::wstring Url() const { return L"rtmp://127.0.0.1:" + std::to_wstring(port_) + L"/live"; }

 private:
  NetSocket listener_ = kNoSocket;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> messages_{0};
  Publisher server_;
  std::thread thread_;
};

bool IsCommand(const RtmpMessage& m, const char* wanted, double* txn = nullptr, std::vector<AmfValue>* args = nullptr) {
  std::string name;
  double id = 0;
  std::vector<AmfValue> a;
  if (!ParseCommand(m, &name, &id, &a) || name != wanted) return false;
  if (txn) *txn = id;
  if (args) *args = std::move(a);
  return true;
}

void Answer(Publisher& p, std::initializer_list<std::function<void(Bytes&)>> values, uint32_t streamId = 0) {
  Bytes b;
  for (const auto& v : values) v(b);
  RtmpWriteMessage(p, 3, kRtmpAmf0Command, 0, streamId, b);
}
auto Str(const char* s) {
  return [s](Bytes& b) { AmfWriteString(b, s); };
}
auto Num(double n) {
  return [n](Bytes& b) { AmfWriteNumber(b, n); };
}
auto Null() {
  return [](Bytes& b) { AmfWriteNull(b); };
}
auto Info(const char* level, const char* code, const char* description) {
  return [=](Bytes& b) {
    AmfWriteObjectStart(b);
    AmfWritePropertyName(b, "level");
    AmfWriteString(b, level);
    if (code) {
      AmfWritePropertyName(b, "code");
      AmfWriteString(b, code);
    }
    if (description) {
      AmfWritePropertyName(b, "description");
      AmfWriteString(b, description);
    }
    AmfWriteObjectEnd(b);
  };
}

// Answers connect and createStream (with `streamId`, or none when negative) the usual way.
bool Usual(Publisher& p, const RtmpMessage& m, double streamId) {
  double txn = 0;
  if (IsCommand(m, "connect", &txn)) Answer(p, {Str("_result"), Num(txn), Null(), Info("status", "NetConnection.Connect.Success", nullptr)});
  if (IsCommand(m, "createStream", &txn)) {
    if (streamId >= 0) Answer(p, {Str("_result"), Num(txn), Null(), Num(streamId)});
    else Answer(p, {Str("_result"), Num(txn)});
  }
  return true;
}

// --- Addresses and statuses ---

TEST(RtmpUrlParse, AddressesParseOrGetTheirMessage) {
  struct Case {
    const wchar_t* address;
    bool ok;
    bool tls;
    const wchar_t* host;
    int port;
    const char* app;
    const char* tcUrl;
    const wchar_t* error;
  };
  const Case cases[] = {
      {L"  rtmps://a.rtmp.example/live2/ \t", true, true, L"a.rtmp.example", 443, "live2", "rtmps://a.rtmp.example/live2", nullptr},
      {L"rtmp://host.example:1940/app/sub", true, false, L"host.example", 1940, "app/sub", "rtmp://host.example:1940/app/sub", nullptr},
      {L"RTMP://Host/App", true, false, L"Host", 1935, "App", "rtmp://Host/App", nullptr},
      {L"rtmp://[::1]:1936/live", true, false, L"::1", 1936, "live", "rtmp://[::1]:1936/live", nullptr},
      {L"rtmp://[::1]/live", true, false, L"::1", 1935, "live", "rtmp://[::1]/live", nullptr},
      {L"http://host/live", false, false, nullptr, 0, nullptr, nullptr, L"The server address should start rtmp:// or rtmps://"},
      {L"host/live", false, false, nullptr, 0, nullptr, nullptr, L"The server address should start rtmp:// or rtmps://"},
      {L"rtmp://host", false, false, nullptr, 0, nullptr, nullptr, L"The server address needs its app name at the end (like /live2)"},
      {L"rtmp://host///", false, false, nullptr, 0, nullptr, nullptr, L"The server address needs its app name at the end (like /live2)"},
      {L"rtmp:///live", false, false, nullptr, 0, nullptr, nullptr, L"The server address isn't complete"},
      {L"rtmp://host:0/live", false, false, nullptr, 0, nullptr, nullptr, L"The server address isn't complete"},
      {L"rtmp://host:65536/live", false, false, nullptr, 0, nullptr, nullptr, L"The server address isn't complete"},
      {L"rtmp://host:/live", false, false, nullptr, 0, nullptr, nullptr, L"The server address isn't complete"},
      {L"rtmp://host:12x/live", false, false, nullptr, 0, nullptr, nullptr, L"The server address isn't complete"},
      {L"rtmp://[::1/live", false, false, nullptr, 0, nullptr, nullptr, L"The server address isn't complete"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(WideToUtf8(c.address));
    RtmpUrl url;
    std::wstring error;
    ASSERT_EQ(ParseRtmpUrl(c.address, &url, &error), c.ok) << WideToUtf8(error);
    if (!c.ok) {
      EXPECT_EQ(error, c.error);
      continue;
    }
    EXPECT_EQ(url.tls, c.tls);
    EXPECT_EQ(url.host, c.host);
    EXPECT_EQ(url.port, c.port);
    EXPECT_EQ(url.app, c.app);
    EXPECT_EQ(url.tcUrl, c.tcUrl);
  }
}

TEST(RtmpStatus, EveryErrorStatusStopsRetries) {
  struct Case {
    const char* code;
    const char* description;
    bool refused;
    const wchar_t* message;
  };
  const wchar_t* key = L"The service refused the stream key: check it on its live dashboard";
  const Case cases[] = {
      {"NetStream.Publish.BadName", nullptr, true, key},
      {"NetStream.Publish.BadAuth", "whatever", true, key},
      {"NetConnection.Connect.Rejected", nullptr, true, key},
      {nullptr, "invalid stream key", true, key},
      {nullptr, "authorization failed", true, key},
      {"NetStream.Publish.Failed", "Server busy", true, L"The server said: Server busy"},
      {"NetStream.Publish.Failed", nullptr, true, L"The server said: NetStream.Publish.Failed"},
      {nullptr, nullptr, true, L"The server said: no"},
      {nullptr, "Caf\xC3\xA9 is closed", true, L"The server said: Caf\u00E9 is closed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code ? c.code : c.description ? c.description : "empty");
    Bytes b;
    Info("error", c.code, c.description)(b);
    AmfValue info;
    const uint8_t* cursor = b.data();
    ASSERT_TRUE(ReadAmfValue(&cursor, b.data() + b.size(), &info, 0));
    Publisher p;
    std::wstring error;
    HandleStatusError(p, info, &error);
    EXPECT_EQ(p.refused, c.refused);
    EXPECT_EQ(error, c.message);
  }
}

// --- The conversation against scripted servers ---

TEST(RtmpPublishClient, PublishesOnTheCreatedStreamOrKeepsItsOwn) {
  for (double given : {7.0, -1.0, 1.5}) {
    SCOPED_TRACE(given);
    std::atomic<uint32_t> publishedOn{0};
    std::string key;
    ScriptedServer server([&](Publisher& p, const RtmpMessage& m) {
      Usual(p, m, given);
      std::vector<AmfValue> args;
      if (IsCommand(m, "publish", nullptr, &args)) {
        publishedOn = m.streamId;
        if (args.size() >= 2) key = args[1].string;
        Answer(p, {Str("onStatus"), Num(0), Null(), Info("status", "NetStream.Publish.Start", nullptr)}, m.streamId);
      }
      return true;
    });
    RtmpUrl url;
    ASSERT_TRUE(ParseRtmpUrl(server.Url(), &url, nullptr));
    Publisher p;
    std::wstring error;
    ASSERT_TRUE(RtmpPublish(p, url, "the key", &error)) << WideToUtf8(error);
    const uint32_t expected = given == 7.0 ? 7 : 1;  // no id, or no whole number: the owner's 1
    EXPECT_EQ(p.streamId, expected);
    EXPECT_EQ(publishedOn.load(), expected);
    EXPECT_EQ(p.outChunkSize, kPublishChunkSize);
    RtmpUnpublish(p);
    EXPECT_EQ(key, "the key");
  }
}

TEST(RtmpPublishClient, ErrorStatusesBecomeMessages) {
  struct Case {
    const char* what;
    bool usual;  // connect and createStream answered the usual way first
    std::function<void(Publisher&, const RtmpMessage&)> reply;
    bool refused;
    const wchar_t* error;
  };
  const Case cases[] = {
      {"key refused on publish", true,
       [](Publisher& p, const RtmpMessage& m) {
         if (IsCommand(m, "publish"))
           Answer(p, {Str("onStatus"), Num(0), Null(), Info("error", "NetStream.Publish.BadName", "Bad name")}, 1);
       },
       true, L"The service refused the stream key: check it on its live dashboard"},
      {"connect refused with a reason", false,
       [](Publisher& p, const RtmpMessage& m) {
         double txn = 0;
         if (IsCommand(m, "connect", &txn))
           Answer(p, {Str("_error"), Num(txn), Null(), Info("error", "NetConnection.Connect.Failed", "No such app")});
       },
       true, L"The server said: No such app"},
      {"a full server on publish", true,
       [](Publisher& p, const RtmpMessage& m) {
         if (IsCommand(m, "publish"))
           Answer(p, {Str("onStatus"), Num(0), Null(), Info("error", "NetStream.Publish.Failed", "Stream limit reached")}, 1);
       },
       true, L"The server said: Stream limit reached"},
      {"pings and no answer", false,
       [](Publisher& p, const RtmpMessage& m) {
         if (!IsCommand(m, "connect")) return;
         for (int i = 0; i < kMaxMessagesWithoutAnswer; ++i)
           RtmpWriteMessage(p, 2, kRtmpUserControl, 0, 0, Bytes{0, 6, 0, 0, 0, static_cast<uint8_t>(i)});
       },
       false, L"The server didn't answer"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::atomic<int> pongs{0};
    ScriptedServer server([&](Publisher& p, const RtmpMessage& m) {
      if (m.type == kRtmpUserControl && m.payload.size() == 6 && m.payload[1] == 7) ++pongs;
      if (c.usual) Usual(p, m, 1);
      c.reply(p, m);
      return true;
    });
    RtmpUrl url;
    ASSERT_TRUE(ParseRtmpUrl(server.Url(), &url, nullptr));
    Publisher p;
    std::wstring error;
    EXPECT_FALSE(RtmpPublish(p, url, "k", &error));
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(p.refused, c.refused);
    if (std::string(c.what) == "pings and no answer") {
      // Every ping was answered while waiting.
      for (int i = 0; i < 100 && pongs < kMaxMessagesWithoutAnswer; ++i) SleepMs(10);
      EXPECT_EQ(pongs.load(), kMaxMessagesWithoutAnswer);
    }
  }
}

TEST(RtmpPublishClient, SilentOrFakeServersFailAndStopIsQuick) {
  // Not an RTMP server: it closes after reading the first bytes.
  NetSocket listener = kNoSocket;
  int port = 0;
  ASSERT_TRUE(NetListenLoopback(0, 1, &listener, &port));
  std::thread closer([&] {
    NetSocket s = kNoSocket;
    if (NetAccept(listener, nullptr, &s)) {
      ReceiveRawBytes(s, 10, 1000);
      NetClose(s);
    }
  });
  RtmpUrl url;
  ASSERT_TRUE(ParseRtmpUrl(L"rtmp://127.0.0.1:" + std::to_wstring(port) + L"/live", &url, nullptr));
  Publisher p;
  std::wstring error;
  EXPECT_FALSE(RtmpPublish(p, url, "k", &error));
  EXPECT_EQ(error, L"The server didn't answer as an RTMP server");
  closer.join();
  NetClose(listener);

  // A server that never answers connect: a stop from another thread ends the wait at once.
  ScriptedServer silent([](Publisher&, const RtmpMessage&) { return true; });
  ASSERT_TRUE(ParseRtmpUrl(silent.Url(), &url, nullptr));
  Publisher q;
  std::thread stopper([&] {
    SleepMs(400);
    StopConnection(q);
  });
  const uint64_t start = MonotonicMs();
  EXPECT_FALSE(RtmpPublish(q, url, "k", &error));
  EXPECT_EQ(error, L"No answer from the server");
  EXPECT_LT(MonotonicMs() - start, 1500u);
  stopper.join();
}

// --- Media payloads ---

TEST(RtmpMedia, VideoTagsCarryParameterSetsOnceAndFramesAsNalus) {
  MessagePipe pipe;
  ASSERT_TRUE(pipe.writer.connected);
  VideoTagState state;
  const Bytes lonely = AnnexB({kInter});
  ASSERT_TRUE(SendFlvSample(pipe.writer, state, Sample(lonely, 0, 0)));  // before any header: dropped
  const Bytes key = AnnexB({{0x09, 0xF0}, kSps, kPps, kIdr});
  ASSERT_TRUE(SendFlvSample(pipe.writer, state, Sample(key, 1000000, 660000)));  // 100 ms, decoded at 66
  const Bytes inter = AnnexB({kInter});
  ASSERT_TRUE(SendFlvSample(pipe.writer, state, Sample(inter, 1330000, 1330000)));
  ASSERT_TRUE(SendFlvSample(pipe.writer, state, Sample(key, 2000000, 2000000)));  // same sets: no header

  RtmpMessage m = pipe.Next();
  ASSERT_EQ(m.type, kRtmpVideo);
  const Bytes header = {0x17, 0, 0, 0, 0, 1, 0x4D, 0x40, 0x1F, 0xFF, 0xE1, 0, 5, 0x67, 0x4D, 0x40, 0x1F, 0xAA, 1, 0, 4, 0x68, 0xEE, 0x3C, 0x80};
  EXPECT_EQ(m.payload, header);
  EXPECT_EQ(m.timestamp, 66u);
  m = pipe.Next();
  Bytes frame = {0x17, 1, 0, 0, 34, 0, 0, 0, 5};  // composition time 34 ms
  frame.insert(frame.end(), kIdr.begin(), kIdr.end());
  EXPECT_EQ(m.payload, frame);  // the delimiter and the parameter sets are not in the frame
  EXPECT_EQ(m.timestamp, 66u);
  m = pipe.Next();
  EXPECT_EQ(m.payload, (Bytes{0x27, 1, 0, 0, 0, 0, 0, 0, 2, 0x41, 0x9A}));
  EXPECT_EQ(m.timestamp, 133u);
  m = pipe.Next();
  EXPECT_EQ(m.payload[0], 0x17);  // straight to the frame
  EXPECT_EQ(m.payload[1], 1);
  EXPECT_EQ(m.streamId, 1u);

  const Bytes newPps = {0x68, 0xEF};  // new parameter sets: a new header first
  ASSERT_TRUE(SendFlvSample(pipe.writer, state, Sample(AnnexB({kSps, newPps, kIdr}), 3000000, 3000000)));
  m = pipe.Next();
  EXPECT_EQ(m.payload[1], 0);
  EXPECT_EQ(Bytes(m.payload.end() - 2, m.payload.end()), newPps);
}

TEST(RtmpMedia, AnnexBSplitsAtEveryStartCode) {
  const Bytes data = {0, 0, 1, 0x67, 1, 0, 0, 0, 0, 1, 0x68, 2, 0, 0, 0, 1, 0x65, 0, 0, 1, 0x41, 3, 0};
  const auto units = SplitAnnexB(data);
  ASSERT_EQ(units.size(), 4u);
  EXPECT_EQ(Bytes(units[0].begin(), units[0].end()), (Bytes{0x67, 1}));  // zeros before a start code go
  EXPECT_EQ(Bytes(units[1].begin(), units[1].end()), (Bytes{0x68, 2}));
  EXPECT_EQ(Bytes(units[2].begin(), units[2].end()), (Bytes{0x65}));
  EXPECT_EQ(Bytes(units[3].begin(), units[3].end()), (Bytes{0x41, 3, 0}));  // the last runs to the end
  EXPECT_TRUE(SplitAnnexB(Bytes{0x65, 1, 2}).empty());                    // no start code, no unit
}

TEST(RtmpMedia, AacConfigsMatchLcStereoAndHeadersGoOut) {
  constexpr int kRates[] = {96000, 88200, 64000, 48000, 44100, 32000};
  for (const AacRateConfig& r : AacRateConfigs()) {
    int index = 0;
    while (kRates[index] != r.sampleRate) ++index;
    const int lcStereo = 2 << 11 | index << 7 | 2 << 3;  // object type 2, the rate index, 2 channels
    EXPECT_EQ(r.config[0] << 8 | r.config[1], lcStereo) << r.sampleRate;
  }
  MessagePipe pipe;
  ASSERT_TRUE(pipe.writer.connected);
  ASSERT_TRUE(SendAacSequenceHeader(pipe.writer, 48000));
  EXPECT_FALSE(SendAacSequenceHeader(pipe.writer, 22050));
  const Bytes raw = {0x21, 0x10};
  Bytes body;
  ASSERT_TRUE(SendAacSample(pipe.writer, body, Sample(Bytes{}, 0, 0)));  // empty: skipped
  ASSERT_TRUE(SendAacSample(pipe.writer, body, Sample(raw, 2133333, 2133333)));
  RtmpMessage m = pipe.Next();
  EXPECT_EQ(m.payload, (Bytes{0xAF, 0, 0x11, 0x90}));
  EXPECT_EQ(m.timestamp, 0u);
  m = pipe.Next();
  EXPECT_EQ(m.payload, (Bytes{0xAF, 1, 0x21, 0x10}));
  EXPECT_EQ(m.timestamp, 213u);
  EXPECT_EQ(m.type, kRtmpAudio);
}

// --- The loopback test server ---

class RtmpTestServer : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(StartTestRtmpServer(&port_)); }
  void TearDown() override { StopTestRtmpServer(); }
  std::wstring Url() const { return L"rtmp://127.0.0.1:" + std::to_wstring(port_) + L"/live/sub"; }
  bool Publish(Publisher& p) {
    RtmpUrl url;
    std::wstring error;
    const bool ok = ParseRtmpUrl(Url(), &url, &error) && RtmpPublish(p, url, "key1", &error);
    if (!ok) ADD_FAILURE() << WideToUtf8(error);
    return ok;
  }
  // Stops the server once it has handled what was sent.
  TestRtmpServerStats Finish(Publisher& p) {
    RtmpUnpublish(p);
    for (int i = 0; i < 200 && !TestRtmpServerFinished(); ++i) SleepMs(10);
    StopTestRtmpServer();
    return TestRtmpServerStatsCopy();
  }
  int port_ = 0;
};

TEST_F(RtmpTestServer, SeesAWellFormedPublishAndThePong) {
  Publisher p;
  ASSERT_TRUE(Publish(p));
  ASSERT_TRUE(SendStreamMetadata(p, 1280, 720, 3500, 48000));
  ASSERT_TRUE(SendAacSequenceHeader(p, 48000));
  VideoTagState video;
  Bytes audio;
  const Bytes key = AnnexB({kSps, kPps, kIdr}), inter = AnnexB({kInter}), aac = {0x21, 0x10, 0x04};
  for (int i = 0; i < 90; ++i) {
    const int64_t t = i * 333333;
    ASSERT_TRUE(SendFlvSample(p, video, Sample(i % 60 == 0 ? key : inter, t, t)));
    ASSERT_TRUE(SendAacSample(p, audio, Sample(aac, t, t)));
  }
  std::wstring error;
  for (int i = 0; i < 100; ++i) {
    ASSERT_TRUE(PollServerMessages(p, &error)) << WideToUtf8(error);
    if (TestRtmpServerStatsCopy().pongSeen) break;
    SleepMs(10);
  }
  const TestRtmpServerStats s = Finish(p);
  EXPECT_TRUE(s.published);
  EXPECT_EQ(s.app, "live/sub");
  EXPECT_EQ(s.streamName, "key1");
  EXPECT_TRUE(s.metadataSeen);
  EXPECT_EQ(s.width, 1280);
  EXPECT_EQ(s.height, 720);
  EXPECT_TRUE(s.avcHeaderSeen);
  EXPECT_TRUE(s.aacHeaderSeen);
  EXPECT_EQ(s.videoFrames, 90);
  EXPECT_EQ(s.keyframes, 2);
  EXPECT_EQ(s.audioFrames, 90);
  EXPECT_EQ(s.errors, 0);
  EXPECT_EQ(s.lastVideoTime, 2966u);
  EXPECT_TRUE(s.videoTimesRise);
  EXPECT_TRUE(s.audioTimesRise);
  EXPECT_TRUE(s.pongSeen);
}

TEST_F(RtmpTestServer, CountsMalformedAndOutOfOrderMedia) {
  Publisher p;
  ASSERT_TRUE(Publish(p));
  const auto audio = [&](uint32_t t, Bytes body) { return RtmpWriteMessage(p, 4, kRtmpAudio, t, 1, body); };
  const auto video = [&](uint32_t t, Bytes body) { return RtmpWriteMessage(p, 6, kRtmpVideo, t, 1, body); };
  ASSERT_TRUE(audio(0, {0xAF, 1, 1}));        // raw AAC before its header: one error each
  ASSERT_TRUE(audio(20, {0xAF, 1, 1}));
  ASSERT_TRUE(audio(30, {0x2F, 1, 1}));       // not AAC
  ASSERT_TRUE(audio(0, {0xAF, 0, 0x11, 0x90}));
  ASSERT_TRUE(audio(10, {0xAF, 1, 1}));       // below the previous frame's 20
  ASSERT_TRUE(video(0, {0x17, 1, 0, 0, 0, 0, 0, 0, 1, 0x65}));  // frame before the AVC header
  ASSERT_TRUE(video(0, {0x17, 0, 0, 0, 0, 1, 0x4D, 0x40, 0x1F, 0xFF, 0xE1, 0}));  // a good header
  ASSERT_TRUE(video(40, {0x27, 1, 0, 0, 0, 0, 0, 0, 9, 0x41}));  // NAL length overruns the body
  ASSERT_TRUE(video(80, {0x27, 1, 0, 0, 0, 0, 0, 0, 1, 0x41, 0}));  // a stray byte after the last NAL
  ASSERT_TRUE(video(120, {0x27, 1, 0, 0, 0, 0, 0, 0, 1, 0x41}));    // a good frame
  ASSERT_TRUE(video(120, {0x27, 1}));                               // too short
  const TestRtmpServerStats s = Finish(p);
  EXPECT_EQ(TestRtmpServerEndReason(), L"The connection ended before the next chunk");
  EXPECT_EQ(s.errors, 2 + 1 + 1 + 2 + 1);
  EXPECT_EQ(s.audioFrames, 3);
  EXPECT_FALSE(s.audioTimesRise);
  EXPECT_EQ(s.lastAudioTime, 10u);
  EXPECT_EQ(s.videoFrames, 4);
  EXPECT_EQ(s.keyframes, 1);
  EXPECT_TRUE(s.videoTimesRise);
  EXPECT_TRUE(s.avcHeaderSeen);
}

// Connects to the test server and shakes hands with raw bytes; the bytes then go out as given.
NetSocket RawClient(int port, const std::string& bytes) {
  NetSocket s = kNoSocket;
  if (NetConnect("127.0.0.1", port, kWaitMs, kWaitMs, nullptr, &s) != NetConnectResult::kConnected) return kNoSocket;
  SendRawBytes(s, "\x03" + std::string(1536, 'c'));
  ReceiveRawBytes(s, 3073, kWaitMs);
  SendRawBytes(s, std::string(1536, 'c') + bytes);
  return s;
}

std::string Chunk0(int id, uint32_t length, uint8_t type, const std::string& payload) {
  std::string h(1, static_cast<char>(id));
  h += std::string(3, '\0');
  for (int s : {16, 8, 0}) h += static_cast<char>(length >> s);
  h += static_cast<char>(type);
  h += std::string(4, '\0');
  return h + payload;
}

TEST_F(RtmpTestServer, HostileCommandsAreSurvivedAndTruncationEndsTheConnection) {
  // connect whose argument is a depth bomb, then one with a 4G-element array, then a good one;
  // every payload fits one default-sized chunk.
  const std::string name("\x02\x00\x07" "connect", 10);
  std::string bomb = name + std::string("\x00\x3F\xF0\x00\x00\x00\x00\x00\x00", 9);
  for (int i = 0; i < 20; ++i) bomb += std::string("\x0A\x00\x00\x00\x01", 5);
  std::string huge = name + std::string("\x00\x40\x00\x00\x00\x00\x00\x00\x00", 9) +
                     std::string("\x0A\xFF\xFF\xFF\xFF\x05", 6);
  std::vector<uint8_t> good;
  AmfWriteString(good, "connect");
  AmfWriteNumber(good, 3);
  AmfWriteObjectStart(good);
  AmfWritePropertyName(good, "app");
  AmfWriteString(good, "ok");
  AmfWriteObjectEnd(good);
  std::string bytes = Chunk0(3, bomb.size(), kRtmpAmf0Command, bomb) + Chunk0(3, huge.size(), kRtmpAmf0Command, huge) +
                      Chunk0(3, good.size(), kRtmpAmf0Command, std::string(good.begin(), good.end()));
  bytes += Chunk0(4, 1000, kRtmpVideo, std::string(50, 'v'));  // then the connection ends mid-message
  const NetSocket s = RawClient(port_, bytes);
  ASSERT_NE(s, kNoSocket);
  // Three answers come back (after the Window Acknowledgement Size), whatever the arguments were.
  const std::string answers = ReceiveRawBytes(s, 1 << 16, 1000);
  int results = 0;
  for (size_t at = answers.find("_result"); at != std::string::npos; at = answers.find("_result", at + 1)) ++results;
  EXPECT_EQ(results, 3);
  NetShutdown(s);
  for (int i = 0; i < 200 && !TestRtmpServerFinished(); ++i) SleepMs(10);
  EXPECT_TRUE(TestRtmpServerFinished());
  EXPECT_EQ(TestRtmpServerEndReason(), L"The connection ended inside a chunk of chunk stream 4");
  EXPECT_EQ(TestRtmpServerStatsCopy().app, "ok");  // the last connect's app; the hostile ones gave none
  NetClose(s);
}

TEST(RtmpHandshakeTest, GivesMinusOneWithoutTcpAndOneWithAServer) {
  NetSocket listener = kNoSocket;
  int port = 0;
  ASSERT_TRUE(NetListenLoopback(0, 1, &listener, &port));
  NetClose(listener);
  std::wstring message;
  EXPECT_EQ(TestRtmpHandshake(L"rtmp://127.0.0.1:" + std::to_wstring(port) + L"/live", &message), -1);
  EXPECT_EQ(message, L"Couldn't connect to 127.0.0.1:" + std::to_wstring(port));
  EXPECT_EQ(TestRtmpHandshake(L"ftp://x/live", &message), 0);
  EXPECT_EQ(message, L"The server address should start rtmp:// or rtmps://");
  ASSERT_TRUE(StartTestRtmpServer(&port));
  EXPECT_EQ(TestRtmpHandshake(L"rtmp://127.0.0.1:" + std::to_wstring(port) + L"/live", &message), 1);
  EXPECT_EQ(message, L"TLS and RTMP handshake with 127.0.0.1");
  StopTestRtmpServer();
  EXPECT_FALSE(TestRtmpServerStatsCopy().published);
}

}  // namespace
