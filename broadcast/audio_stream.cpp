#include "broadcast/audio_stream.h"

#include <algorithm>
#include <cassert>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "base/log.h"
#include "base/text_parse.h"
#include "engine/recorder.h"
#include "engine/wav_file.h"
#include "platform/clock.h"
#include "platform/mp3_encoder.h"
#include "platform/text.h"

namespace {

constexpr int64_t kTicksPerSecond = 10000000;  // 100-ns units
constexpr int kBytesPerFrame = 4;              // 16-bit stereo
constexpr int kMinPort = 1, kMaxPort = 65535;
constexpr size_t kServerSaidMaxChars = 160;    // of a server's own words in the status text
// On air with no output this long, the stream ends: listeners would hear nothing. Longer than a
// device reopening after a change of the default device.
constexpr uint64_t kOutputGoneMs = 2000;
constexpr const wchar_t* kNoOutputText = L"No audio output is running";
const char* const kDefaultMount = "/live";

// --- Streamer state ---
StreamConfig activeConfig;        // written by StartLiveStream only while no thread runs
AudioEngine* streamEngine = nullptr;
std::thread streamThread;
std::atomic<bool> stopFlag{false};
std::atomic<int32_t> streamState{kStreamOff};
std::atomic<uint64_t> bytesSent{0};
std::atomic<uint64_t> onAirTick{0};
std::mutex statusLock;
UiText statusText;
// The stream's socket while it is open, so that a stopper can shut it down. The thread closes it
// only after taking it out under the lock, so a stopper never touches a reused descriptor.
std::mutex socketLock;
NetSocket liveSocket = kNoSocket;
// Title updates: one connection at a time; titles that come meanwhile replace each other, so a
// burst of changes ends in one request with the newest title.
struct TitleJob {
  StreamConfig config;
  std::wstring title;
};
std::mutex titleLock;
std::optional<TitleJob> pendingTitle;
bool titleSenderBusy = false;
std::thread titleSender;  // joined by the next sender or by StopLiveStream, never left running

void SetStatus(const UiText& text) {
  std::lock_guard<std::mutex> guard(statusLock);
  statusText = text;
}

void PublishSocket(NetSocket socket) {
  std::lock_guard<std::mutex> guard(socketLock);
  liveSocket = socket;
  if (stopFlag.load()) NetShutdown(socket);  // a stop came while connecting
}

void CloseSocket(NetSocket socket) {
  {
    std::lock_guard<std::mutex> guard(socketLock);
    if (liveSocket == socket) liveSocket = kNoSocket;
  }
  NetClose(socket);
}

// Header values go out on one line (control characters would break or forge headers) and in
// Latin-1: servers read header bytes as Latin-1, so UTF-8 would show as "CafÃ©". A character
// Latin-1 lacks becomes "?".
std::string HeaderValue(const std::wstring& text) {
  constexpr wchar_t kLastLatin1 = 0xFF;
  std::string value;
  value.reserve(text.size());
  for (const wchar_t c : text) {
    if (c < 0x20 || (c >= 0x7F && c < 0xA0)) value += ' ';
    else if (c > kLastLatin1) value += '?';
    else value += static_cast<char>(static_cast<unsigned char>(c));
  }
  return value;
}

std::string Credentials(const StreamConfig& config) {
  return Base64Encode(WideToUtf8(config.User) + ":" + WideToUtf8(config.Password));
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

// The reply's first line, cut at CR or LF, made printable and clipped for the status line.
std::wstring FirstLineExcerpt(std::string_view reply) {
  const size_t end = reply.find_first_of("\r\n");
  return PrintableExcerpt(reply.substr(0, end), kServerSaidMaxChars);
}

// Waits up to kStreamRetryWaitMs in steps, leaving early when stopped.
void WaitBeforeRetry() {
  for (unsigned waited = 0; waited < kStreamRetryWaitMs && !stopFlag.load();
       waited += kStreamRetryStepMs)
    SleepMs(kStreamRetryStepMs);
}

}  // namespace

// --- Control and status ---------------------------------------------------------------------

void StartLiveStream(AudioEngine& engine, const StreamConfig& config) {
  assert(&engine == &Engine && "the streaming tap belongs to the process's Engine");
  AssertNotAudioThread();
  StopLiveStream();
  streamEngine = &engine;
  activeConfig = config;
  bytesSent.store(0);
  stopFlag.store(false);
  SetStatus(L"");
  streamState.store(kStreamConnecting);
  streamThread = std::thread(LiveStreamThread);
}

void StopLiveStream() {
  assert(!(streamThread.joinable() && streamThread.get_id() == std::this_thread::get_id()) &&
         "StopLiveStream from the streamer thread would join itself");
  AssertNotAudioThread();
  stopFlag.store(true);
  {
    std::lock_guard<std::mutex> guard(socketLock);
    NetShutdown(liveSocket);
  }
  if (streamThread.joinable()) streamThread.join();
  streamState.store(kStreamOff);
  // A title on its way ends within the connection's timeouts (or at once, stopped); none is
  // left to run into the program's exit.
  {
    std::lock_guard<std::mutex> guard(titleLock);
    pendingTitle.reset();
  }
  if (titleSender.joinable()) titleSender.join();
}

int32_t LiveStreamState() { return streamState.load(); }

UiText LiveStreamError() {
  std::lock_guard<std::mutex> guard(statusLock);
  return statusText;
}

double LiveStreamSeconds() {
  if (streamState.load() != kStreamOnAir) return 0.0;
  return static_cast<double>(MonotonicMs() - onAirTick.load()) / 1000.0;
}

uint64_t LiveStreamBytes() { return bytesSent.load(); }

void UpdateLiveStreamTitle(const std::wstring& title) {
  AssertNotAudioThread();
  if (streamState.load() != kStreamOnAir) return;
  std::lock_guard<std::mutex> guard(titleLock);
  pendingTitle = TitleJob{activeConfig, title};
  if (titleSenderBusy) return;  // the running sender takes the newest title when it is done
  titleSenderBusy = true;
  if (titleSender.joinable()) titleSender.join();  // finished: it cleared the busy flag
  titleSender = std::thread([] {
    std::unique_lock<std::mutex> hold(titleLock);
    while (pendingTitle && !stopFlag.load()) {
      const TitleJob job = std::move(*pendingTitle);
      pendingTitle.reset();
      hold.unlock();
      SendStreamTitle(job.config, job.title);
      hold.lock();
    }
    titleSenderBusy = false;
  });
}

// --- Connection -----------------------------------------------------------------------------

NetSocket ConnectTcp(const std::wstring& host, int port, UiText& error,
                     const std::atomic<bool>* stop, std::wstring* why) {
  const std::wstring where = host + L":" + std::to_wstring(port);
  if (port < kMinPort || port > kMaxPort) {
    error = L"Couldn't connect to " + where;
    if (why) *why = L"the port is out of range";
    return kNoSocket;
  }
  NetSocket socket = kNoSocket;
  std::string reason;
  const NetConnectResult result =
      NetConnect(WideToUtf8(host), port, kStreamConnectTimeoutMs, kStreamIoTimeoutMs, stop, &socket, &reason);
  if (why) *why = Utf8ToWide(reason);
  switch (result) {
    case NetConnectResult::kConnected:
      return socket;
    case NetConnectResult::kNotResolved:
      error = UiFormat(L"Can't find the server \u201C{}\u201D", host);
      return kNoSocket;
    case NetConnectResult::kNotConnected:
    case NetConnectResult::kStopped:
      break;
  }
  error = L"Couldn't connect to " + where;
  return kNoSocket;
}

bool SendAll(NetSocket socket, const uint8_t* bytes, size_t length) {
  return NetSendAll(socket, bytes, length, kStreamSendPieceBytes, &bytesSent);
}

std::string ReadServerReply(NetSocket socket) {
  std::string text;
  uint8_t chunk[kReplyChunkBytes];
  for (;;) {
    const long n = NetReceiveSome(socket, chunk, sizeof chunk);
    if (n <= 0) break;
    text.append(reinterpret_cast<const char*>(chunk), static_cast<size_t>(n));
    const bool headed = text.find("\r\n\r\n") != std::string::npos || text.find("\n\n") != std::string::npos;
    // A refusal carries its cause in the body (Icecast: "too many sources connected") and
    // closes the connection after it.
    constexpr int kFirstErrorCode = 400;
    if ((headed && ReplyStatusCode(text) < kFirstErrorCode) || text.size() >= kReplyMaxBytes ||
        (StartsWith(text, "OK2") && text.find('\n') != std::string::npos))
      break;
  }
  return text;
}

NetSocket ConnectStreamServer(const StreamConfig& config, UiText& error, std::wstring* why) {
  const bool shoutcast = config.Type != 0;
  // Shoutcast v1 sources log in on the port above the listeners' one.
  NetSocket socket =
      ConnectTcp(config.Host, shoutcast ? config.Port + 1 : config.Port, error, &stopFlag, why);
  if (socket == kNoSocket) return kNoSocket;
  PublishSocket(socket);
  auto fail = [&](const std::wstring& message) {
    CloseSocket(socket);
    error = message;
    return kNoSocket;
  };
  if (shoutcast) {
    const std::string login = WideToUtf8(config.Password) + "\r\n";
    if (!SendAll(socket, reinterpret_cast<const uint8_t*>(login.data()), login.size()))
      return fail(L"The server closed the connection");
    const std::wstring refused = ShoutcastReplyError(ReadServerReply(socket));
    if (!refused.empty()) return fail(refused);
    const std::string headers = ShoutcastIcyHeaders(config);
    if (!SendAll(socket, reinterpret_cast<const uint8_t*>(headers.data()), headers.size()))
      return fail(L"The server closed the connection");
    return socket;
  }
  const std::string request = IcecastSourceRequest(config);
  if (!SendAll(socket, reinterpret_cast<const uint8_t*>(request.data()), request.size()))
    return fail(L"The server closed the connection");
  const std::wstring refused = IcecastReplyError(ReadServerReply(socket));
  if (!refused.empty()) return fail(refused);
  return socket;
}

// --- Requests and replies -------------------------------------------------------------------

std::string StreamMount(const StreamConfig& config) {
  std::string mount = config.Mount.empty() ? kDefaultMount : WideToUtf8(config.Mount);
  if (mount.front() != '/') mount.insert(mount.begin(), '/');
  return mount;
}

std::string IcecastSourceRequest(const StreamConfig& config) {
  // The mount sits in the request line: blanks or line breaks in it would split the request.
  std::string mount = StreamMount(config);
  for (char& c : mount)
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) c = '_';
  return "SOURCE " + mount + " HTTP/1.0\r\nAuthorization: Basic " + Credentials(config) +
         "\r\nUser-Agent: Veldmix\r\nContent-Type: audio/mpeg\r\nice-name: " +
         HeaderValue(config.Name) + "\r\nice-public: 0\r\nice-audio-info: ice-bitrate=" +
         std::to_string(config.Bitrate) + ";ice-channels=2\r\n\r\n";
}

