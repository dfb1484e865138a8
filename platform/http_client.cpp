#include "platform/http_client.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>

#include <curl/curl.h>

namespace {

constexpr long kMinPieceBytes = 1024;            // libcurl's smallest receive buffer
constexpr long kMaxPieceBytes = 512 * 1024;      // libcurl's largest receive buffer
constexpr double kMsPerMicrosecond = 1.0 / 1000.0;

bool GlobalInit() {
  static std::once_flag once;
  static bool ok = false;
  std::call_once(once, [] { ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
  return ok;
}

}  // namespace

struct HttpSession {
  CURL* curl = nullptr;
  HttpSessionOptions options;
  const HttpRequest* request = nullptr;  // during HttpSend
  bool aborted = false;
  uint64_t bodySent = 0;
  ~HttpSession() {
    if (curl) curl_easy_cleanup(curl);
  }
};

void HttpSessionDeleter::operator()(HttpSession* session) const { delete session; }

namespace {

size_t OnReceive(char* data, size_t size, size_t count, void* user) {
  auto* s = static_cast<HttpSession*>(user);
  const size_t bytes = size * count;
  if (s->request->stop && s->request->stop->load()) {
    s->aborted = true;
    return 0;
  }
  if (s->request->onBody) {
    long status = 0;
    curl_easy_getinfo(s->curl, CURLINFO_RESPONSE_CODE, &status);
    if (!s->request->onBody(status, reinterpret_cast<const uint8_t*>(data), bytes)) {
      s->aborted = true;
      return 0;
    }
  }
  return bytes;
}

size_t OnSend(char* buffer, size_t size, size_t count, void* user) {
  auto* s = static_cast<HttpSession*>(user);
  if (s->request->stop && s->request->stop->load()) {
    s->aborted = true;
    return CURL_READFUNC_ABORT;
  }
  const uint64_t left = s->request->bodyBytes - s->bodySent;
  const size_t max = static_cast<size_t>(std::min<uint64_t>(size * count, left));
  if (max == 0) return 0;
  if (!s->request->bodySource) {
    s->aborted = true;
    return CURL_READFUNC_ABORT;
  }
  const size_t n = s->request->bodySource(reinterpret_cast<uint8_t*>(buffer), max);
  if (n == kHttpAbortBody || n > max) {
    s->aborted = true;
    return CURL_READFUNC_ABORT;
  }
  s->bodySent += n;
  return n;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto* s = static_cast<HttpSession*>(user);
  if (s->request->stop && s->request->stop->load()) {
    s->aborted = true;
    return 1;
  }
  return 0;
}

HttpError Classify(CURLcode code, bool aborted) {
  if (code == CURLE_OK) return HttpError::kNone;
  if (aborted) return HttpError::kAborted;
  switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
      return HttpError::kTimedOut;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
      return HttpError::kCannotConnect;
    case CURLE_ABORTED_BY_CALLBACK:
    case CURLE_WRITE_ERROR:
      return HttpError::kAborted;
    default:
      return HttpError::kFailed;
  }
}

}  // namespace

bool SplitHttpUrl(const std::string& url, std::string* scheme, std::string* host, int* port) {
  constexpr size_t kMaxHost = 256;
  CURLU* u = curl_url();
  if (!u) return false;
  bool ok = curl_url_set(u, CURLUPART_URL, url.c_str(), CURLU_DEFAULT_PORT) == CURLUE_OK;
  char* part = nullptr;
  if (ok && (ok = curl_url_get(u, CURLUPART_SCHEME, &part, 0) == CURLUE_OK)) {
    *scheme = part;
    curl_free(part);
    ok = *scheme == "http" || *scheme == "https";
  }
  if (ok && (ok = curl_url_get(u, CURLUPART_HOST, &part, 0) == CURLUE_OK)) {
    *host = part;
    curl_free(part);
    ok = !host->empty() && host->size() <= kMaxHost;
  }
  if (ok && (ok = curl_url_get(u, CURLUPART_PORT, &part, CURLU_DEFAULT_PORT) == CURLUE_OK)) {
    *port = std::atoi(part);
    curl_free(part);
    ok = *port > 0 && *port < 65536;
  }
  curl_url_cleanup(u);
  return ok;
}

HttpSessionPtr HttpOpenSession(const HttpSessionOptions& options) {
  if (!GlobalInit()) return nullptr;
  HttpSessionPtr s(new HttpSession);
  s->options = options;
  s->curl = curl_easy_init();
  if (!s->curl) return nullptr;
  return s;
}

HttpResponse HttpSend(HttpSession& s, const HttpRequest& request) {
  HttpResponse response;
  CURL* c = s.curl;
  s.request = &request;
  s.aborted = false;
  s.bodySent = 0;

  curl_slist* headers = nullptr;
  for (const std::string& h : request.headers) headers = curl_slist_append(headers, h.c_str());
  if (request.bypassCache) {
    headers = curl_slist_append(headers, "Cache-Control: no-cache");
    headers = curl_slist_append(headers, "Pragma: no-cache");
  }

  curl_easy_setopt(c, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(c, CURLOPT_USERAGENT, s.options.userAgent.c_str());
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS,
                   static_cast<long>(s.options.resolveTimeoutMs + s.options.connectTimeoutMs));
  const unsigned stallMs = std::max(s.options.sendTimeoutMs, s.options.receiveTimeoutMs);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, static_cast<long>(std::max(1u, s.options.lowSpeedBytesPerSecond)));
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, static_cast<long>((stallMs + 999) / 1000));
  curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(s.options.totalTimeoutMs));
  if (s.options.noProxy) curl_easy_setopt(c, CURLOPT_PROXY, "");
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, s.options.maxRedirects > 0 ? 1L : 0L);
  curl_easy_setopt(c, CURLOPT_MAXREDIRS, static_cast<long>(std::max(0, s.options.maxRedirects)));
  const char* schemes = s.options.httpsOnly ? "https" : "http,https";
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, schemes);
  curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, schemes);
  curl_easy_setopt(c, CURLOPT_BUFFERSIZE,
                   std::clamp(static_cast<long>(request.pieceBytes), kMinPieceBytes, kMaxPieceBytes));
  if (const char* caFile = std::getenv("SSL_CERT_FILE"); caFile && *caFile)
    curl_easy_setopt(c, CURLOPT_CAINFO, caFile);
  if (const char* caDir = std::getenv("SSL_CERT_DIR"); caDir && *caDir)
    curl_easy_setopt(c, CURLOPT_CAPATH, caDir);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, OnReceive);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &s);
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, OnProgress);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, &s);
  if (request.post) {
    // Without "Expect:" libcurl waits for a 100 Continue that simple servers never send.
    headers = curl_slist_append(headers, "Expect:");
    curl_easy_setopt(c, CURLOPT_POST, 1L);
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, nullptr);
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.bodyBytes));
    curl_easy_setopt(c, CURLOPT_READFUNCTION, OnSend);
    curl_easy_setopt(c, CURLOPT_READDATA, &s);
  } else {
    curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
  }
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers);

  const CURLcode code = curl_easy_perform(c);
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, nullptr);
  curl_slist_free_all(headers);
  s.request = nullptr;

  response.error = Classify(code, s.aborted);
  if (code != CURLE_OK) response.detail = curl_easy_strerror(code);
  long status = 0;
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
  response.status = status;
  curl_off_t firstByteUs = 0;
  curl_easy_getinfo(c, CURLINFO_STARTTRANSFER_TIME_T, &firstByteUs);
  response.headersMs = static_cast<double>(firstByteUs) * kMsPerMicrosecond;
  return response;
}
