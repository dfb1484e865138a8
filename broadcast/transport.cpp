#include "broadcast/transport.h"

#include <algorithm>
#include <cstring>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "platform/text.h"

namespace {

void SetError(std::wstring* error, std::wstring text) {
  if (error) *error = std::move(text);
}

bool SendRaw(Publisher& p, const uint8_t* data, size_t size) {
  return NetSendAll(p.socket, data, size, kMaxPlainPieceBytes, p.bytesSent);
}

// One receive of encrypted bytes into rawIn (replacing what it held); false when the socket
// closed, failed or timed out.
bool ReceiveRaw(Publisher& p) {
  p.rawIn.resize(kTlsReceiveBytes);
  const long n = NetReceiveSome(p.socket, p.rawIn.data(), p.rawIn.size());
  p.rawIn.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return n > 0;
}

bool TlsHandshake(Publisher& p, std::wstring* error) {
  const std::wstring closed = L"The server closed the secure connection";
  uint32_t code = 0;
  p.session = TlsClientNew(WideToUtf8(p.host), &code);
  if (!p.session) {
    SetError(error, L"The system couldn't start a secure connection");
    return false;
  }
  p.rawIn.clear();
  std::vector<uint8_t> token;
  for (;;) {
    token.clear();
    const TlsOutcome r = TlsClientHandshake(*p.session, p.rawIn.data(), p.rawIn.size(), &token);
    p.rawIn.clear();
    const bool sent = token.empty() || SendRaw(p, token.data(), token.size());
    switch (r.status) {
      case TlsStatus::kCertificateBad:
        SetError(error, L"The server's security certificate isn't valid: " + Utf8ToWide(TlsCertificateProblem(*p.session)));
        return false;
      case TlsStatus::kFailed:
      case TlsStatus::kClosed:
        SetError(error, fmt::format(L"The secure connection failed (0x{:08X})", r.code));
        return false;
      case TlsStatus::kDone:
        if (!sent) break;
        p.tlsOut.reserve(kTlsMaxRecordPlainBytes + 1024);
        return true;
      case TlsStatus::kNeedInput:
        if (sent && ReceiveRaw(p)) continue;
        break;
    }
    SetError(error, closed);
    return false;
  }
}

// Decrypts at least one more byte into plainIn (emptied first by the caller); false when the
// connection ended or failed first.
bool DecryptMore(Publisher& p) {
  TlsOutcome r = TlsClientDecrypt(*p.session, nullptr, 0, &p.plainIn);
  while (r.status == TlsStatus::kNeedInput) {
    if (!ReceiveRaw(p)) return false;
    r = TlsClientDecrypt(*p.session, p.rawIn.data(), p.rawIn.size(), &p.plainIn);
  }
  return r.status == TlsStatus::kDone;
}

void ResetChunkState(Publisher& p) {
  p.inChunkSize = 128;
  p.outChunkSize = 128;
  p.chunkStreams.clear();
  p.partialBytes = 0;
  p.bytesReceived = 0;
  p.bytesAtLastAck = 0;
  p.windowAckSize = 0;
  p.readProblem.clear();
}

}  // namespace

Publisher::~Publisher() { CloseConnection(*this); }

void AppendU32BE(std::vector<uint8_t>& buffer, uint32_t value) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                            static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
  buffer.insert(buffer.end(), bytes, bytes + 4);
}

