// The phone remote's server over real loopback sockets: the page, the PIN, the state, commands as
// they reach the UI thread, and requests that are malformed, oversized, silent or guessing.
#include "control/remote_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/settings.h"
#include "base/status_message.h"
#include "base/test_mode.h"
#include "control/remote_state.h"
#include "platform/net.h"
#include "platform/text.h"
#include "platform/ui_post.h"

using namespace std::chrono_literals;

namespace {

constexpr const char* kPin = "4711";

// A server on a free loopback port for one test.
class RemoteServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OpenUiPosts(nullptr);
    DrainUiPosts([](const UiPost& post) { delete static_cast<RemoteCommand*>(post.lparam); });
    std::wstring error;
    ASSERT_TRUE(StartRemoteServer(0, kPin, &error, true)) << std::string(error.begin(), error.end());
    port = RemoteServerPort();
    ASSERT_GT(port, 0);
  }
  void TearDown() override { StopRemoteServer(); }

  std::string Get(const std::string& path) { return RemoteTestRequest(path, port); }

  // The commands posted so far, taken over from the queue.
  std::vector<RemoteCommand> Commands() {
    std::vector<RemoteCommand> out;
    DrainUiPosts([&](const UiPost& post) {
      std::unique_ptr<RemoteCommand> command(static_cast<RemoteCommand*>(post.lparam));
      if (post.message == kRemoteCommandPost && command) out.push_back(*command);
    });
    return out;
  }

  int port = 0;
};

std::string Body(const std::string& reply) {
  const size_t blank = reply.find("\r\n\r\n");
  return blank == std::string::npos ? std::string() : reply.substr(blank + 4);
}

// Connects from the given loopback address (127.0.0.x) and sends the bytes as they are.
int ConnectFrom(const char* source, int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in from{};
  from.sin_family = AF_INET;
  inet_pton(AF_INET, source, &from.sin_addr);
  if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
    close(fd);
    return -1;
  }
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
  if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    close(fd);
    return -1;
  }
  timeval tv{5, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  return fd;
}

std::string Exchange(int fd, const std::string& bytes, bool halfClose = false) {
  if (!bytes.empty()) send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  if (halfClose) shutdown(fd, SHUT_WR);
  std::string reply;
  char chunk[4096];
  for (ssize_t n; (n = recv(fd, chunk, sizeof chunk, 0)) > 0;) reply.append(chunk, static_cast<size_t>(n));
  close(fd);
  return reply;
}

std::string RawRequest(int port, const std::string& bytes, const char* source = "127.0.0.1", bool halfClose = false) {
  const int fd = ConnectFrom(source, port);
  return fd < 0 ? "(no connection)" : Exchange(fd, bytes, halfClose);
}

}  // namespace

TEST(RemoteQuery, DecodesNamesAndValuesAsFormsSendThem) {
  EXPECT_EQ(PercentDecodeBytes("a+b%41%7e", true), "a bA~");
  EXPECT_EQ(PercentDecodeBytes("50%", true), "50%") << "a % among the last two characters is copied";
  EXPECT_EQ(PercentDecodeBytes("x%4", true), "x%4");
  EXPECT_EQ(PercentDecodeBytes("a+b%2B", false), "a+b+") << "a plus is a space in forms only";
  EXPECT_EQ(PercentDecodeBytes("%zz%C3%A9", true), "%zz\xC3\xA9") << "not hex: kept, never a NUL byte";
  const RemoteQuery query = ParseQuery("pin=12%2034&name=deck.0.play&press&name=mixer.xfader&&value=0.25");
  EXPECT_EQ(query.at("pin"), "12 34");
  EXPECT_EQ(query.at("name"), "mixer.xfader") << "a later piece replaces an earlier one";
  EXPECT_EQ(query.at("press"), "");
  EXPECT_EQ(query.at("value"), "0.25");
  EXPECT_EQ(query.size(), 4u);
}

