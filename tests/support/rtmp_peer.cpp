#include "support/rtmp_peer.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <new>
#include <sstream>

#include "platform/clock.h"

namespace {

constexpr unsigned kPairTimeoutMs = 5000;

std::string Script() { return std::string(VELDMIX_SOURCE_DIR) + "/tests/support/nginx_rtmp.sh"; }

size_t AddressSpaceBytes() {
  std::ifstream statm("/proc/self/statm");
  size_t pages = 0;
  statm >> pages;
  return pages * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

}  // namespace

SocketPair::SocketPair() {
  NetSocket listener = kNoSocket;
  int port = 0;
  if (!NetListenLoopback(0, 1, &listener, &port)) return;
  if (NetConnect("127.0.0.1", port, kPairTimeoutMs, kPairTimeoutMs, nullptr, &client) ==
      NetConnectResult::kConnected)
    NetAccept(listener, nullptr, &server);
  NetClose(listener);
}

SocketPair::~SocketPair() {
  NetClose(client);
  NetClose(server);
}

bool SendRawBytes(NetSocket socket, const std::string& bytes) {
  return NetSendAll(socket, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 65536, nullptr);
}

std::string ReceiveRawBytes(NetSocket socket, size_t size, unsigned waitMs) {
  std::string got;
  const uint64_t end = MonotonicMs() + waitMs;
  uint8_t buffer[65536];
  while (got.size() < size && MonotonicMs() < end) {
    if (!NetReadable(socket, 20)) continue;
    const long n = NetReceiveSome(socket, buffer, std::min(sizeof buffer, size - got.size()));
    if (n <= 0) break;
    got.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
  }
  return got;
}

NginxPeer::NginxPeer(int upstreamPort) {
  char tmpl[] = "/tmp/veldmix-nginx-XXXXXX";
  if (!mkdtemp(tmpl)) return;
  dir_ = tmpl;
  const std::string command = "bash '" + Script() + "' start '" + dir_ + "' tls " +
                              (upstreamPort ? std::to_string(upstreamPort) : std::string()) + " >&2";
  if (std::system(command.c_str()) != 0) return;
  std::ifstream ports(dir_ + "/ports");
  std::string line;
  while (std::getline(ports, line)) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const int value = std::atoi(line.c_str() + eq + 1);
    const std::string key = line.substr(0, eq);
    if (key == "rtmp") rtmp_ = value;
    if (key == "tls") tls_ = value;
    if (key == "wrong") wrong_ = value;
    if (key == "tls12") tls12_ = value;
  }
  ok_ = rtmp_ && tls_ && wrong_ && tls12_;
}

NginxPeer::~NginxPeer() {
  if (dir_.empty()) return;
  const std::string stop = "bash '" + Script() + "' stop '" + dir_ + "'";
  if (std::system(stop.c_str()) != 0) std::fprintf(stderr, "nginx stop failed in %s\n", dir_.c_str());
  const std::string remove = "rm -rf '" + dir_ + "'";
  if (std::system(remove.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", dir_.c_str());
}

ScopedCertFile::ScopedCertFile(const std::string& path) {
  if (const char* old = std::getenv("SSL_CERT_FILE")) {
    had_ = true;
    old_ = old;
  }
  setenv("SSL_CERT_FILE", path.c_str(), 1);
}

ScopedCertFile::~ScopedCertFile() {
  if (had_) setenv("SSL_CERT_FILE", old_.c_str(), 1);
  else unsetenv("SSL_CERT_FILE");
}

bool RunUnderMemoryCap(size_t extraBytes, unsigned timeoutMs, const std::function<bool()>& fn) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    const rlim_t cap = AddressSpaceBytes() + extraBytes;
    rlimit limit{cap, cap};
    if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(2);
    bool ok = false;
    try {
      ok = fn();
    } catch (const std::bad_alloc&) {
      _exit(3);
    }
    _exit(ok ? 0 : 1);
  }
  const uint64_t end = MonotonicMs() + timeoutMs;
  int status = 0;
  for (;;) {
    const pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) break;
    if (r < 0) return false;
    if (MonotonicMs() > end) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return false;
    }
    SleepMs(10);
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