std::string ShoutcastIcyHeaders(const StreamConfig& config) {
  return "icy-name:" + HeaderValue(config.Name) + "\r\nicy-genre:DJ mix\r\nicy-pub:0\r\nicy-br:" +
         std::to_string(config.Bitrate) + "\r\ncontent-type:audio/mpeg\r\n\r\n";
}

std::string StreamTitleRequest(const StreamConfig& config, const std::wstring& title) {
  const std::string song = PercentEncode(WideToUtf8(title));
  if (config.Type != 0)
    return "GET /admin.cgi?pass=" + PercentEncode(WideToUtf8(config.Password)) +
           "&mode=updinfo&song=" + song + " HTTP/1.0\r\nUser-Agent: Mozilla/5.0 (Veldmix)\r\n\r\n";
  // Without the charset Icecast takes the title as Latin-1 and stores it double-encoded.
  return "GET /admin/metadata?mount=" + PercentEncode(StreamMount(config)) +
         "&mode=updinfo&song=" + song + "&charset=UTF-8 HTTP/1.0\r\nAuthorization: Basic " +
         Credentials(config) + "\r\nUser-Agent: Veldmix\r\n\r\n";
}

int ReplyStatusCode(std::string_view reply) {
  const std::string_view line = reply.substr(0, reply.find_first_of("\r\n"));
  const size_t blank = line.find(' ');
  if (blank == std::string_view::npos) return -1;
  std::string_view rest = line.substr(blank);
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  constexpr size_t kCodeDigits = 3;
  if (rest.size() < kCodeDigits) return -1;
  int code = 0;
  for (size_t i = 0; i < kCodeDigits; ++i) {
    if (rest[i] < '0' || rest[i] > '9') return -1;
    code = code * 10 + (rest[i] - '0');
  }
  if (rest.size() > kCodeDigits && rest[kCodeDigits] != ' ') return -1;
  return code;
}

