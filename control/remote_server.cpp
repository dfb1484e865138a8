#include "control/remote_server.h"

#include <fmt/format.h>
#include <fmt/xchar.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>

#include "base/log.h"
#include "base/settings.h"
#include "base/status_message.h"
#include "base/test_mode.h"
#include "base/text_parse.h"
#include "control/remote_page.h"
#include "platform/clock.h"
#include "platform/net.h"
#include "platform/text.h"
#include "platform/thread_priority.h"
#include "platform/ui_post.h"

namespace {

constexpr int kListenBacklog = 8;
constexpr unsigned kStopSliceMs = 200;          // the longest a stop waits for the service thread
constexpr uint64_t kRequestDeadlineMs = 3000;   // a whole request must arrive within this
constexpr unsigned kSendTimeoutMs = 1000;       // a phone that stops reading is dropped after this
constexpr size_t kMaxRequestBytes = 16384;      // read no further; the rest is ignored
constexpr size_t kReceiveChunkBytes = 4096;
constexpr size_t kSendPieceBytes = 65536;
constexpr uint64_t kPhoneSeenMs = 5000;
// Guessing a four-digit PIN: an address that gets it wrong this often is refused for a while.
constexpr int kWrongPinLimit = 10;
constexpr uint64_t kPinLockoutMs = 60000;
constexpr size_t kMaxGuardedAddresses = 4096;
// A phone's steps are small; anything beyond this is not a gesture and is refused.
constexpr int32_t kMaxDelta = 1000;
constexpr unsigned kTestRequestTimeoutMs = 3000;
// Connections served at once: a browser's idle pre-opened socket or a slow phone must not hold up
// another phone's CUE release. Beyond this a new connection is closed unanswered.
constexpr int kMaxConnections = 16;

struct PinGuard {
  int wrong = 0;
  uint64_t lockedUntilMs = 0;
};

struct RemoteServerState {
  NetSocket listener = kNoSocket;
  std::thread thread;
  std::atomic<bool> stop{false};
  std::atomic<bool> running{false};
  int port = 0;
  std::string pin;
  std::mutex mutex;                         // guards state and phones
  std::string state = "{}";
  std::map<std::string, uint64_t> phones;   // address -> MonotonicMs of its latest good request
  std::mutex guardMutex;                    // guards the PIN guards
  std::map<std::string, PinGuard> guards;
  std::atomic<int> serving{0};              // connection threads still running
};
RemoteServerState Server;

void WriteHttpReply(NetSocket socket, int status, std::string_view contentType, std::string_view body) {
  const char* reason = status == 200 ? "200 OK" : status == 403 ? "403 Forbidden" : "404 Not Found";
  std::string reply = fmt::format(
      "HTTP/1.1 {}\r\nContent-Type: {}\r\nContent-Length: {}\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n",
      reason, contentType, body.size());
  reply.append(body);
  NetSetTimeouts(socket, kSendTimeoutMs);
  NetSendAll(socket, reinterpret_cast<const uint8_t*>(reply.data()), reply.size(), kSendPieceBytes, nullptr);
}

// Reads up to the blank line, kMaxRequestBytes, the peer's close or the deadline, looking at the
// stop flag between receives. Empty when nothing usable arrived or the server stops.
std::string ReceiveRequest(NetSocket socket) {
  std::string data;
  const uint64_t deadline = MonotonicMs() + kRequestDeadlineMs;
  char chunk[kReceiveChunkBytes];
  while (data.size() < kMaxRequestBytes && data.find("\r\n\r\n") == std::string::npos) {
    if (Server.stop.load()) return {};
    const uint64_t now = MonotonicMs();
    if (now >= deadline) break;
    if (!NetReadable(socket, static_cast<unsigned>(std::min<uint64_t>(deadline - now, kStopSliceMs)))) continue;
    const long n = NetReceiveSome(socket, reinterpret_cast<uint8_t*>(chunk),
                                  std::min(sizeof chunk, kMaxRequestBytes - data.size()));
    if (n <= 0) break;
    data.append(chunk, static_cast<size_t>(n));
  }
  return data;
}

// The whole text as a finite float; false for anything else (nan, inf, 1e999, "0.5x", "").
bool ParseValue(const std::string& text, float* out) {
  double value = 0.0;
  constexpr double kFloatMax = std::numeric_limits<float>::max();
  if (!ParseNumber(text, &value, -kFloatMax, kFloatMax)) return false;
  *out = static_cast<float>(value);
  return true;
}

bool ParseDelta(const std::string& text, int32_t* out) {
  int64_t value = 0;
  if (!ParseInteger(text, &value, -kMaxDelta, kMaxDelta)) return false;
  *out = static_cast<int32_t>(value);
  return true;
}

// The PIN check with its lockout; a passing address counts as a phone from now.
bool PinAccepted(const RemoteQuery& query, const std::string& address) {
  const uint64_t now = MonotonicMs();
  std::unique_lock guardLock(Server.guardMutex);
  if (Server.guards.size() > kMaxGuardedAddresses) std::erase_if(Server.guards, [now](const auto& g) {
      return g.second.lockedUntilMs <= now;
    });
  PinGuard& guard = Server.guards[address];
  if (now < guard.lockedUntilMs) return false;
  const auto pin = query.find("pin");
  if (pin == query.end() || pin->second != Server.pin) {
    // Only a PIN typed counts as a guess: a page that has none yet asks without one.
    const bool guessed = pin != query.end() && !pin->second.empty();
    if (guessed && ++guard.wrong >= kWrongPinLimit) {
      guard.wrong = 0;
      guard.lockedUntilMs = now + kPinLockoutMs;
      WriteLog(L"Remote: {} wrong PINs from {}; refused for {} s", kWrongPinLimit, Utf8ToWide(address),
               kPinLockoutMs / 1000);
    }
    return false;
  }
  guard.wrong = 0;
  guardLock.unlock();
  std::lock_guard lock(Server.mutex);
  Server.phones[address] = now;
  return true;
}

void HandleCommand(NetSocket socket, const RemoteQuery& query, const std::string& address) {
  const auto name = query.find("name");
  if (name == query.end()) {
    WriteHttpReply(socket, 404, "text/plain", "name?");
    return;
  }
  auto command = std::make_unique<RemoteCommand>();
  command->name = name->second;
  command->client = address;
  if (const auto value = query.find("value"); value != query.end()) {
    if (!ParseValue(value->second, &command->value)) {
      WriteHttpReply(socket, 404, "text/plain", "value?");
      return;
    }
    command->hasValue = true;
  }
  if (const auto delta = query.find("delta"); delta != query.end() && !ParseDelta(delta->second, &command->delta)) {
    WriteHttpReply(socket, 404, "text/plain", "delta?");
    return;
  }
  if (query.contains("press")) command->press = true;
  if (query.contains("down")) {
    command->press = true;
    command->name += ".down";
  }
  if (query.contains("up")) command->name += ".up";
  if (PostToUi(kRemoteCommandPost, 0, command.get())) command.release();
  WriteHttpReply(socket, 200, "text/plain", "ok");
}

void HandleRemoteRequest(NetSocket socket, const std::string& address) {
  const std::string request = ReceiveRequest(socket);
  const size_t first = request.find(' ');
  if (request.empty() || first == std::string::npos) return;
  const size_t second = request.find(' ', first + 1);
  if (second == std::string::npos) return;
  const std::string target = request.substr(first + 1, second - first - 1);
  const size_t mark = target.find('?');
  const std::string path = target.substr(0, mark);
  const RemoteQuery query = ParseQuery(mark == std::string::npos ? std::string_view() : std::string_view(target).substr(mark + 1));
  if (path == "/" || path == "/index.html") {
    WriteHttpReply(socket, 200, "text/html; charset=utf-8", RemotePage());
    return;
  }
  if (!PinAccepted(query, address)) {
    WriteHttpReply(socket, 403, "text/plain", "PIN");
    return;
  }
  if (path == "/api/state") {
    std::string state;
    {
      std::lock_guard lock(Server.mutex);
      state = Server.state;
    }
    WriteHttpReply(socket, 200, "application/json", state);
  } else if (path == "/api/do") {
    HandleCommand(socket, query, address);
  } else {
    WriteHttpReply(socket, 404, "text/plain", "?");
  }
}

void ServeConnection(NetSocket connection, std::string address) {
  HandleRemoteRequest(connection, address);
  // Unread bytes (a request cut at the limit) would turn the close into a reset that can
  // swallow the reply.
  NetDiscardPending(connection);
  NetShutdown(connection);
  NetClose(connection);
  Server.serving.fetch_sub(1);
}

// Accepts until stopped; each connection is served on its own thread, so one that is slow to
// send its request (each has kRequestDeadlineMs) delays no other.
void RemoteServerThread() {
  NameThisThread("vm-remote");
  while (!Server.stop.load()) {
    NetSocket connection = kNoSocket;
    std::string address;
    const NetAcceptResult accepted = NetAcceptWithin(Server.listener, kStopSliceMs, &connection, &address);
    if (accepted == NetAcceptResult::kFailed) {
      std::this_thread::sleep_for(std::chrono::milliseconds(kStopSliceMs));
      continue;
    }
    if (accepted != NetAcceptResult::kAccepted) continue;
    if (Server.serving.load() >= kMaxConnections) {
      NetClose(connection);
      continue;
    }
    Server.serving.fetch_add(1);
    try {
      std::thread(ServeConnection, connection, std::move(address)).detach();
    } catch (const std::system_error&) {
      Server.serving.fetch_sub(1);
      NetClose(connection);
    }
  }
  // Connection threads see the stop within kStopSliceMs, or a send times out.
  while (Server.serving.load() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

}  // namespace

void StartPhoneRemote() {
  StopRemoteServer();
  if (!Settings.RemoteOn || TestMode) return;
  std::wstring error;
  if (StartRemoteServer(Settings.RemotePort, WideToUtf8(Settings.Pin), &error, false)) {
    WriteLog(L"Remote: listening on port {}", Settings.RemotePort);
    return;
  }
  ShowStatus(UiFormat(L"Phone remote: Couldn't open port {} (is something else using it?)", Settings.RemotePort), 5000);
  WriteLog(L"Remote: {}", error);
}

bool StartRemoteServer(int port, const std::string& pin, std::wstring* error, bool loopbackOnly) {
  StopRemoteServer();
  Server.pin = pin;
  Server.guards.clear();
  {
    // Phones that knew the old PIN are not connected to this server.
    std::lock_guard lock(Server.mutex);
    Server.phones.clear();
  }
  int bound = 0;
  if (!NetListen(loopbackOnly, port, kListenBacklog, &Server.listener, &bound)) {
    if (error) *error = fmt::format(L"Couldn't open port {} (is something else using it?)", port);
    Server.listener = kNoSocket;
    return false;
  }
  Server.port = bound;
  Server.stop = false;
  Server.running = true;
  Server.thread = std::thread(RemoteServerThread);
  return true;
}

void StopRemoteServer() {
  if (!Server.running.load()) return;
  Server.stop = true;
  if (Server.thread.joinable() && Server.thread.get_id() != std::this_thread::get_id()) Server.thread.join();
  NetClose(Server.listener);
  Server.listener = kNoSocket;
  Server.port = 0;
  Server.running = false;
}

bool IsRemoteServerRunning() { return Server.running.load(); }

int RemoteServerPort() { return Server.running.load() ? Server.port : 0; }

std::vector<std::wstring> RemoteUrls() {
  std::vector<std::wstring> urls;
  const int port = Server.running.load() ? Server.port : Settings.RemotePort;
  for (const std::string& address : NetLocalAddresses())
    if (!address.starts_with("169.254.")) urls.push_back(fmt::format(L"http://{}:{}", Utf8ToWide(address), port));
  return urls;
}

int CountRemotePhones() {
  const uint64_t now = MonotonicMs();
  std::lock_guard lock(Server.mutex);
  int count = 0;
  for (const auto& [address, seenMs] : Server.phones)
    if (now - seenMs < kPhoneSeenMs) ++count;
  return count;
}

uint64_t RemotePhoneSeenMs(const std::string& address) {
  std::lock_guard lock(Server.mutex);
  const auto seen = Server.phones.find(address);
  return seen == Server.phones.end() ? 0 : seen->second;
}

void SetRemoteState(std::string json) {
  std::lock_guard lock(Server.mutex);
  Server.state.swap(json);
}

RemoteQuery ParseQuery(std::string_view query) {
  RemoteQuery result;
  while (!query.empty()) {
    const size_t amp = query.find('&');
    const std::string_view piece = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    if (piece.empty()) continue;
    const size_t eq = piece.find('=');
    if (eq == std::string_view::npos)
      result[PercentDecodeBytes(piece, true)] = std::string();
    else
      result[PercentDecodeBytes(piece.substr(0, eq), true)] = PercentDecodeBytes(piece.substr(eq + 1), true);
  }
  return result;
}

std::string RemoteTestRequest(const std::string& path, int port) {
  NetSocket socket = kNoSocket;
  if (NetConnect("127.0.0.1", port, kTestRequestTimeoutMs, kTestRequestTimeoutMs, nullptr, &socket) !=
      NetConnectResult::kConnected)
    return {};
  const std::string request = "GET " + path + " HTTP/1.1\r\nHost: localhost\r\n\r\n";
  std::string reply;
  if (NetSendAll(socket, reinterpret_cast<const uint8_t*>(request.data()), request.size(), request.size(), nullptr)) {
    uint8_t chunk[kReceiveChunkBytes];
    for (long n; (n = NetReceiveSome(socket, chunk, sizeof chunk)) > 0;) reply.append(reinterpret_cast<char*>(chunk), n);
  }
  NetClose(socket);
  return reply;
}
