#pragma once
// HTTP(S) requests through libcurl (stands in for WinHTTP). A session is one reusable connection
// with its user agent and time-outs; one thread per session. Certificates are checked against the
// system's trust store, or the file named by SSL_CERT_FILE when that is set (OpenSSL's own
// convention, which lets a private test CA be trusted). Proxies follow the usual environment
// unless a session says noProxy.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct HttpSession;
struct HttpSessionDeleter {
  void operator()(HttpSession* session) const;
};
using HttpSessionPtr = std::unique_ptr<HttpSession, HttpSessionDeleter>;

struct HttpSessionOptions {
  std::string userAgent;
  unsigned resolveTimeoutMs = 5000;
  unsigned connectTimeoutMs = 5000;   // the TCP connect and the TLS handshake
  unsigned sendTimeoutMs = 10000;     // longest stall while sending
  unsigned receiveTimeoutMs = 10000;  // longest stall while receiving
  unsigned totalTimeoutMs = 0;        // the whole request, however it trickles; 0 no limit
  bool noProxy = false;               // straight to the host, whatever the environment names
  // A transfer slower than this for the receive time-out counts as stalled (timed out).
  unsigned lowSpeedBytesPerSecond = 1;
  int maxRedirects = 0;               // redirects followed; 0 answers with the redirect itself
  bool httpsOnly = false;             // refuses every other scheme, redirects included
};

// The scheme (lower case), host and port of an absolute http or https URL (the port defaulting by
// scheme); false when the text is not one, or its host is longer than 256 characters.
bool SplitHttpUrl(const std::string& url, std::string* scheme, std::string* host, int* port);

// Null when the library cannot start.
HttpSessionPtr HttpOpenSession(const HttpSessionOptions& options);

enum class HttpError {
  kNone,           // a response arrived (any status)
  kTimedOut,       // a time-out of the session ran out
  kCannotConnect,  // no address, refused or unreachable
  kAborted,        // a callback or the stop flag ended the transfer
  kFailed,         // anything else (TLS, protocol, I/O)
};

// Returned by a body source to end the transfer.
inline constexpr size_t kHttpAbortBody = static_cast<size_t>(-1);

struct HttpRequest {
  std::string url;
  bool post = false;
  std::vector<std::string> headers;  // "Name: value"
  bool bypassCache = false;          // asks every cache on the way for a fresh answer
  // POST: the declared body length and its source, which fills up to `max` bytes and returns the
  // count, or kHttpAbortBody.
  uint64_t bodyBytes = 0;
  std::function<size_t(uint8_t* buffer, size_t max)> bodySource;
  // Each received piece of the response body with the response's status; false aborts.
  std::function<bool(long status, const uint8_t* data, size_t size)> onBody;
  size_t pieceBytes = 65536;              // receive piece size
  const std::atomic<bool>* stop = nullptr;  // ends the transfer soon after it is set
};

struct HttpResponse {
  HttpError error = HttpError::kFailed;
  long status = 0;
  double headersMs = 0.0;  // from the start of the request to the response's first byte
  std::string detail;      // the transfer's own words for an error (logs); empty without one
};

// Sends one request on the session (reusing its connection when it can) and receives the whole
// response. Blocks; never on the audio or UI thread.
HttpResponse HttpSend(HttpSession& session, const HttpRequest& request);