namespace {

// The cause a refusing server names: the first line of the reply's body, else the status line's
// words past the code; empty when those are only the status's own name.
std::wstring RefusalCause(std::string_view reply) {
  size_t body = reply.find("\r\n\r\n");
  body = body == std::string_view::npos ? reply.find("\n\n") : body;
  std::string_view cause;
  if (body != std::string_view::npos) {
    cause = reply.substr(body);
    while (!cause.empty() && (cause.front() == '\r' || cause.front() == '\n')) cause.remove_prefix(1);
    cause = cause.substr(0, cause.find_first_of("\r\n"));
  }
  if (cause.empty()) {
    const std::string_view line = reply.substr(0, reply.find_first_of("\r\n"));
    constexpr size_t kCodeEnd = 4;  // " 403"
    const size_t code = line.find(' ');
    if (code != std::string_view::npos && code + kCodeEnd < line.size()) cause = line.substr(code + kCodeEnd + 1);
    if (cause == "Forbidden") cause = {};
  }
  return PrintableExcerpt(cause, kServerSaidMaxChars);
}

}  // namespace

std::wstring IcecastReplyError(std::string_view reply) {
  constexpr int kOk = 200, kUnauthorized = 401, kForbidden = 403;
  const int code = ReplyStatusCode(reply);
  if (code == kOk) return L"";
  if (code == kUnauthorized) return L"Wrong username or password";
  if (code == kForbidden) {
    const std::wstring cause = RefusalCause(reply);
    if (cause.empty() || cause == L"Mountpoint in use")
      return L"The server refused that mount point (in use or not allowed)";
    return L"The server refused the stream: " + cause;
  }
  if (reply.empty()) return L"No reply from the server \u2014 is it an Icecast server?";
  return L"The server said: " + FirstLineExcerpt(reply);
}