bool OpenConnection(Publisher& p, const std::wstring& host, int port, bool tls, std::wstring* error) {
  CloseConnection(p);
  p.host = host;
  p.tls = tls;
  const std::wstring couldnt = fmt::format(L"Couldn't connect to {}:{}", host, port);
  NetSocket s = kNoSocket;
  const NetConnectResult r =
      (port >= 1 && port <= 65535)
          ? NetConnect(WideToUtf8(host), port, kSocketTimeoutMs, kSocketTimeoutMs, &p.stopRequested, &s)
          : NetConnectResult::kNotConnected;
  if (r == NetConnectResult::kNotResolved) {
    SetError(error, L"Can't find the server \u201C" + host + L"\u201D (is the internet connected?)");
    return false;
  }
  if (r != NetConnectResult::kConnected) {
    SetError(error, couldnt);
    return false;
  }
  // RTMP's set-up is a chain of small commands, each waiting for its answer.
  NetSetNoDelay(s);
  {
    std::lock_guard lock(p.socketLock);
    p.socket = s;
  }
  // A stop that came while connecting found no socket to shut down.
  if (p.stopRequested.load()) {
    CloseConnection(p);
    SetError(error, couldnt);
    return false;
  }
  p.connected = true;
  return !tls || SecureConnection(p, error);
}

bool SecureConnection(Publisher& p, std::wstring* error) {
  p.tls = true;
  if (p.connected && TlsHandshake(p, error)) return true;
  if (!p.connected) SetError(error, L"The server closed the secure connection");
  CloseConnection(p);
  return false;
}

void AdoptConnection(Publisher& p, NetSocket socket) {
  CloseConnection(p);
  std::lock_guard lock(p.socketLock);
  p.socket = socket;
  p.connected = socket != kNoSocket;
  p.tls = false;
}

bool SendBytes(Publisher& p, const uint8_t* data, size_t length) {
  if (!p.connected) return false;
  if (!p.tls) return SendRaw(p, data, length);
  if (!p.session) return false;
  for (size_t done = 0; done < length;) {
    const size_t piece = std::min(length - done, kTlsMaxRecordPlainBytes);
    p.tlsOut.clear();
    if (TlsClientEncrypt(*p.session, data + done, piece, &p.tlsOut).status != TlsStatus::kDone ||
        !SendRaw(p, p.tlsOut.data(), p.tlsOut.size()))
      return false;
    done += piece;
  }
  return true;
}

bool ReceiveBytes(Publisher& p, uint8_t* buffer, size_t length) {
  if (!p.connected) return false;
  if (!p.tls) return NetReceiveExact(p.socket, buffer, length, kMaxPlainPieceBytes);
  if (!p.session) return false;
  for (size_t done = 0; done < length;) {
    if (p.plainPos < p.plainIn.size()) {
      const size_t n = std::min(length - done, p.plainIn.size() - p.plainPos);
      std::memcpy(buffer + done, p.plainIn.data() + p.plainPos, n);
      p.plainPos += n;
      done += n;
      continue;
    }
    p.plainIn.clear();
    p.plainPos = 0;
    if (!DecryptMore(p)) return false;
  }
  return true;
}

bool InputPending(Publisher& p) {
  if (!p.connected) return false;
  if (!p.tls) return NetReadable(p.socket, 0);
  if (!p.session) return false;
  if (p.plainPos < p.plainIn.size()) return true;
  p.plainIn.clear();
  p.plainPos = 0;
  // Records without data (session tickets) make the socket readable: decrypt what is here now,
  // so that a read never waits for data that is not coming.
  TlsOutcome r = TlsClientDecrypt(*p.session, nullptr, 0, &p.plainIn);
  while (r.status == TlsStatus::kNeedInput && NetReadable(p.socket, 0)) {
    if (!ReceiveRaw(p)) return true;  // the end of the stream: let the read report it
    r = TlsClientDecrypt(*p.session, p.rawIn.data(), p.rawIn.size(), &p.plainIn);
  }
  return r.status != TlsStatus::kNeedInput;
}

void CloseConnection(Publisher& p) {
  p.session.reset();
  {
    std::lock_guard lock(p.socketLock);
    NetDiscardPending(p.socket);
    NetClose(p.socket);
    p.socket = kNoSocket;
  }
  p.connected = false;
  p.rawIn.clear();
  p.plainIn.clear();
  p.plainPos = 0;
  p.tlsOut.clear();
  ResetChunkState(p);
}

void StopConnection(Publisher& p) {
  std::lock_guard lock(p.socketLock);
  p.stopRequested = true;
  NetShutdown(p.socket);
}
