#include "karaoke/lyrics_online.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cwctype>
#include <mutex>
#include <optional>

#include "base/json.h"
#include "base/log.h"
#include "base/text_parse.h"
#include "karaoke/lrc.h"
#include "platform/http_client.h"
#include "platform/text.h"

namespace {

const char* const kUserAgent = "Veldmix/" VELDMIX_VERSION " (https://veldmix.app)";
const char* const kServerVariable = "VELDMIX_LRCLIB_SERVER";

constexpr long kStatusOk = 200;
constexpr long kStatusNotFound = 404;
constexpr double kSyncedScore = 100.0;     // a search candidate with timed words
constexpr double kMaxDurationPenalty = 60.0;  // seconds off the track's duration, at most
constexpr double kNoScore = -1e9;
constexpr size_t kLoggedExcerptChars = 120;  // of a body that is not the JSON expected

constexpr int32_t kJsonBool = 1, kJsonNumber = 2, kJsonString = 3, kJsonArray = 4, kJsonObject = 5;

// Each bracket kind is searched for a noise-holding part in this order.
constexpr std::pair<wchar_t, wchar_t> kBrackets[] = {{L'(', L')'}, {L'[', L']'}, {L'{', L'}'}};
constexpr std::wstring_view kTitleTail = L" - ";

std::mutex serverLock;
std::optional<std::string> serverOverride;  // guarded by serverLock

std::string WithoutTrailingSlashes(std::string_view base) {
  while (!base.empty() && base.back() == '/') base.remove_suffix(1);
  return std::string(base);
}

// The member's text when it is a string, else empty.
std::wstring StringMember(const JsonValue& object, const wchar_t* key) {
  const JsonValue* value = JsonFind(object, key);
  return value && value->kind == kJsonString ? value->string : std::wstring();
}

// The body as the JSON value of the wanted kind; false (and a log line) otherwise.
bool ParseAnswer(const std::string& body, int32_t wantedKind, JsonValue* out) {
  if (JsonParse(Utf8ToWide(body), out) && out->kind == wantedKind) return true;
  WriteLog(L"Lyrics: LRCLIB answered {} bytes that are not the JSON expected: {}", body.size(),
           PrintableExcerpt(body, kLoggedExcerptChars));
  *out = JsonValue();
  return false;
}

UiText NoLyricsMessage(const std::wstring& title) { return UiFormat(L"LRCLIB has no lyrics for \u201C{}\u201D", title); }

UiText CouldNotReachMessage() {
  return UiFormat(L"Couldn't reach {} \u2014 check the internet connection", LrclibHostName());
}

// The best search candidate: timed words first, then the duration nearest the track's; the first
// of equal scores. False when no element has words.
bool BestCandidate(const JsonValue& results, double duration, JsonValue* record) {
  double best = kNoScore;
  const JsonValue* chosen = nullptr;
  for (const JsonValue& candidate : results.items) {
    if (candidate.kind != kJsonObject) continue;
    const bool synced = !StringMember(candidate, L"syncedLyrics").empty();
    if (!synced && StringMember(candidate, L"plainLyrics").empty()) continue;
    double score = synced ? kSyncedScore : 0.0;
    const JsonValue* length = JsonFind(candidate, L"duration");
    if (duration > 0.0 && length && length->kind == kJsonNumber)
      score -= std::min(std::fabs(length->number - duration), kMaxDurationPenalty);
    if (score > best) {
      best = score;
      chosen = &candidate;
    }
  }
  if (!chosen) return false;
  *record = *chosen;
  return true;
}

}  // namespace

std::string LrclibServer() {
  {
    std::lock_guard<std::mutex> hold(serverLock);
    if (serverOverride) return *serverOverride;
  }
  if (const char* base = std::getenv(kServerVariable); base && *base) return WithoutTrailingSlashes(base);
  return kLrclibDefaultServer;
}

void SetLrclibServer(std::string_view base) {
  std::lock_guard<std::mutex> hold(serverLock);
  if (base.empty())
    serverOverride.reset();
  else
    serverOverride = WithoutTrailingSlashes(base);
}

std::wstring LrclibHostName() {
  const std::string server = LrclibServer();
  std::string_view rest = server;
  if (const size_t scheme = rest.find("://"); scheme != std::string_view::npos) rest.remove_prefix(scheme + 3);
  rest = rest.substr(0, rest.find_first_of("/?#"));
  if (const size_t at = rest.rfind('@'); at != std::string_view::npos) rest.remove_prefix(at + 1);
  if (rest.starts_with('[')) {  // an IPv6 literal keeps its brackets, loses its port
    const size_t close = rest.find(']');
    return Utf8ToWide(close == std::string_view::npos ? rest : rest.substr(0, close + 1));
  }
  return Utf8ToWide(rest.substr(0, rest.find(':')));
}