std::wstring ShoutcastReplyError(std::string_view reply) {
  if (StartsWith(reply, "OK2")) return L"";
  if (!reply.empty()) return L"Wrong password";
  return L"No reply from the server \u2014 is it a Shoutcast server?";
}

std::string Base64Encode(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t v = static_cast<uint8_t>(bytes[i]) << 16 |
                       static_cast<uint8_t>(bytes[i + 1]) << 8 | static_cast<uint8_t>(bytes[i + 2]);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  const size_t left = bytes.size() - i;
  if (left > 0) {
    uint32_t v = static_cast<uint8_t>(bytes[i]) << 16;
    if (left == 2) v |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += left == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

// --- Encoding -------------------------------------------------------------------------------

bool OpenMp3Encoder(Mp3StreamEncoder& encoder, int sampleRate, int kbps, UiText& error) {
  encoder.transform.reset();
  encoder.sampleRate = sampleRate;
  encoder.time = 0;
  Mp3OpenFailure failure = Mp3OpenFailure::kNone;
  encoder.transform = OpenMp3Transform(sampleRate, kbps, &failure);
  switch (failure) {
    case Mp3OpenFailure::kNone:
      return true;
    case Mp3OpenFailure::kNoEncoder:
      error = L"The MP3 encoder isn't available";
      return false;
    case Mp3OpenFailure::kCannotStart:
      error = L"Couldn't start the MP3 encoder";
      return false;
    case Mp3OpenFailure::kFormatRefused:
      break;
  }
  error = L"MP3 streaming needs a 32, 44.1 or 48 kHz master output";
  return false;
}

bool EncodeMp3AndSend(Mp3StreamEncoder& encoder, const int16_t* pcm16, size_t frames,
                      NetSocket socket) {
  if (!encoder.transform || encoder.sampleRate <= 0 || frames == 0) return true;
  const int64_t duration =
      static_cast<int64_t>(frames) * kTicksPerSecond / encoder.sampleRate;
  const TransformInput taken =
      TransformProcessInput(*encoder.transform, reinterpret_cast<const uint8_t*>(pcm16),
                            frames * kBytesPerFrame, encoder.time, duration);
  encoder.time += duration;
  if (taken != TransformInput::kAccepted) return true;  // the block is dropped, the stream goes on
  for (;;) {
    EncodedSample sample;
    if (TransformProcessOutput(*encoder.transform, &sample) != TransformOutput::kSample)
      return true;
    if (!sample.data.empty() && !SendAll(socket, sample.data.data(), sample.data.size()))
      return false;
  }
}

// --- Threads --------------------------------------------------------------------------------

void LiveStreamThread() {
  const StreamConfig config = activeConfig;
  AudioEngine& engine = *streamEngine;
  std::vector<float> floats(static_cast<size_t>(kStreamReadFrames) * 2);
  std::vector<int16_t> pcm(static_cast<size_t>(kStreamReadFrames) * 2);
  Mp3StreamEncoder encoder;
  const int port = config.Type != 0 ? config.Port + 1 : config.Port;
  std::wstring lastLogged;  // the failure last written to the log; empty after a time on air

  while (!stopFlag.load()) {
    streamState.store(kStreamConnecting);
    UiText error;
    std::wstring why;
    NetSocket socket = kNoSocket;
    const int32_t rate = RunningOutputRate(engine);
    if (rate <= 0)
      error = kNoOutputText;
    else if (OpenMp3Encoder(encoder, rate, config.Bitrate, error))
      socket = ConnectStreamServer(config, error, &why);

    if (socket != kNoSocket) {
      WriteLog(L"Stream: on air at {}:{}", config.Host, port);
      lastLogged.clear();
      SetStatus(L"");
      EnableStreamTap(false);
      EnableStreamTap(true);  // a fresh, empty ring
      streamState.store(kStreamOnAir);
      onAirTick.store(MonotonicMs());
      bool sent = true, outputGone = false;
      uint64_t lastOutputMs = MonotonicMs();
      while (!stopFlag.load() && sent && !outputGone) {
        const uint64_t got = RingRead(engine.streamRing, floats.data(), kStreamReadFrames);
        if (got == 0) {
          if (RunningOutputRate(engine) > 0) lastOutputMs = MonotonicMs();
          outputGone = MonotonicMs() - lastOutputMs >= kOutputGoneMs;
          SleepMs(kStreamIdleSleepMs);
          continue;
        }
        lastOutputMs = MonotonicMs();
        for (size_t i = 0; i < got * 2; ++i) pcm[i] = WavSampleFromFloat(floats[i]);
        sent = EncodeMp3AndSend(encoder, pcm.data(), got, socket);
      }
      EnableStreamTap(false);
      CloseSocket(socket);
      if (!sent) error = L"Lost the connection to the server";
      if (outputGone) error = kNoOutputText;
    }
    if (stopFlag.load()) break;
    const std::wstring failure = why.empty() ? EnglishText(error) : EnglishText(error) + L" (" + why + L")";
    if (failure != lastLogged) {
      WriteLog(L"Stream: {}:{}: {}; retrying until the stream is stopped", config.Host, port, failure);
      lastLogged = failure;
    }
    SetStatus(error);
    streamState.store(kStreamFailed);
    WaitBeforeRetry();
    encoder.transform.reset();
  }
  EnableStreamTap(false);
  streamState.store(kStreamOff);
}

void SendStreamTitle(const StreamConfig& config, const std::wstring& title) {
  const std::string request = StreamTitleRequest(config, title);
  UiText error;
  NetSocket socket = ConnectTcp(config.Host, config.Port, error, &stopFlag);
  if (socket == kNoSocket) return;
  if (NetSendAll(socket, reinterpret_cast<const uint8_t*>(request.data()), request.size(),
                 request.size(), nullptr)) {
    uint8_t reply[kTitleReplyBytes];
    NetReceiveSome(socket, reply, sizeof reply);
  }
  NetClose(socket);
}
