#include "broadcast/speed_test.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <random>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/http_client.h"

namespace {

// Latency phase.
constexpr int kLatencyRequests = 6;          // the first is a warm-up
constexpr size_t kLatencyPieceBytes = 4096;
constexpr float kLatencyProgressStep = 0.01f;
// Throughput phases.
constexpr int kTransferThreads = 4;
constexpr size_t kTransferPieceBytes = 65536;
constexpr size_t kUploadPayloadBytes = 4194304;  // 4 MiB per POST
constexpr uint32_t kUploadSeed = 12345;
constexpr unsigned kTickMs = 100;
constexpr double kWindowStartSeconds = 1.0;      // the first second is warm-up
constexpr double kMinWindowSeconds = 0.05;
constexpr double kMaxPhaseSeconds = 8.0;
constexpr double kEarlyStopSeconds = 3.0;
constexpr uint64_t kDownloadEarlyStopBytes = 419430400;  // 400 MiB
constexpr uint64_t kUploadEarlyStopBytes = 104857600;    // 100 MiB
constexpr float kDownloadProgressBase = 0.06f;
constexpr float kUploadProgressBase = 0.53f;
constexpr float kPhaseProgressSpan = 0.47f;
constexpr double kPhaseProgressPerSecond = 0.125;  // a full span in 8 s
constexpr double kBitsPerByte = 8.0;
constexpr double kBitsPerMegabit = 1e6;
constexpr double kMinMbps = 0.001;  // a line that moved anything at all
constexpr long kHttpOk = 200;

const char* const kUserAgent = "Veldmix/" VELDMIX_VERSION " (https://veldmix.app)";

std::mutex currentLock;  // which run is current
std::shared_ptr<SpeedTest::Shared> current;
std::mutex serverLock;
std::string server = [] {
  // The end-to-end tests point the running program at a loopback stand-in.
  const char* base = std::getenv(kSpeedServerVariable);
  return std::string(base && *base ? base : kSpeedTestDefaultServer);
}();

using SharedPtr = std::shared_ptr<SpeedTest::Shared>;

// How the server took the uploads that were sent whole: a refusal is no slow line.
struct UploadVerdict {
  std::atomic<long> refusedStatus{0};  // the last non-200 answer to a whole upload
  std::atomic<bool> dropped{false};    // the connection ended after a whole upload, unanswered
};

bool Running(int32_t phase) { return phase >= kSpeedPhaseLatency && phase <= kSpeedPhaseUpload; }

void Fail(SpeedTest::Shared& s, const std::wstring& message) {
  std::lock_guard<std::mutex> guard(s.lock);
  s.phase = kSpeedPhaseFailed;
  s.message = message;
}

void SetPhase(SpeedTest::Shared& s, int32_t phase) {
  std::lock_guard<std::mutex> guard(s.lock);
  s.phase = phase;
}

HttpSessionOptions SessionOptions() {
  HttpSessionOptions options;
  options.userAgent = kUserAgent;
  return options;
}

HttpRequest Request(const std::string& url, size_t pieceBytes) {
  HttpRequest request;
  request.url = url;
  request.bypassCache = true;
  request.pieceBytes = pieceBytes;
  return request;
}

// The latency phase. False when the run failed (the message is set).
bool MeasureLatency(SpeedTest::Shared& s, HttpSession& session, const std::string& base) {
  HttpRequest request = Request(base + kSpeedLatencyPath, kLatencyPieceBytes);
  request.stop = &s.cancel;
  request.onBody = [](long, const uint8_t*, size_t) { return true; };
  std::vector<double> samples;
  double warmUpMs = 0.0;
  int answered = 0;
  HttpError lastError = HttpError::kNone;
  for (int i = 0; i < kLatencyRequests && !s.cancel.load(); ++i) {
    const HttpResponse r = HttpSend(session, request);
    if (r.error != HttpError::kNone) {
      lastError = r.error;
      break;
    }
    if (r.status != kHttpOk) {
      Fail(s, L"The speed test server isn't answering properly (" + std::to_wstring(r.status) + L")");
      return false;
    }
    if (i == 0)
      warmUpMs = r.headersMs;
    else
      samples.push_back(r.headersMs);
    ++answered;
    std::lock_guard<std::mutex> guard(s.lock);
    s.progress = kLatencyProgressStep * static_cast<float>(answered);
  }
  if (answered == 0 && lastError != HttpError::kNone && lastError != HttpError::kAborted) {
    Fail(s, lastError == HttpError::kTimedOut
                ? L"The speed test server took too long to answer"
                : L"Couldn't reach the speed test server \u2014 is this computer online?");
    return false;
  }
  std::sort(samples.begin(), samples.end());
  std::lock_guard<std::mutex> guard(s.lock);
  // With only the warm-up answered, its time is the one figure there is.
  s.latencyMs = samples.empty() ? warmUpMs : samples[samples.size() / 2];
  return true;
}

void DownloadWorker(const std::string& base, std::atomic<uint64_t>& counter,
                    const std::atomic<bool>& stop) {
  HttpSessionPtr session = HttpOpenSession(SessionOptions());
  if (!session) return;
  HttpRequest request = Request(base + kSpeedDownloadPath, kTransferPieceBytes);
  request.stop = &stop;
  request.onBody = [&](long status, const uint8_t*, size_t size) {
    if (status != kHttpOk) return false;
    counter.fetch_add(size);
    return !stop.load();
  };
  while (!stop.load()) {
    const HttpResponse r = HttpSend(*session, request);
    if (r.error != HttpError::kNone || r.status != kHttpOk) return;
  }
}

void UploadWorker(const std::string& base, const std::vector<uint8_t>& payload,
                  std::atomic<uint64_t>& counter, const std::atomic<bool>& stop, UploadVerdict& verdict) {
  HttpSessionPtr session = HttpOpenSession(SessionOptions());
  if (!session) return;
  HttpRequest request = Request(base + kSpeedUploadPath, kTransferPieceBytes);
  request.post = true;
  request.headers.push_back("Content-Type: application/octet-stream");
  request.bodyBytes = payload.size();
  request.stop = &stop;
  request.onBody = [](long, const uint8_t*, size_t) { return true; };
  size_t offset = 0;
  request.bodySource = [&](uint8_t* buffer, size_t max) -> size_t {
    if (stop.load()) return kHttpAbortBody;
    const size_t n = std::min({max, kTransferPieceBytes, payload.size() - offset});
    std::copy_n(payload.data() + offset, n, buffer);
    offset += n;
    counter.fetch_add(n);
    return n;
  };
  while (!stop.load()) {
    offset = 0;
    const HttpResponse r = HttpSend(*session, request);
    if (r.error == HttpError::kNone && r.status == kHttpOk) continue;
    if (stop.load()) return;  // ended by us, not by the server
    if (r.error == HttpError::kNone)
      verdict.refusedStatus.store(r.status);
    else if (offset == payload.size() && r.error != HttpError::kAborted)
      verdict.dropped.store(true);
    return;
  }
}

// One throughput phase; megabits per second, at least kMinMbps when anything moved, else 0.
double MeasureThroughput(SpeedTest::Shared& s, const std::string& base, bool upload, UploadVerdict& verdict) {
  std::vector<uint8_t> payload;
  if (upload) {
    payload.resize(kUploadPayloadBytes);
    std::mt19937 generator(kUploadSeed);
    for (uint8_t& byte : payload) byte = static_cast<uint8_t>(generator() & 0xFF);
  }
  std::atomic<uint64_t> counter{0};
  std::atomic<bool> stop{false};
  std::vector<std::thread> workers;
  for (int i = 0; i < kTransferThreads; ++i) {
    if (upload)
      workers.emplace_back(UploadWorker, std::cref(base), std::cref(payload), std::ref(counter),
                           std::cref(stop), std::ref(verdict));
    else
      workers.emplace_back(DownloadWorker, std::cref(base), std::ref(counter), std::cref(stop));
  }
  const uint64_t earlyStopBytes = upload ? kUploadEarlyStopBytes : kDownloadEarlyStopBytes;
  const float progressBase = upload ? kUploadProgressBase : kDownloadProgressBase;
  const uint64_t startMs = MonotonicMs();
  bool windowOpen = false;
  double windowStart = 0.0;
  uint64_t windowBytes = 0;
  double rate = 0.0;
  for (uint64_t tick = 1;; ++tick) {
    const uint64_t due = startMs + tick * kTickMs;
    const uint64_t now = MonotonicMs();
    if (due > now) SleepMs(static_cast<unsigned>(due - now));
    const double elapsed = static_cast<double>(MonotonicMs() - startMs) / 1000.0;
    const uint64_t bytes = counter.load();
    if (!windowOpen && elapsed >= kWindowStartSeconds) {
      windowOpen = true;
      windowStart = elapsed;
      windowBytes = bytes;
    }
    const double span = windowOpen ? elapsed - windowStart : elapsed;
    if (span > kMinWindowSeconds)
      rate = static_cast<double>(bytes - (windowOpen ? windowBytes : 0)) * kBitsPerByte / span /
             kBitsPerMegabit;
    {
      std::lock_guard<std::mutex> guard(s.lock);
      (upload ? s.uploadMbps : s.downloadMbps) = rate;
      s.progress = progressBase +
                   kPhaseProgressSpan *
                       static_cast<float>(std::min(elapsed * kPhaseProgressPerSecond, 1.0));
    }
    // A refused upload ends the phase: what follows it would measure nothing the server took.
    if (s.cancel.load() || elapsed >= kMaxPhaseSeconds ||
        (elapsed >= kEarlyStopSeconds && bytes >= earlyStopBytes) || verdict.refusedStatus.load() != 0 ||
        verdict.dropped.load())
      break;
  }
  stop.store(true);
  for (std::thread& worker : workers) worker.join();
  return counter.load() > 0 ? std::max(kMinMbps, rate) : 0.0;
}

// Runs the throughput phase; false when the run ended (its message is set).
bool RunThroughputPhase(SpeedTest::Shared& s, const std::string& base, bool upload) {
  if (s.cancel.load()) {
    Fail(s, L"Stopped before it finished");
    return false;
  }
  SetPhase(s, upload ? kSpeedPhaseUpload : kSpeedPhaseDownload);
  UploadVerdict verdict;
  const double mbps = MeasureThroughput(s, base, upload, verdict);
  {
    std::lock_guard<std::mutex> guard(s.lock);
    (upload ? s.uploadMbps : s.downloadMbps) = mbps;
  }
  if (s.cancel.load()) return true;
  if (const long status = verdict.refusedStatus.load(); status != 0) {
    Fail(s, L"The server refused the upload: HTTP " + std::to_wstring(status));
    return false;
  }
  if (verdict.dropped.load()) {
    Fail(s, L"The server dropped the connection after the upload without answering");
    return false;
  }
  if (mbps == 0.0) {
    Fail(s, upload ? L"The upload test didn't get through" : L"The download test didn't get through");
    return false;
  }
  return true;
}

void Worker(SharedPtr shared, std::string base) {
  SpeedTest::Shared& s = *shared;
  HttpSessionPtr session = HttpOpenSession(SessionOptions());
  if (!session) {
    Fail(s, L"Couldn't start the speed test");
    return;
  }
  if (!MeasureLatency(s, *session, base)) return;
  session.reset();  // the transfer threads open their own connections
  if (!RunThroughputPhase(s, base, false)) return;
  if (!RunThroughputPhase(s, base, true)) return;
  if (s.cancel.load()) {
    Fail(s, L"Stopped before it finished");
    return;
  }
  std::lock_guard<std::mutex> guard(s.lock);
  s.phase = kSpeedPhaseDone;
  s.progress = 1.0f;
  s.finishedAt = static_cast<int64_t>(std::time(nullptr));
}

}  // namespace