TEST_F(RemoteServerTest, ThePageNeedsNoPinAndEveryReplyClosesUncached) {
  for (const char* path : {"/", "/index.html", "/index.html?pin=0000"}) {
    const std::string reply = Get(path);
    EXPECT_TRUE(reply.starts_with("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n")) << path;
    EXPECT_NE(reply.find("Cache-Control: no-store\r\nConnection: close\r\n"), std::string::npos);
    const std::string body = Body(reply);
    EXPECT_NE(body.find("VELDMIX"), std::string::npos);
    EXPECT_NE(reply.find("Content-Length: " + std::to_string(body.size()) + "\r\n"), std::string::npos);
  }
  EXPECT_EQ(CountRemotePhones(), 0) << "the page alone is not a phone";
}

TEST_F(RemoteServerTest, TheStateAndCommandsNeedThePin) {
  SetRemoteState(R"({"decks":[],"title":"Caf\u00e9"})");
  EXPECT_EQ(Body(Get("/api/state")), "PIN");
  EXPECT_TRUE(Get("/api/state?pin=4712").starts_with("HTTP/1.1 403 Forbidden\r\nContent-Type: text/plain\r\n"));
  EXPECT_EQ(Body(Get("/api/do?pin=&name=deck.0.play&press=1")), "PIN");
  EXPECT_EQ(CountRemotePhones(), 0);
  const std::string state = Get("/api/state?pin=4711");
  EXPECT_TRUE(state.starts_with("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"));
  EXPECT_EQ(Body(state), R"({"decks":[],"title":"Caf\u00e9"})");
  EXPECT_EQ(CountRemotePhones(), 1);
  EXPECT_EQ(Body(Get("/api/nothing?pin=4711")), "?");
  EXPECT_TRUE(Get("/../../etc/passwd?pin=4711").starts_with("HTTP/1.1 404 Not Found\r\n"));
  EXPECT_TRUE(Commands().empty()) << "nothing reached the UI thread";
}

TEST_F(RemoteServerTest, CommandsReachTheUiThreadAsPosted) {
  EXPECT_EQ(Body(Get("/api/do?pin=4711")), "name?");
  EXPECT_EQ(Body(Get("/api/do?pin=4711&name=deck.0.cue&down=1")), "ok");
  Get("/api/do?pin=4711&name=deck.0.cue&up=1");
  Get("/api/do?pin=4711&name=mixer.xfader&value=0.25");
  Get("/api/do?pin=4711&name=lib.browse&delta=-1");
  Get("/api/do?pin=4711&name=deck.1.hotcue3&press=0");
  const std::vector<RemoteCommand> got = Commands();
  ASSERT_EQ(got.size(), 5u);
  EXPECT_EQ(got[0].name, "deck.0.cue.down");
  EXPECT_TRUE(got[0].press);
  EXPECT_EQ(got[1].name, "deck.0.cue.up");
  EXPECT_FALSE(got[1].press);
  EXPECT_EQ(got[2].name, "mixer.xfader");
  EXPECT_TRUE(got[2].hasValue);
  EXPECT_FLOAT_EQ(got[2].value, 0.25f);
  EXPECT_EQ(got[3].delta, -1);
  EXPECT_FALSE(got[3].hasValue);
  EXPECT_TRUE(got[4].press) << "only the presence of press counts";
}

TEST_F(RemoteServerTest, NumbersThatAreNotFiniteOrInBoundsChangeNothing) {
  for (const char* bad : {"value=nan", "value=inf", "value=-inf", "value=1e999", "value=0.5x", "value=",
                          "delta=99999999999", "delta=2147483648", "delta=1e3", "delta=1001", "delta=abc", "delta=%2B-1"}) {
    const std::string reply = Get(std::string("/api/do?pin=4711&name=mixer.xfader&") + bad);
    EXPECT_TRUE(reply.starts_with("HTTP/1.1 404 Not Found\r\n")) << bad;
  }
  EXPECT_TRUE(Commands().empty());
  Get("/api/do?pin=4711&name=lib.browse&delta=%2B8");
  const std::vector<RemoteCommand> got = Commands();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].delta, 8);
}

