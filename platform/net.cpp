#include "platform/net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/clock.h"

namespace {

bool SetBlocking(int fd, bool blocking) {
  const int flags = fcntl(fd, F_GETFL, 0);
  if (flags < 0) return false;
  const int wanted = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
  return fcntl(fd, F_SETFL, wanted) == 0;
}

// Waits until the socket shows one of `events`, the deadline passes or *stop is set, looking at
// the flag every kNetStopSliceMs. 1: ready, 0: timed out or stopped, -1: poll failed.
int PollUntil(int fd, short events, uint64_t deadlineMs, const std::atomic<bool>* stop) {
  for (;;) {
    if (stop && stop->load()) return 0;
    const uint64_t now = MonotonicMs();
    if (now >= deadlineMs) return 0;
    const int slice = static_cast<int>(std::min<uint64_t>(deadlineMs - now, kNetStopSliceMs));
    pollfd p{fd, events, 0};
    const int r = poll(&p, 1, slice);
    if (r > 0) return 1;
    if (r < 0 && errno != EINTR) return -1;
  }
}

// One non-blocking connect bounded by the time-out and the stop flag; 0 when connected, else the
// system's error number (ETIMEDOUT when the time ran out or the stop flag cut it short).
int ConnectOne(const addrinfo* a, unsigned timeoutMs, const std::atomic<bool>* stop, int* out) {
  const int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
  if (fd < 0) return errno;
  int err = SetBlocking(fd, false) ? 0 : errno;
  if (err == 0 && connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
    err = errno;
    if (err == EINPROGRESS) {
      err = ETIMEDOUT;
      if (PollUntil(fd, POLLOUT, MonotonicMs() + timeoutMs, stop) == 1) {
        socklen_t len = sizeof err;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
      }
    }
  }
  if (err == 0 && !SetBlocking(fd, true)) err = errno;
  if (err != 0) {
    close(fd);
    return err;
  }
  *out = fd;
  return 0;
}

}  // namespace

NetConnectResult NetConnect(const std::string& host, int port, unsigned connectTimeoutMs,
                            unsigned ioTimeoutMs, const std::atomic<bool>* stop, NetSocket* out,
                            std::string* why) {
  *out = kNoSocket;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* list = nullptr;
  const std::string service = std::to_string(port);
  const int resolved = host.empty() ? EAI_NONAME : getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
  if (resolved != 0 || !list) {
    if (why) *why = gai_strerror(resolved != 0 ? resolved : EAI_NONAME);
    return NetConnectResult::kNotResolved;
  }
  NetConnectResult result = NetConnectResult::kNotConnected;
  for (const addrinfo* a = list; a; a = a->ai_next) {
    if (stop && stop->load()) {
      result = NetConnectResult::kStopped;
      break;
    }
    int fd = -1;
    if (const int err = ConnectOne(a, connectTimeoutMs, stop, &fd); err != 0) {
      if (why) *why = std::strerror(err);
      continue;
    }
    NetSetTimeouts(fd, ioTimeoutMs);
    *out = fd;
    result = NetConnectResult::kConnected;
    break;
  }
  freeaddrinfo(list);
  if (result == NetConnectResult::kNotConnected && stop && stop->load())
    result = NetConnectResult::kStopped;
  return result;
}