namespace SpeedTest {

void Start() {
  std::lock_guard<std::mutex> guard(currentLock);
  if (current) {
    std::lock_guard<std::mutex> inner(current->lock);
    if (Running(current->phase)) return;
  }
  auto shared = std::make_shared<Shared>();
  shared->phase = kSpeedPhaseLatency;
  current = shared;
  std::thread(Worker, shared, Server()).detach();
}

void Cancel() {
  std::lock_guard<std::mutex> guard(currentLock);
  if (current) current->cancel.store(true);
}

bool IsRunning() {
  std::lock_guard<std::mutex> guard(currentLock);
  if (!current) return false;
  std::lock_guard<std::mutex> inner(current->lock);
  return Running(current->phase);
}

SpeedTestResult Snapshot() {
  SpeedTestResult r;
  std::lock_guard<std::mutex> guard(currentLock);
  if (!current) return r;
  std::lock_guard<std::mutex> inner(current->lock);
  r.phase = current->phase;
  r.progress = current->progress;
  r.latencyMs = current->latencyMs;
  r.downloadMbps = current->downloadMbps;
  r.uploadMbps = current->uploadMbps;
  r.message = current->message;
  r.finishedAt = current->finishedAt;
  return r;
}

void SetResult(const SpeedTestResult& result) {
  auto shared = std::make_shared<Shared>();
  shared->phase = result.phase;
  shared->progress = result.progress;
  shared->latencyMs = result.latencyMs;
  shared->downloadMbps = result.downloadMbps;
  shared->uploadMbps = result.uploadMbps;
  shared->message = result.message;
  shared->finishedAt = result.finishedAt;
  std::lock_guard<std::mutex> guard(currentLock);
  if (current) current->cancel.store(true);
  current = shared;
}

void SetServer(const std::string& baseUrl) {
  std::string trimmed = baseUrl;
  while (!trimmed.empty() && trimmed.back() == '/') trimmed.pop_back();
  std::lock_guard<std::mutex> guard(serverLock);
  server = trimmed;
}

std::string Server() {
  std::lock_guard<std::mutex> guard(serverLock);
  return server;
}

}  // namespace SpeedTest