// Every number a request carries, at and past the edges of its type, from the socket to the
// dispatcher's call: none wraps (the sanitized build stops on a signed overflow), a value or delta
// out of bounds is refused, and a hot cue number of any size lands on a button of the deck.
TEST_F(RemoteServerTest, EveryNumberOfARequestIsReadWithinItsBounds) {
  struct Case {
    std::string words;
    int target;  // -1: refused by the server
    float value;
    int32_t delta;
  };
  const Case cases[] = {
      {"name=deck.0.hotcue-2147483648&press", 5270, 0, 0},
      {"name=deck.0.hotcue-2147483649&press", 5270, 0, 0},
      {"name=deck.0.hotcue2147483647&press", 5277, 0, 0},
      {"name=deck.1.hotcue2147483648&press", 5477, 0, 0},
      {"name=deck.0.hotcue-9223372036854775808&press", 5270, 0, 0},
      {"name=deck.0.hotcue9223372036854775808&press", 5277, 0, 0},
      {"name=deck.0.hotcue" + std::string(200, '9') + "&press", 5277, 0, 0},
      {"name=deck.0.hotcue0&press", 5270, 0, 0},
      {"name=deck.1.hotcue%2B4&press", 5473, 0, 0},
      {"name=mixer.xfader&value=3.4028234e38", 5000, 1.0f, 0},
      {"name=mixer.xfader&value=-3.4028234e38", 5000, 0.0f, 0},
      {"name=mixer.xfader&value=3.5e38", -1, 0, 0},
      {"name=mixer.xfader&value=-1e309", -1, 0, 0},
      {"name=mixer.xfader&value=1e-400", 5000, 0.0f, 0},
      {"name=lib.browse&delta=1000", 5005, 0, 1000},
      {"name=lib.browse&delta=-1000", 5005, 0, -1000},
      {"name=lib.browse&delta=1001", -1, 0, 0},
      {"name=lib.browse&delta=-2147483648", -1, 0, 0},
      {"name=lib.browse&delta=-9223372036854775808", -1, 0, 0},
      {"name=lib.browse&delta=18446744073709551616", -1, 0, 0},
  };
  for (const Case& c : cases) {
    const std::string reply = Get("/api/do?pin=4711&" + c.words);
    const std::vector<RemoteCommand> got = Commands();
    if (c.target < 0) {
      EXPECT_TRUE(reply.starts_with("HTTP/1.1 404 Not Found\r\n")) << c.words;
      EXPECT_TRUE(got.empty()) << c.words;
      continue;
    }
    ASSERT_EQ(got.size(), 1u) << c.words;
    const std::vector<RemoteControlStep> steps = RemoteControlSteps(got[0]);
    ASSERT_FALSE(steps.empty()) << c.words;
    EXPECT_EQ(steps[0].target, c.target) << c.words;
    EXPECT_EQ(steps[0].event.value, c.value) << c.words;
    EXPECT_EQ(steps[0].event.delta, c.delta) << c.words;
  }
}

TEST_F(RemoteServerTest, MalformedAndOversizedRequestsNeverStopTheServer) {
  SetRemoteState("{\"ok\":1}");
  // Junk without a space, an empty connection and a request that ends before its blank line.
  EXPECT_EQ(RawRequest(port, std::string("\x01\xff\x00junk", 7), "127.0.0.1", true), "");
  EXPECT_EQ(RawRequest(port, "", "127.0.0.1", true), "");
  EXPECT_EQ(Body(RawRequest(port, "GET /api/state?pin=4711 HTTP/1.1\r\nHost: x", "127.0.0.1", true)), "{\"ok\":1}");
  // 20 KB of header with no blank line: handled from its first 16 KB.
  const std::string huge = "GET /api/state?pin=4711 HTTP/1.1\r\nX-Fill: " + std::string(20 * 1024, 'a');
  EXPECT_EQ(Body(RawRequest(port, huge)), "{\"ok\":1}");
  // A target longer than the limit has no second space: no reply.
  EXPECT_EQ(RawRequest(port, "GET /" + std::string(20 * 1024, 'b')), "");
  EXPECT_EQ(Body(Get("/api/state?pin=4711")), "{\"ok\":1}");
}