bool NetSendAll(NetSocket socket, const uint8_t* data, size_t size, size_t maxPieceBytes,
                std::atomic<uint64_t>* counter) {
  if (socket < 0) return false;
  size_t done = 0;
  while (done < size) {
    const size_t piece = std::min(size - done, maxPieceBytes);
    const ssize_t n = send(socket, data + done, piece, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
    if (counter) counter->fetch_add(static_cast<uint64_t>(n));
  }
  return true;
}

long NetReceiveSome(NetSocket socket, uint8_t* buffer, size_t maxBytes) {
  if (socket < 0) return -1;
  for (;;) {
    const ssize_t n = recv(socket, buffer, maxBytes, 0);
    if (n < 0 && errno == EINTR) continue;
    return n < 0 ? -1 : static_cast<long>(n);
  }
}

bool NetReceiveExact(NetSocket socket, uint8_t* buffer, size_t size, size_t maxPieceBytes) {
  size_t done = 0;
  while (done < size) {
    const long n = NetReceiveSome(socket, buffer + done, std::min(size - done, maxPieceBytes));
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool NetReadable(NetSocket socket, unsigned timeoutMs) {
  if (socket < 0) return false;
  pollfd p{socket, POLLIN, 0};
  int r;
  do {
    r = poll(&p, 1, static_cast<int>(timeoutMs));
  } while (r < 0 && errno == EINTR);
  return r > 0;
}

void NetShutdown(NetSocket socket) {
  if (socket >= 0) shutdown(socket, SHUT_RDWR);
}

void NetDiscardPending(NetSocket socket) {
  if (socket < 0) return;
  uint8_t scratch[4096];
  while (recv(socket, scratch, sizeof scratch, MSG_DONTWAIT) > 0) {}
}

void NetClose(NetSocket socket) {
  if (socket >= 0) close(socket);
}

bool NetListen(bool loopbackOnly, int port, int backlog, NetSocket* out, int* boundPort) {
  *out = kNoSocket;
  if (port < 0 || port > 65535) return false;
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) return false;
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(loopbackOnly ? INADDR_LOOPBACK : INADDR_ANY);
  socklen_t len = sizeof addr;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, backlog) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    close(fd);
    return false;
  }
  *out = fd;
  if (boundPort) *boundPort = ntohs(addr.sin_port);
  return true;
}

bool NetListenLoopback(int port, int backlog, NetSocket* out, int* boundPort) {
  return NetListen(true, port, backlog, out, boundPort);
}

NetAcceptResult NetAcceptWithin(NetSocket listener, unsigned timeoutMs, NetSocket* out, std::string* peerAddress) {
  *out = kNoSocket;
  if (listener < 0) return NetAcceptResult::kFailed;
  pollfd p{listener, POLLIN, 0};
  const int r = poll(&p, 1, static_cast<int>(timeoutMs));
  if (r == 0 || (r < 0 && errno == EINTR)) return NetAcceptResult::kNone;
  if (r < 0) return NetAcceptResult::kFailed;
  sockaddr_in peer{};
  socklen_t len = sizeof peer;
  const int fd = accept4(listener, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
  if (fd < 0) {
    if (errno == EINTR || errno == EAGAIN || errno == ECONNABORTED || errno == EMFILE || errno == ENFILE)
      return NetAcceptResult::kNone;
    return NetAcceptResult::kFailed;
  }
  if (peerAddress) {
    char text[INET_ADDRSTRLEN] = {};
    *peerAddress = peer.sin_family == AF_INET && inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text) ? text : "";
  }
  *out = fd;
  return NetAcceptResult::kAccepted;
}

std::vector<std::string> NetLocalAddresses() {
  std::vector<std::string> addresses;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return addresses;
  for (const ifaddrs* a = list; a; a = a->ifa_next) {
    if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
    if (!(a->ifa_flags & IFF_UP) || (a->ifa_flags & IFF_LOOPBACK)) continue;
    char text[INET_ADDRSTRLEN] = {};
    const auto* in = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
    if (inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) addresses.emplace_back(text);
  }
  freeifaddrs(list);
  return addresses;
}

bool NetAccept(NetSocket listener, const std::atomic<bool>* stop, NetSocket* out) {
  *out = kNoSocket;
  if (listener < 0) return false;
  for (;;) {
    if (stop && stop->load()) return false;
    pollfd p{listener, POLLIN, 0};
    const int r = poll(&p, 1, static_cast<int>(kNetStopSliceMs));
    if (r < 0 && errno != EINTR) return false;
    if (r <= 0) continue;
    // A shut-down listener reports readable and then fails accept: that ends the wait.
    const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
      *out = fd;
      return true;
    }
    if (errno != EINTR && errno != EAGAIN && errno != ECONNABORTED) return false;
  }
}

bool NetSetNoDelay(NetSocket socket) {
  const int one = 1;
  return setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) == 0;
}

bool NetSetTimeouts(NetSocket socket, unsigned timeoutMs) {
  timeval tv{static_cast<time_t>(timeoutMs / 1000), static_cast<suseconds_t>(timeoutMs % 1000) * 1000};
  return setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0 &&
         setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0;
}