bool LrclibGet(const std::string& path, long* status, std::string* body) {
  *status = 0;
  body->clear();
  HttpSessionOptions options;
  options.userAgent = kUserAgent;
  options.resolveTimeoutMs = kLrclibResolveTimeoutMs;
  options.connectTimeoutMs = kLrclibConnectTimeoutMs;
  options.sendTimeoutMs = kLrclibSendTimeoutMs;
  options.receiveTimeoutMs = kLrclibReceiveTimeoutMs;
  const HttpSessionPtr session = HttpOpenSession(options);
  if (!session) {
    WriteLog(L"Lyrics: the HTTP library could not start");
    return false;
  }
  HttpRequest request;
  request.url = LrclibServer() + path;
  bool capped = false;
  request.onBody = [&](long, const uint8_t* data, size_t size) {
    body->append(reinterpret_cast<const char*>(data), size);
    capped = body->size() > kMaxLrclibBodyBytes;
    return !capped;
  };
  const HttpResponse response = HttpSend(*session, request);
  if (response.error == HttpError::kNone || (response.error == HttpError::kAborted && capped)) {
    *status = response.status;
    return true;
  }
  WriteLog(L"Lyrics: GET {} failed (error {})", Utf8ToWide(request.url), static_cast<int>(response.error));
  body->clear();
  return false;
}

Lyrics LookUpLrclib(const std::wstring& artistText, const std::wstring& titleText, double duration,
                    UiText* message) {
  const std::wstring artist = TrimText(artistText);
  const std::wstring title = CleanTitle(titleText);
  if (title.empty()) {
    *message = L"The track has no title to look up";
    return {};
  }
  if (!std::isfinite(duration)) duration = 0.0;

  long status = 0;
  std::string body;
  JsonValue record;
  bool haveRecord = false;
  if (!artist.empty()) {
    std::string path = "/api/get?artist_name=" + UrlEncode(artist) + "&track_name=" + UrlEncode(title);
    if (duration > 0.0) path += "&duration=" + std::to_string(std::llround(std::min(duration, kMaxLyricSeconds)));
    if (!LrclibGet(path, &status, &body)) {
      *message = CouldNotReachMessage();
      return {};
    }
    haveRecord = status == kStatusOk && ParseAnswer(body, kJsonObject, &record);
  }
  if (!haveRecord) {
    std::string path = "/api/search?track_name=" + UrlEncode(title);
    if (!artist.empty()) path += "&artist_name=" + UrlEncode(artist);
    if (!LrclibGet(path, &status, &body)) {
      *message = CouldNotReachMessage();
      return {};
    }
    JsonValue results;
    haveRecord = status == kStatusOk && ParseAnswer(body, kJsonArray, &results) &&
                 BestCandidate(results, duration, &record);
  }
  if (!haveRecord) {
    if (status == 0 || status == kStatusNotFound || status == kStatusOk)
      *message = NoLyricsMessage(title);
    else
      *message = UiFormat(L"{} answered {} \u2014 try again later", LrclibHostName(), status);
    return {};
  }

  if (const JsonValue* instrumental = JsonFind(record, L"instrumental");
      instrumental && instrumental->kind == kJsonBool && instrumental->number != 0.0) {
    *message = UiFormat(L"LRCLIB lists \u201C{}\u201D as an instrumental", title);
    return {};
  }
  std::wstring text = StringMember(record, L"syncedLyrics");
  if (text.empty()) text = StringMember(record, L"plainLyrics");
  Lyrics lyrics = ParseLrcWithSource(text, L"LRCLIB (" + LrclibHostName() + L")");
  if (lyrics.kind == LyricsKind::None) {
    *message = NoLyricsMessage(title);
    return {};
  }
  *message = UiText();
  return lyrics;
}

bool HasNoiseWord(std::wstring_view text) {
  std::wstring lower(text);
  for (wchar_t& c : lower) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
  return std::any_of(std::begin(kTitleNoiseWords), std::end(kTitleNoiseWords),
                     [&](const wchar_t* word) { return lower.find(word) != std::wstring::npos; });
}

std::wstring CleanTitle(std::wstring_view titleText) {
  std::wstring title(titleText);
  for (const auto& [open, close] : kBrackets) {
    for (;;) {
      const size_t from = title.find(open);
      if (from == std::wstring::npos) break;
      const size_t to = title.find(close, from + 1);
      if (to == std::wstring::npos) break;
      if (!HasNoiseWord(std::wstring_view(title).substr(from, to - from + 1))) break;
      title.erase(from, to - from + 1);
    }
  }
  if (const size_t tail = title.find(kTitleTail);
      tail != std::wstring::npos && HasNoiseWord(std::wstring_view(title).substr(tail)))
    title.erase(tail);
  return TrimText(title);
}
