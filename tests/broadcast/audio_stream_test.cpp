#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/log.h"
#include "base/text_parse.h"
#include "broadcast/audio_stream.h"
#include "platform/clock.h"
#include "platform/mp3_encoder.h"
#include "platform/text.h"
#include "support/temp_home.h"
#include "support/wav_probe.h"

namespace {

std::string Narrow(const std::wstring& text) { return WideToUtf8(text); }

// --- A scripted peer on a loopback socket -----------------------------------------------------
// Accepts one connection and runs `script` on it in a thread of its own.
class LoopbackPeer {
 public:
  explicit LoopbackPeer(std::function<void(NetSocket)> script, int port = 0) {
    ok_ = NetListenLoopback(port, 4, &listener_, &port_);
    if (ok_)
      thread_ = std::thread([this, script] {
        NetSocket s = kNoSocket;
        if (!NetAccept(listener_, &stop_, &s)) return;
        accepted_ = true;
        script(s);
        NetClose(s);
      });
  }
  ~LoopbackPeer() {
    Finish();
    NetClose(listener_);
  }
  // Waits for the script to end (stops waiting for a connection that never came).
  void Finish() {
    stop_ = true;
    NetShutdown(listener_);
    if (thread_.joinable()) thread_.join();
  }
  bool ok() const { return ok_; }
  int port() const { return port_; }
  bool accepted() const { return accepted_; }

