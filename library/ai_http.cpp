// The set builder's two requests to the LLM server, over the platform's HTTP client.
#include "library/ai_set.h"

#include <algorithm>
#include <cstring>

#include "platform/http_client.h"
#include "platform/text.h"

namespace {
constexpr unsigned kResolveMs = 5000, kConnectMs = 5000, kSendMs = 30000;
}  // namespace

AiHttpReply AiHttpRequest(const std::wstring& url, const char* method, const char* path, const std::string& body,
                          unsigned receiveTimeoutMs, const std::atomic<bool>* stop) {
  AiHttpReply reply;
  std::string scheme, host;
  int port = 0;
  if (!SplitHttpUrl(WideToUtf8(url), &scheme, &host, &port)) {
    reply.error = L"The AI server address isn't a valid URL";
    return reply;
  }
  HttpSessionOptions options;
  options.userAgent = "Veldmix";
  options.resolveTimeoutMs = kResolveMs;
  options.connectTimeoutMs = kConnectMs;
  options.sendTimeoutMs = kSendMs;
  options.receiveTimeoutMs = receiveTimeoutMs;
  options.totalTimeoutMs = receiveTimeoutMs;  // the allowance covers the whole answer, not each stall
  options.noProxy = true;                     // the server is local; a proxy would not reach it
  HttpSessionPtr session = HttpOpenSession(options);
  if (!session) {
    reply.error = L"Couldn't start the network connection";
    return reply;
  }
  HttpRequest request;
  request.url = scheme + "://" + host + ":" + std::to_string(port) + path;
  request.post = std::strcmp(method, "POST") == 0;
  request.headers = {"Content-Type: application/json"};
  size_t sent = 0;
  if (request.post) {
    request.bodyBytes = body.size();
    request.bodySource = [&body, &sent](uint8_t* buffer, size_t max) {
      const size_t n = std::min(max, body.size() - sent);
      std::memcpy(buffer, body.data() + sent, n);
      sent += n;
      return n;
    };
  }
  bool tooLarge = false;
  request.onBody = [&reply, &tooLarge](long, const uint8_t* data, size_t size) {
    if (reply.body.size() + size > kAiMaxBodyBytes) return !(tooLarge = true);
    reply.body.append(reinterpret_cast<const char*>(data), size);
    return true;
  };
  request.stop = stop;
  const HttpResponse response = HttpSend(*session, request);
  reply.status = static_cast<int32_t>(response.status);
  if (tooLarge) {
    reply.error = UiFormat(L"{} ({})", UiText(L"The AI server returned an error"), reply.status);
    reply.body.clear();
  } else if (response.error == HttpError::kTimedOut) {
    reply.error = L"The AI took too long to answer";
  } else if (response.error == HttpError::kFailed && response.status > 0) {
    // The answer began and broke off: what arrived is the body, as a failed read ends it.
  } else if (response.error != HttpError::kNone) {
    reply.error = L"Couldn't reach the AI server";
  }
  return reply;
}
