#pragma once
// Real peers for the network tests: connected loopback socket pairs, nginx with TLS fronts (run
// through tests/support/nginx_rtmp.sh), and a guard that runs code under a memory cap in a child.
#include <cstddef>
#include <functional>
#include <string>

#include "platform/net.h"

// Two ends of one loopback TCP connection; both closed on destruction.
struct SocketPair {
  SocketPair();  // check ok() before use
  ~SocketPair();
  SocketPair(const SocketPair&) = delete;
  SocketPair& operator=(const SocketPair&) = delete;
  bool ok() const { return client != kNoSocket && server != kNoSocket; }
  NetSocket client = kNoSocket;
  NetSocket server = kNoSocket;
};

// Sends raw bytes from one end; true when all went.
bool SendRawBytes(NetSocket socket, const std::string& bytes);
// Receives until `size` bytes came, the peer closed or waitMs passed; returns what came.
std::string ReceiveRawBytes(NetSocket socket, size_t size, unsigned waitMs);

// nginx with three TLS fronts (see nginx_rtmp.sh) over nginx-rtmp or a given upstream port, in a
// private folder; stopped and removed on destruction.
class NginxPeer {
 public:
  explicit NginxPeer(int upstreamPort = 0);
  ~NginxPeer();
  NginxPeer(const NginxPeer&) = delete;
  NginxPeer& operator=(const NginxPeer&) = delete;
  bool ok() const { return ok_; }
  int rtmpPort() const { return rtmp_; }
  int tlsPort() const { return tls_; }      // certificate for localhost and 127.0.0.1
  int wrongPort() const { return wrong_; }  // certificate for wrong.example
  int tls12Port() const { return tls12_; }  // as tlsPort, TLS 1.2 only
  std::string caFile() const { return dir_ + "/ca.crt"; }
  std::string recordings() const { return dir_ + "/rec"; }

 private:
  std::string dir_;
  bool ok_ = false;
  int rtmp_ = 0, tls_ = 0, wrong_ = 0, tls12_ = 0;
};

// Sets SSL_CERT_FILE for its lifetime and restores the old value after.
class ScopedCertFile {
 public:
  explicit ScopedCertFile(const std::string& path);
  ~ScopedCertFile();

 private:
  bool had_ = false;
  std::string old_;
};

// Runs fn in a forked child whose address space may grow by at most extraBytes; true when fn
// returned true there (an allocation beyond the cap ends the child, so it gives false). The child
// is killed after timeoutMs.
bool RunUnderMemoryCap(size_t extraBytes, unsigned timeoutMs, const std::function<bool()>& fn);
