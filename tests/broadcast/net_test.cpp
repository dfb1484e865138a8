#include <gtest/gtest.h>

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "broadcast/transport.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "support/rtmp_peer.h"

namespace {

constexpr unsigned kWaitMs = 5000;

std::string Pattern(size_t size, int seed) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 131 + seed) >> 3);
  return s;
}

bool Send(Publisher& p, const std::string& s) {
  return SendBytes(p, reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

std::string Receive(Publisher& p, size_t size) {
  std::string s(size, '\0');
  if (!ReceiveBytes(p, reinterpret_cast<uint8_t*>(s.data()), size)) return "(failed)";
  return s;
}

// A plain server for one connection at a time, on its own thread; stopping ends a wait for a
// connection that never comes.
class Backend {
 public:
  Backend() { NetListenLoopback(0, 4, &listener_, &port_); }
  ~Backend() {
    Finish();
    NetClose(listener_);
  }
  int port() const { return port_; }
  void Serve(std::function<void(NetSocket)> handler) {
    Finish();
    stop_ = false;
    thread_ = std::thread([this, handler] {
      NetSocket s = kNoSocket;
      if (!NetAccept(listener_, &stop_, &s)) return;
      NetSetTimeouts(s, kWaitMs);
      handler(s);
      NetClose(s);
    });
  }
  void Finish() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

 private:
  NetSocket listener_ = kNoSocket;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Sits between the client and a server and reshapes what the server sends: cut into pieces of
// `piece` bytes sent one by one, or held back until the server has been quiet for `quietMs` and
// then sent in one write. The client's bytes go through in the same pieces.
class Relay {
 public:
  // With quietMs, the server's bytes are held until it has been quiet that long and `ready` (if
  // given) holds for what is held.
  using Ready = std::function<bool(const std::vector<uint8_t>& held)>;
  Relay(int serverPort, size_t piece, unsigned quietMs, Ready ready = {}) : ready_(std::move(ready)) {
    NetListenLoopback(0, 1, &listener_, &port_);
    thread_ = std::thread([=, this] { Run(serverPort, piece, quietMs); });
  }
  ~Relay() {
    stop_ = true;
    thread_.join();
    NetClose(listener_);
  }
  int port() const { return port_; }
  int serverWrites() const { return serverWrites_; }  // writes of the server's bytes to the client

 private:
  static void SendPieces(NetSocket to, const uint8_t* data, size_t size, size_t piece) {
    const int one = 1;
    setsockopt(to, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    for (size_t done = 0; done < size; done += piece) {
      NetSendAll(to, data + done, std::min(piece, size - done), piece, nullptr);
      if (piece < 64) SleepMs(1);
    }
  }
  void Run(int serverPort, size_t piece, unsigned quietMs) {
    NetSocket client = kNoSocket, server = kNoSocket;
    if (!NetAccept(listener_, &stop_, &client)) return;
    if (NetConnect("127.0.0.1", serverPort, kWaitMs, kWaitMs, &stop_, &server) != NetConnectResult::kConnected) {
      NetClose(client);
      return;
    }
    std::vector<uint8_t> held;
    uint64_t lastServerByte = 0;
    uint8_t buffer[65536];
    while (!stop_) {
      bool idle = true;
      if (NetReadable(client, 0)) {
        const long n = NetReceiveSome(client, buffer, sizeof buffer);
        if (n <= 0) break;
        SendPieces(server, buffer, static_cast<size_t>(n), piece);
        idle = false;
      }
      if (NetReadable(server, 0)) {
        const long n = NetReceiveSome(server, buffer, sizeof buffer);
        if (n <= 0) break;
        held.insert(held.end(), buffer, buffer + n);
        lastServerByte = MonotonicMs();
        idle = false;
      }
      if (!held.empty() && MonotonicMs() >= lastServerByte + quietMs && (!ready_ || ready_(held))) {
        const size_t cut = quietMs ? held.size() : piece;
        serverWrites_ += static_cast<int>((held.size() + cut - 1) / cut);
        SendPieces(client, held.data(), held.size(), cut);
        held.clear();
      }
      if (idle) SleepMs(1);
    }
    NetClose(client);
    NetClose(server);
  }
  Ready ready_;
  NetSocket listener_ = kNoSocket;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> serverWrites_{0};
  std::thread thread_;
};

// --- Plain TCP ---

TEST(NetConnect, FailuresGiveTheUsersMessage) {
  NetSocket listener = kNoSocket;
  int port = 0;
  ASSERT_TRUE(NetListenLoopback(0, 1, &listener, &port));
  NetClose(listener);  // now nothing listens there: refused
  Publisher p;
  std::wstring error;
  EXPECT_FALSE(OpenConnection(p, L"127.0.0.1", port, false, &error));
  EXPECT_EQ(error, L"Couldn't connect to 127.0.0.1:" + std::to_wstring(port));
  EXPECT_FALSE(p.connected);
  EXPECT_FALSE(OpenConnection(p, L"", 1935, false, &error));
  EXPECT_EQ(error, L"Can't find the server \u201C\u201D (is the internet connected?)");
  EXPECT_FALSE(OpenConnection(p, L"127.0.0.1", 0, false, &error));
  EXPECT_EQ(error, L"Couldn't connect to 127.0.0.1:0");
}

TEST(NetConnect, LaterAddressConnectsWhenTheFirstRefuses) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  ASSERT_EQ(getaddrinfo("localhost", "1", &hints, &list), 0);
  const bool ipv4Later = list->ai_family != AF_INET && list->ai_next;
  freeaddrinfo(list);
  if (!ipv4Later) GTEST_SKIP() << "localhost resolves to 127.0.0.1 first here: nothing to fall back from";
  Backend backend;  // IPv4 only: the IPv6 address refuses
  backend.Serve([](NetSocket s) { SendRawBytes(s, "hi"); });
  Publisher p;
  std::wstring error;
  ASSERT_TRUE(OpenConnection(p, L"localhost", backend.port(), false, &error)) << WideToUtf8(error);
  EXPECT_EQ(Receive(p, 2), "hi");
}

// RTMP's set-up is a chain of small commands each waiting for its answer: held back for the
// peer's delayed acknowledgement, going live took over 100 ms longer.
TEST(NetConnect, SmallWritesGoOutAtOnce) {
  Backend backend;
  backend.Serve([](NetSocket s) { SendRawBytes(s, "hi"); });
  Publisher p;
  std::wstring error;
  ASSERT_TRUE(OpenConnection(p, L"127.0.0.1", backend.port(), false, &error)) << WideToUtf8(error);
  int noDelay = 0;
  socklen_t size = sizeof noDelay;
  ASSERT_EQ(getsockopt(p.socket, IPPROTO_TCP, TCP_NODELAY, &noDelay, &size), 0);
  EXPECT_NE(noDelay, 0);
  EXPECT_EQ(Receive(p, 2), "hi");
}

TEST(NetStop, StopEndsABlockedReceiveAndAPendingConnect) {
  SocketPair pair;
  ASSERT_TRUE(pair.ok());
  Publisher p;
  AdoptConnection(p, pair.client);
  pair.client = kNoSocket;
  std::thread stopper([&] {
    SleepMs(200);
    StopConnection(p);
  });
  const uint64_t start = MonotonicMs();
  uint8_t byte;
  EXPECT_FALSE(ReceiveBytes(p, &byte, 1));  // the peer never sends
  EXPECT_LT(MonotonicMs() - start, 1200u);
  stopper.join();

  // A full accept queue leaves a connect hanging; the stop must end it too.
  NetSocket listener = kNoSocket, filler = kNoSocket;
  int port = 0;
  ASSERT_TRUE(NetListenLoopback(0, 0, &listener, &port));
  ASSERT_EQ(NetConnect("127.0.0.1", port, 1000, 1000, nullptr, &filler), NetConnectResult::kConnected);
  Publisher q;
  std::thread stopper2([&] {
    SleepMs(300);
    StopConnection(q);
  });
  const uint64_t start2 = MonotonicMs();
  std::wstring error;
  EXPECT_FALSE(OpenConnection(q, L"127.0.0.1", port, false, &error));
  EXPECT_LT(MonotonicMs() - start2, 1200u);
  EXPECT_EQ(error, L"Couldn't connect to 127.0.0.1:" + std::to_wstring(port));
  stopper2.join();
  NetClose(filler);
  NetClose(listener);
}

TEST(NetSend, CountsEveryByteAndReceivesExactly) {
  SocketPair pair;
  ASSERT_TRUE(pair.ok());
  std::atomic<uint64_t> sent{0};
  Publisher p;
  p.bytesSent = &sent;
  AdoptConnection(p, pair.client);
  pair.client = kNoSocket;
  const std::string data = Pattern(300000, 1);  // several 64 KiB pieces
  std::thread peer([&] { SendRawBytes(pair.server, ReceiveRawBytes(pair.server, data.size(), kWaitMs)); });
  ASSERT_TRUE(Send(p, data));
  EXPECT_EQ(sent.load(), data.size());
  EXPECT_EQ(Receive(p, data.size()), data);
  peer.join();
  NetShutdown(pair.server);
  EXPECT_EQ(Receive(p, 1), "(failed)");  // the end of the stream fails a read
}

// --- TLS through nginx's stream module ---

class TlsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    backend_ = new Backend;
    nginx_ = new NginxPeer(backend_->port());
  }
  static void TearDownTestSuite() {
    delete nginx_;
    delete backend_;
  }
  void SetUp() override { ASSERT_TRUE(nginx_->ok()) << "nginx with the stream module did not start"; }
  void TearDown() override { backend_->Finish(); }
  static Backend* backend_;
  static NginxPeer* nginx_;
};
Backend* TlsTest::backend_ = nullptr;
NginxPeer* TlsTest::nginx_ = nullptr;

TEST_F(TlsTest, LargeBuffersGoBothWaysInManyRecords) {
  const std::string up = Pattern(100000, 2), down = Pattern(200000, 3);
  std::string got;
  backend_->Serve([&](NetSocket s) {
    got = ReceiveRawBytes(s, up.size(), kWaitMs);
    SendRawBytes(s, down);
  });
  ScopedCertFile trust(nginx_->caFile());
  std::atomic<uint64_t> sent{0};
  Publisher p;
  p.bytesSent = &sent;
  std::wstring error;
  ASSERT_TRUE(OpenConnection(p, L"localhost", nginx_->tlsPort(), true, &error)) << WideToUtf8(error);
  const uint64_t handshake = sent.load();
  EXPECT_GT(handshake, 0u);  // handshake bytes count too
  ASSERT_TRUE(Send(p, up));
  // Seven records at least, each with a header and an authentication tag.
  constexpr uint64_t kMinRecordOverhead = 5 + 16;
  EXPECT_GE(sent.load() - handshake, up.size() + 7 * kMinRecordOverhead);
  EXPECT_EQ(Receive(p, down.size()), down);
  backend_->Finish();
  EXPECT_EQ(got, up);
  // The certificate also names the address: connecting by address passes the check. The echo
  // makes sure the backend took this connection, so that no later test gets it.
  backend_->Serve([](NetSocket s) { SendRawBytes(s, ReceiveRawBytes(s, 1, kWaitMs)); });
  Publisher q;
  EXPECT_TRUE(OpenConnection(q, L"127.0.0.1", nginx_->tlsPort(), true, &error)) << WideToUtf8(error);
  EXPECT_TRUE(Send(q, "e"));
  EXPECT_EQ(Receive(q, 1), "e");
}

TEST_F(TlsTest, CertificateForAnotherNameOrUnknownIssuerIsRefused) {
  Publisher p;
  std::wstring error;
  {
    ScopedCertFile trust(nginx_->caFile());
    EXPECT_FALSE(OpenConnection(p, L"localhost", nginx_->wrongPort(), true, &error));
    EXPECT_EQ(error, L"The server's security certificate isn't valid: hostname mismatch");
    EXPECT_FALSE(p.connected);
    EXPECT_EQ(p.socket, kNoSocket);
  }
  ScopedCertFile nothingTrusted("/dev/null");
  EXPECT_FALSE(OpenConnection(p, L"localhost", nginx_->tlsPort(), true, &error));
  EXPECT_EQ(error, L"The server's security certificate isn't valid: unable to get local issuer certificate");
}

TEST_F(TlsTest, HandshakeInTinySegmentsCompletes) {
  backend_->Serve([](NetSocket s) { SendRawBytes(s, ReceiveRawBytes(s, 5, kWaitMs) + "!"); });
  Relay relay(nginx_->tlsPort(), 7, 0);
  ScopedCertFile trust(nginx_->caFile());
  Publisher p;
  std::wstring error;
  ASSERT_TRUE(OpenConnection(p, L"localhost", relay.port(), true, &error)) << WideToUtf8(error);
  ASSERT_TRUE(Send(p, "hello"));
  EXPECT_EQ(Receive(p, 6), "hello!");
  EXPECT_GT(relay.serverWrites(), 100);  // the server's flight really came in pieces
}

TEST_F(TlsTest, DataArrivingWithTheLastHandshakeBytesIsKept) {
  // TLS 1.2: the server's Finished and the backend's greeting reach the client in one write.
  backend_->Serve([](NetSocket s) { SendRawBytes(s, "greeting"); });
  // The flight with the server's ChangeCipherSpec (record type 20) waits for the greeting's
  // application data record (23), however late a loaded machine makes it.
  Relay relay(nginx_->tls12Port(), 65536, 300, [](const std::vector<uint8_t>& held) {
    bool finished = false, data = false;
    for (size_t i = 0; i + 5 <= held.size(); i += 5 + (held[i + 3] << 8 | held[i + 4])) {
      finished |= held[i] == 20;
      data |= held[i] == 23;
    }
    return !finished || data;
  });
  ScopedCertFile trust(nginx_->caFile());
  Publisher p;
  std::wstring error;
  ASSERT_TRUE(OpenConnection(p, L"localhost", relay.port(), true, &error)) << WideToUtf8(error);
  EXPECT_FALSE(NetReadable(p.socket, 0));  // everything came with the handshake...
  EXPECT_TRUE(InputPending(p));            // ...and waits inside the session
  EXPECT_EQ(Receive(p, 8), "greeting");
}

TEST_F(TlsTest, PendingTestIgnoresRecordsWithoutData) {
  std::atomic<bool> release{false};
  backend_->Serve([&](NetSocket s) {
    for (int i = 0; i < 1000 && !release; ++i) SleepMs(5);
    SendRawBytes(s, "late");
  });
  struct Release {
    std::atomic<bool>& flag;
    ~Release() { flag = true; }  // also when an assertion leaves early
  } releaseOnExit{release};
  ScopedCertFile trust(nginx_->caFile());
  Publisher p;
  std::wstring error;
  ASSERT_TRUE(OpenConnection(p, L"localhost", nginx_->tlsPort(), true, &error)) << WideToUtf8(error);
  SleepMs(300);
  ASSERT_TRUE(NetReadable(p.socket, 0));  // TLS 1.3 session tickets came after the handshake
  const uint64_t start = MonotonicMs();
  EXPECT_FALSE(InputPending(p));
  EXPECT_LT(MonotonicMs() - start, 100u);  // and it did not wait for data
  release = true;
  bool pending = false;
  for (int i = 0; i < 200 && !pending; ++i) {
    pending = InputPending(p);
    if (!pending) SleepMs(10);
  }
  EXPECT_TRUE(pending);
  EXPECT_EQ(Receive(p, 4), "late");
}

TEST(TlsFaults, TableCodesAreCertificateCodesAndKeysUnique) {
  const uint32_t codes[] = {kTlsCodeWrongPrincipal, kTlsCodeUntrustedRoot, kTlsCodeCertUnknown,
                            kTlsCodeCertExpired, kTlsCodeNameMismatch};
  const auto faults = TlsCertificateFaults();
  ASSERT_FALSE(faults.empty());
  for (size_t i = 0; i < faults.size(); ++i) {
    SCOPED_TRACE(faults[i].name);
    EXPECT_NE(std::find(std::begin(codes), std::end(codes), faults[i].code), std::end(codes));
    EXPECT_NE(faults[i].code, kTlsCodeCertUnknown);  // that one is the fallback, not a row
    EXPECT_EQ(TlsCertificateCode(faults[i].verifyResult), faults[i].code);
    for (size_t j = 0; j < i; ++j) EXPECT_NE(faults[i].verifyResult, faults[j].verifyResult);
  }
  EXPECT_EQ(TlsCertificateCode(-12345), kTlsCodeCertUnknown);
}

}  // namespace