TEST_F(RemoteServerTest, SilentConnectionsDoNotDelayAnotherPhonesRequest) {
  // A browser opens sockets ahead of need and may send nothing on them for seconds.
  SetRemoteState("{\"ok\":1}");
  std::vector<int> silent;
  for (int i = 0; i < 3; ++i) silent.push_back(ConnectFrom("127.0.0.1", port));
  std::this_thread::sleep_for(50ms);
  const auto asked = std::chrono::steady_clock::now();
  EXPECT_EQ(Body(Get("/api/do?pin=4711&name=deck.0.cue&up=1")), "ok");
  // Each silent socket is given 3 s for its request; served in turn this reply would wait 9 s.
  EXPECT_LT(std::chrono::steady_clock::now() - asked, 2s);
  for (const int fd : silent) EXPECT_EQ(Exchange(fd, ""), "");
  ASSERT_EQ(Commands().size(), 1u);
}

TEST_F(RemoteServerTest, GuessingThePinLocksOutThatAddressOnly) {
  for (int i = 0; i < 10; ++i) RawRequest(port, "GET /api/state?pin=" + std::to_string(1000 + i) + " HTTP/1.1\r\n\r\n", "127.0.0.2");
  EXPECT_EQ(Body(RawRequest(port, "GET /api/state?pin=4711 HTTP/1.1\r\n\r\n", "127.0.0.2")), "PIN")
      << "the right PIN is refused too for a while";
  EXPECT_NE(Body(RawRequest(port, "GET / HTTP/1.1\r\n\r\n", "127.0.0.2")).find("VELDMIX"), std::string::npos);
  EXPECT_NE(Body(RawRequest(port, "GET /api/state?pin=4711 HTTP/1.1\r\n\r\n", "127.0.0.3")), "PIN");
  // Requests without a PIN typed (a page that has none yet) are no guesses.
  for (int i = 0; i < 20; ++i) RawRequest(port, "GET /api/state?pin= HTTP/1.1\r\n\r\n", "127.0.0.4");
  EXPECT_NE(Body(RawRequest(port, "GET /api/state?pin=4711 HTTP/1.1\r\n\r\n", "127.0.0.4")), "PIN");
  EXPECT_EQ(CountRemotePhones(), 2) << "two addresses passed the PIN; the locked-out one is no phone";
}

TEST_F(RemoteServerTest, ATakenPortIsReportedAndTheSamePortServesAgainAfterARestart) {
  std::wstring error;
  NetSocket other = kNoSocket;
  int otherPort = 0;
  ASSERT_TRUE(NetListenLoopback(0, 1, &other, &otherPort));
  EXPECT_FALSE(StartRemoteServer(otherPort, kPin, &error, true));
  EXPECT_EQ(error, L"Couldn't open port " + std::to_wstring(otherPort) + L" (is something else using it?)");
  EXPECT_FALSE(IsRemoteServerRunning()) << "a failed start leaves no server";
  // The program's start says so on the status line; a self-test run starts no remote at all.
  const SettingsRecord saved = Settings;
  Settings.RemoteOn = true;
  Settings.RemotePort = otherPort;
  TestMode = false;
  StartPhoneRemote();
  EXPECT_EQ(Status.text, L"Phone remote: Couldn't open port " + std::to_wstring(otherPort) +
                             L" (is something else using it?)");
  TestMode = true;
  Settings.RemotePort = port;
  StartPhoneRemote();
  EXPECT_FALSE(IsRemoteServerRunning());
  TestMode = false;
  Settings = saved;
  NetClose(other);
  ASSERT_TRUE(StartRemoteServer(port, kPin, &error, true));
  EXPECT_NE(Body(Get("/")).find("VELDMIX"), std::string::npos);
  Get("/api/state?pin=4711");  // a connection closed by the server just now (TIME_WAIT)
  ASSERT_TRUE(StartRemoteServer(port, "1234", &error, true)) << "restarting on the same port works";
  EXPECT_EQ(Body(Get("/api/state?pin=4711")), "PIN") << "the new PIN counts";
  StopRemoteServer();
  StopRemoteServer();
  EXPECT_EQ(Get("/"), "");
}