 private:
  bool ok_ = false;
  NetSocket listener_ = kNoSocket;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<bool> accepted_{false};
  std::thread thread_;
};

// Receives until the text holds `until` (or the peer stops sending).
std::string ReceiveUntil(NetSocket s, const std::string& until) {
  std::string text;
  uint8_t buffer[1024];
  NetSetTimeouts(s, 3000);
  while (text.find(until) == std::string::npos) {
    const long n = NetReceiveSome(s, buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
  }
  return text;
}

// Holds a connection until the other side closes it (or 10 s pass).
void WaitForClose(NetSocket s) {
  NetSetTimeouts(s, 10000);
  uint8_t buffer[1024];
  while (NetReceiveSome(s, buffer, sizeof buffer) > 0) {
  }
}

void Send(NetSocket s, const std::string& text) {
  NetSendAll(s, reinterpret_cast<const uint8_t*>(text.data()), text.size(), text.size(), nullptr);
}

// A port nobody listens on (the OS just handed it out and it was closed again).
int ClosedPort() {
  NetSocket s = kNoSocket;
  int port = 0;
  NetListenLoopback(0, 1, &s, &port);
  NetClose(s);
  return port;
}

bool WaitFor(const std::function<bool()>& condition, unsigned timeoutMs) {
  const uint64_t end = MonotonicMs() + timeoutMs;
  while (MonotonicMs() < end) {
    if (condition()) return true;
    SleepMs(20);
  }
  return condition();
}

StreamConfig Config(int port, int type = 0) {
  StreamConfig c;
  c.Host = L"127.0.0.1";
  c.Port = port;
  c.Type = type;
  c.Password = L"h\u00E4ckme";
  return c;
}

}  // namespace

// --- Text encodings -----------------------------------------------------------------------------

TEST(StreamText, Base64MatchesTheRfcVectors) {
  const std::pair<std::string, std::string> vectors[] = {
      {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}, {"\xFF\xFE\x80", "//6A"},
      {"source:h\xC3\xA4", "c291cmNlOmjDpA=="}};
  for (const auto& [in, out] : vectors) EXPECT_EQ(Base64Encode(in), out) << in;
}

TEST(StreamText, PercentEncodingKeepsOnlyUnreservedBytes) {
  EXPECT_EQ(PercentEncode("AZaz09-._~"), "AZaz09-._~");
  EXPECT_EQ(PercentEncode("Caf\xC3\xA9 del Mar"), "Caf%C3%A9%20del%20Mar");
  EXPECT_EQ(PercentEncode("/live?a=b&c+d%"), "%2Flive%3Fa%3Db%26c%2Bd%25");
  EXPECT_EQ(PercentEncode(std::string("\0\x7F\xFF", 3)), "%00%7F%FF");
}

// --- Requests -----------------------------------------------------------------------------------

TEST(StreamRequest, IcecastSourceRequestByteForByte) {
  StreamConfig c;
  c.Password = L"h\u00E4ckme";
  c.Mount = L"";
  EXPECT_EQ(IcecastSourceRequest(c),
            "SOURCE /live HTTP/1.0\r\nAuthorization: Basic " + Base64Encode("source:h\xC3\xA4" "ckme") +
                "\r\nUser-Agent: Veldmix\r\nContent-Type: audio/mpeg\r\nice-name: Veldmix live mix\r\n"
                "ice-public: 0\r\nice-audio-info: ice-bitrate=192;ice-channels=2\r\n\r\n");
  c.Mount = L"radio";
  c.Bitrate = 128;
  c.Name = L"Night\r\nX-Evil: 1";  // a line break must not forge a header
  const std::string request = IcecastSourceRequest(c);
  EXPECT_EQ(request.rfind("SOURCE /radio HTTP/1.0\r\n", 0), 0u) << request;
  EXPECT_NE(request.find("\r\nice-name: Night  X-Evil: 1\r\n"), std::string::npos) << request;
  EXPECT_NE(request.find("ice-bitrate=128;ice-channels=2"), std::string::npos);
  c.Name = L"Caf\u00E9 \u2014 \u00D1";  // servers read header bytes as Latin-1
  EXPECT_NE(IcecastSourceRequest(c).find("\r\nice-name: Caf\xE9 ? \xD1\r\n"), std::string::npos);
  EXPECT_EQ(StreamMount(c), "/radio");
  c.Mount = L"/m\u00FCnchen";
  EXPECT_EQ(StreamMount(c), "/m\xC3\xBCnchen");
}

TEST(StreamRequest, TitleUpdatesForBothServerTypes) {
  StreamConfig c;
  c.Password = L"p w&\u00E9";
  const std::wstring title = L"Caf\u00E9 \u00D1and\u00FA";
  EXPECT_EQ(StreamTitleRequest(c, title),
            "GET /admin/metadata?mount=%2Flive&mode=updinfo&song=Caf%C3%A9%20%C3%91and%C3%BA"
            "&charset=UTF-8 HTTP/1.0\r\nAuthorization: Basic " + Base64Encode("source:p w&\xC3\xA9") +
                "\r\nUser-Agent: Veldmix\r\n\r\n");
  c.Type = 1;
  EXPECT_EQ(StreamTitleRequest(c, title),
            "GET /admin.cgi?pass=p%20w%26%C3%A9&mode=updinfo&song=Caf%C3%A9%20%C3%91and%C3%BA"
            " HTTP/1.0\r\nUser-Agent: Mozilla/5.0 (Veldmix)\r\n\r\n");
  EXPECT_EQ(ShoutcastIcyHeaders(c),
            "icy-name:Veldmix live mix\r\nicy-genre:DJ mix\r\nicy-pub:0\r\nicy-br:192\r\n"
            "content-type:audio/mpeg\r\n\r\n");
}

// --- Replies ------------------------------------------------------------------------------------

TEST(StreamReply, IcecastIsJudgedByTheFirstLinesStatus) {
  const std::pair<std::string, std::wstring> cases[] = {
      {"HTTP/1.0 200 OK\r\n\r\n", L""},
      {"ICY 200 OK\r\n\r\n", L""},
      {"HTTP/1.1 200\r\n\r\n", L""},
      {"HTTP/1.0 401 Authentication Required\r\nServer: Icecast\r\n\r\n", L"Wrong username or password"},
      {"HTTP/1.0 403 Mountpoint in use\r\n\r\n", L"The server refused that mount point (in use or not allowed)"},
      {"HTTP/1.0 403 Forbidden\r\nServer: Icecast 2.4.4\r\n\r\nMountpoint in use",
       L"The server refused that mount point (in use or not allowed)"},
      // A full server names its own cause, in the body or on the status line.
      {"HTTP/1.0 403 Forbidden\r\nServer: Icecast 2.4.4\r\n\r\ntoo many sources connected",
       L"The server refused the stream: too many sources connected"},
      {"HTTP/1.0 403 Source limit reached\r\n\r\n", L"The server refused the stream: Source limit reached"},
      {"", L"No reply from the server \u2014 is it an Icecast server?"},
      // " 200" further on does not make a failure a success.
      {"HTTP/1.0 500 Internal Server Error\r\nX-Note: 200 OK\r\n\r\n", L"The server said: HTTP/1.0 500 Internal Server Error"},
      {"HTTP/1.0 2000 Odd\r\n\r\n", L"The server said: HTTP/1.0 2000 Odd"},
      {"garbage without lines", L"The server said: garbage without lines"},
      {"HTTP/1.0 418 Caf\xC3\xA9\x01\n", L"The server said: HTTP/1.0 418 Caf\u00E9\\x01"},
  };
  for (const auto& [reply, message] : cases) EXPECT_EQ(IcecastReplyError(reply), message) << reply;
  EXPECT_EQ(ReplyStatusCode("ICY 401 Unauthorized\r\n"), 401);
  EXPECT_EQ(ReplyStatusCode("HTTP/1.0 20"), -1);
  EXPECT_EQ(IcecastReplyError(std::string(5000, 'x')).size(), std::wstring(L"The server said: ").size() + 160);
}

TEST(StreamReply, ShoutcastWantsOk2) {
  EXPECT_EQ(ShoutcastReplyError("OK2\r\nicy-caps:11\r\n\r\n"), L"");
  EXPECT_EQ(ShoutcastReplyError("invalid password\r\n"), L"Wrong password");
  EXPECT_EQ(ShoutcastReplyError("OK"), L"Wrong password");
  EXPECT_EQ(ShoutcastReplyError(""), L"No reply from the server \u2014 is it a Shoutcast server?");
}

// --- MP3 ----------------------------------------------------------------------------------------

TEST(StreamMp3, OfferedFormatsTable) {
  for (size_t i = 1; i < std::size(kMp3BitratesKbps); ++i)
    EXPECT_LT(kMp3BitratesKbps[i - 1], kMp3BitratesKbps[i]) << "ascending";
  EXPECT_EQ(kMp3BitratesKbps[0], 32);
  EXPECT_EQ(kMp3BitratesKbps[std::size(kMp3BitratesKbps) - 1], 320);
  for (int kbps : kMp3BitratesKbps) EXPECT_EQ(NearestMp3Bitrate(kbps), kbps);
  EXPECT_EQ(NearestMp3Bitrate(100), 96);
  EXPECT_EQ(NearestMp3Bitrate(104), 96) << "a tie goes to the lower";
  EXPECT_EQ(NearestMp3Bitrate(105), 112);
  EXPECT_EQ(NearestMp3Bitrate(1), 32);
  EXPECT_EQ(NearestMp3Bitrate(100000), 320);
  for (int rate : {32000, 44100, 48000}) EXPECT_TRUE(Mp3RateOffered(rate));
  for (int rate : {0, 22050, 88200, 96000}) EXPECT_FALSE(Mp3RateOffered(rate));
}

TEST(StreamMp3, EncoderOpensOnlyAtMpeg1Rates) {
  Mp3StreamEncoder encoder;
  UiText error;
  EXPECT_FALSE(OpenMp3Encoder(encoder, 96000, 192, error));
  EXPECT_EQ(EnglishText(error), L"MP3 streaming needs a 32, 44.1 or 48 kHz master output");
  EXPECT_FALSE(encoder.transform);
  for (int rate : kMp3SampleRates) {
    EXPECT_TRUE(OpenMp3Encoder(encoder, rate, 192, error)) << rate;
    EXPECT_EQ(encoder.time, 0);
  }
}

TEST(StreamMp3, EncodedBytesReachTheSocketAndDecodeToTheStereoTone) {
  constexpr int kRate = 44100, kBlock = 4608, kBlocks = 20;
  std::string received;
  LoopbackPeer peer([&received](NetSocket s) {
    uint8_t buffer[65536];
    NetSetTimeouts(s, 5000);
    for (long n; (n = NetReceiveSome(s, buffer, sizeof buffer)) > 0;)
      received.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
  });
  ASSERT_TRUE(peer.ok());
  UiText error;
  NetSocket s = ConnectTcp(L"127.0.0.1", peer.port(), error);
  ASSERT_NE(s, kNoSocket) << Narrow(EnglishText(error));
  Mp3StreamEncoder encoder;
  ASSERT_TRUE(OpenMp3Encoder(encoder, kRate, 128, error));
  const uint64_t before = LiveStreamBytes();
  std::vector<int16_t> pcm(kBlock * 2);
  for (int b = 0, n = 0; b < kBlocks; ++b) {
    for (int i = 0; i < kBlock; ++i, ++n) {
      pcm[2 * i] = static_cast<int16_t>(std::lround(12000 * std::sin(2 * M_PI * 440.0 * n / kRate)));
      pcm[2 * i + 1] = 0;  // silent right: the channels must stay apart
    }
    ASSERT_TRUE(EncodeMp3AndSend(encoder, pcm.data(), kBlock, s));
  }
  EXPECT_EQ(encoder.time, static_cast<int64_t>(kBlocks) * (kBlock * 10000000LL / kRate));
  const uint64_t sent = LiveStreamBytes() - before;
  NetClose(s);
  peer.Finish();
  ASSERT_EQ(received.size(), sent) << "every byte counted once";
  // 128 kbit/s over the encoded time, give or take the encoder's buffered tail.
  const double seconds = static_cast<double>(kBlocks) * kBlock / kRate;
  EXPECT_NEAR(static_cast<double>(sent), 128000 / 8 * seconds, 128000 / 8 * 0.25);

  TempHome home;
  const std::string mp3 = home.path() + "/s.mp3", wav = home.path() + "/s.wav";
  std::ofstream(mp3, std::ios::binary).write(received.data(), static_cast<std::streamsize>(received.size()));
  int status = -1;
  RunCommand("ffmpeg -v error -y -i " + ShellQuote(mp3) + " -c:a pcm_s16le " + ShellQuote(wav), &status);
  ASSERT_EQ(status, 0);
  const std::vector<int16_t> decoded = DecodeWithSox(wav);
  ASSERT_GT(decoded.size(), static_cast<size_t>(kRate));
  double left = 0, right = 0;
  for (size_t i = 2 * 4096; i + 1 < decoded.size() - 2 * 4096; i += 2) {
    left += std::abs(decoded[i]);
    right += std::abs(decoded[i + 1]);
  }
  EXPECT_GT(left, 50 * right + 1) << "tone on the left, silence on the right";
}

// --- Connecting ---------------------------------------------------------------------------------

TEST(StreamConnect, FailuresNameTheServer) {
  UiText error;
  EXPECT_EQ(ConnectTcp(L"no-such-host.invalid", 8000, error), kNoSocket);
  EXPECT_EQ(EnglishText(error), L"Can't find the server \u201Cno-such-host.invalid\u201D");
  const int port = ClosedPort();
  EXPECT_EQ(ConnectTcp(L"127.0.0.1", port, error), kNoSocket);
  EXPECT_EQ(EnglishText(error), L"Couldn't connect to 127.0.0.1:" + std::to_wstring(port));
  EXPECT_EQ(ConnectTcp(L"127.0.0.1", 70000, error), kNoSocket);
  EXPECT_EQ(EnglishText(error), L"Couldn't connect to 127.0.0.1:70000");
}

TEST(StreamConnect, ServerRepliesAreReadUpToTheirEnd) {
  // An "OK2" line ends the read at once, though the server keeps the connection open.
  LoopbackPeer peer([](NetSocket s) {
    Send(s, "OK2\r\nicy-caps:11\r\n");
    WaitForClose(s);
  });
  UiText error;
  NetSocket s = ConnectTcp(L"127.0.0.1", peer.port(), error);
  ASSERT_NE(s, kNoSocket);
  const uint64_t start = MonotonicMs();
  EXPECT_EQ(ReadServerReply(s), "OK2\r\nicy-caps:11\r\n");
  EXPECT_LT(MonotonicMs() - start, 1000u);
  NetShutdown(s);
  NetClose(s);

  // A flood is cut at 4096 bytes (the last chunk of 512 may go past).
  LoopbackPeer flood([](NetSocket s) {
    Send(s, std::string(20000, 'x'));
    WaitForClose(s);
  });
  s = ConnectTcp(L"127.0.0.1", flood.port(), error);
  ASSERT_NE(s, kNoSocket);
  const std::string reply = ReadServerReply(s);
  EXPECT_GE(reply.size(), kReplyMaxBytes);
  EXPECT_LT(reply.size(), kReplyMaxBytes + kReplyChunkBytes);
  NetShutdown(s);
  NetClose(s);
}

TEST(StreamConnect, ShoutcastLogsInOnThePortAboveAndSendsItsHeaders) {
  std::string login, headers;
  LoopbackPeer peer([&](NetSocket s) {
    login = ReceiveUntil(s, "\r\n");
    Send(s, "OK2\r\nicy-caps:11\r\n\r\n");
    headers = ReceiveUntil(s, "\r\n\r\n");
  });
  ASSERT_TRUE(peer.ok());
  StreamConfig c = Config(peer.port() - 1, 1);
  c.Password = L"s\u00E9cret";
  UiText error;
  NetSocket s = ConnectStreamServer(c, error);
  ASSERT_NE(s, kNoSocket) << Narrow(EnglishText(error));
  SleepMs(200);
  NetClose(s);
  peer.Finish();
  EXPECT_EQ(login, "s\xC3\xA9" "cret\r\n");
  EXPECT_EQ(headers, ShoutcastIcyHeaders(c));

  LoopbackPeer refusing([](NetSocket s) {
    ReceiveUntil(s, "\r\n");
    Send(s, "invalid password\r\n");
  });
  c.Port = refusing.port() - 1;
  EXPECT_EQ(ConnectStreamServer(c, error), kNoSocket);
  EXPECT_EQ(EnglishText(error), L"Wrong password");
}

TEST(StreamConnect, IcecastSendsTheSourceRequestAndReportsOtherReplies) {
  std::string request;
  LoopbackPeer peer([&](NetSocket s) {
    request = ReceiveUntil(s, "\r\n\r\n");
    Send(s, "HTTP/1.1 418 I'm a teapot\r\n\r\n");
  });
  StreamConfig c = Config(peer.port());
  c.Mount = L"party";
  UiText error;
  EXPECT_EQ(ConnectStreamServer(c, error), kNoSocket);
  EXPECT_EQ(EnglishText(error), L"The server said: HTTP/1.1 418 I'm a teapot");
  peer.Finish();
  EXPECT_EQ(request, IcecastSourceRequest(c));
}

// --- The streamer thread ------------------------------------------------------------------------

TEST(StreamLive, StoppingWhileTheServerSitsOnTheRequestReturnsAtOnce) {
  std::atomic<bool> gotRequest{false};
  LoopbackPeer silent([&](NetSocket s) {
    ReceiveUntil(s, "\r\n\r\n");
    gotRequest = true;
    WaitForClose(s);  // never answers: the streamer's 8-second receive time-out would run
  });
  PublishOutputStarted(Engine, 48000);
  StartLiveStream(Engine, Config(silent.port()));
  ASSERT_TRUE(WaitFor([&] { return gotRequest.load(); }, 3000));
  EXPECT_EQ(LiveStreamState(), kStreamConnecting);
  EXPECT_EQ(LiveStreamSeconds(), 0.0);
  const uint64_t start = MonotonicMs();
  StopLiveStream();
  EXPECT_LT(MonotonicMs() - start, 1000u);
  EXPECT_EQ(LiveStreamState(), kStreamOff);
  EXPECT_EQ(LiveStreamBytes(), IcecastSourceRequest(Config(silent.port())).size());
  PublishOutputStopped(Engine);
}

TEST(StreamLive, NoAudioOutputFailsAndStopsDuringTheWait) {
  PublishOutputStopped(Engine);
  StartLiveStream(Engine, Config(ClosedPort()));
  ASSERT_TRUE(WaitFor([] { return LiveStreamState() == kStreamFailed; }, 2000));
  EXPECT_EQ(EnglishText(LiveStreamError()), L"No audio output is running");
  UpdateLiveStreamTitle(L"not on air: nothing is sent");
  const uint64_t start = MonotonicMs();
  StopLiveStream();
  EXPECT_LT(MonotonicMs() - start, 300u);
  EXPECT_EQ(LiveStreamState(), kStreamOff);
  StopLiveStream();  // idempotent
  EXPECT_EQ(LiveStreamState(), kStreamOff);
}

// On air, the output goes away: after a short grace the stream ends with the reason instead of
// holding the listeners on silence.
TEST(StreamLive, AnOutputThatStopsOnAirEndsTheStream) {
  LoopbackPeer server([](NetSocket s) {
    ReceiveUntil(s, "\r\n\r\n");
    Send(s, "HTTP/1.0 200 OK\r\n\r\n");
    WaitForClose(s);
  });
  ASSERT_TRUE(server.ok());
  PublishOutputStarted(Engine, 48000);
  StartLiveStream(Engine, Config(server.port()));
  ASSERT_TRUE(WaitFor([] { return LiveStreamState() == kStreamOnAir; }, 3000));
  const uint64_t stoppedAt = MonotonicMs();
  PublishOutputStopped(Engine);
  ASSERT_TRUE(WaitFor([] { return LiveStreamState() == kStreamFailed; }, 5000));
  const uint64_t took = MonotonicMs() - stoppedAt;
  EXPECT_EQ(LiveStreamError(), L"No audio output is running");
  EXPECT_GE(took, 1900u) << "a reopening device is given its time";
  StopLiveStream();
}

// A stream that never goes on air says why in the log: one line per reason, not one per retry.
// The log opens once per process, so the streamer runs in a child, which checks its own log and
// prints the lines it found when they are wrong.
TEST(StreamLiveDeathTest, EachNewReasonForFailingIsLoggedOnce) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        TempHome home;
        const int port = ClosedPort();
        StartLog(L"");
        PublishOutputStarted(Engine, 48000);
        StartLiveStream(Engine, Config(port));
        // Refused twice (the first try and the retry 5 s later), then a server that turns the
        // password down.
        if (!WaitFor([] { return LiveStreamState() == kStreamFailed; }, 3000)) std::_Exit(2);
        SleepMs(kStreamRetryWaitMs + 1000);
        LoopbackPeer refusing(
            [](NetSocket s) {
              ReceiveUntil(s, "\r\n\r\n");
              Send(s, "HTTP/1.0 401 Authentication Required\r\n\r\n");
            },
            port);
        if (!refusing.ok()) std::_Exit(3);
        if (!WaitFor([&] { return refusing.accepted(); }, kStreamRetryWaitMs + 3000)) std::_Exit(4);
        if (!WaitFor([] { return LiveStreamState() == kStreamFailed; }, 3000)) std::_Exit(5);
        StopLiveStream();

        std::vector<std::string> lines;
        const std::string log = ReadRaw(home.path() + "/state/Veldmix/Veldmix.log");
        const std::string where = "Stream: 127.0.0.1:" + std::to_string(port) + ": ";
        for (size_t at = log.find(where); at != std::string::npos; at = log.find(where, at + 1))
          lines.push_back(log.substr(at + where.size(), log.find("\r\n", at) - at - where.size()));
        const bool right =
            lines.size() == 2 &&
            lines[0].rfind("Couldn't connect to 127.0.0.1:" + std::to_string(port) + " (Connection refused)", 0) == 0 &&
            lines[1].rfind("Wrong username or password", 0) == 0;
        if (!right) std::fprintf(stderr, "stream lines in the log:\n%s\n", log.c_str());
        std::_Exit(right ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}
