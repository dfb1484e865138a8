#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <string>

#include "broadcast/speed_test.h"
#include "platform/clock.h"
#include "platform/net.h"
#include "platform/text.h"
#include "support/temp_home.h"
#include "support/wav_probe.h"

extern char** environ;

namespace {

bool WaitFor(const std::function<bool()>& condition, unsigned timeoutMs) {
  const uint64_t end = MonotonicMs() + timeoutMs;
  while (MonotonicMs() < end) {
    if (condition()) return true;
    SleepMs(20);
  }
  return condition();
}

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) {
      had_ = true;
      old_ = old;
    }
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (had_)
      setenv(name_, old_.c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

// The loopback HTTPS service (tests/broadcast/speed_server.py under Debian's python3) with a
// private certificate that the process trusts through SSL_CERT_FILE while this lives.
class SpeedServer {
 public:
  // upload: the answer to a whole upload when it differs from status (a status, or "drop").
  explicit SpeedServer(int status = 200, const std::string& upload = "") {
    const std::string dir = home_.path();
    const std::string cert = dir + "/cert.pem", key = dir + "/key.pem", portFile = dir + "/port";
    int rc = -1;
    RunCommand("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 "
               "-subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout " + ShellQuote(key) +
               " -out " + ShellQuote(cert) + " 2>/dev/null", &rc);
    if (rc != 0) return;
    trust_ = std::make_unique<ScopedEnv>("SSL_CERT_FILE", cert);
    const std::string script = std::string(VELDMIX_SOURCE_DIR) + "/tests/broadcast/speed_server.py";
    const std::string statusText = std::to_string(status), uploadText = upload.empty() ? statusText : upload;
    char* argv[] = {const_cast<char*>("python3"), const_cast<char*>(script.c_str()),
                    const_cast<char*>(cert.c_str()), const_cast<char*>(key.c_str()),
                    const_cast<char*>(portFile.c_str()), const_cast<char*>(statusText.c_str()),
                    const_cast<char*>(uploadText.c_str()), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&pid_, "/usr/bin/python3", &actions, nullptr, argv, environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (pid_ > 0 && WaitFor([&] { return !ReadRaw(portFile).empty(); }, 5000))
      url_ = "https://127.0.0.1:" + ReadRaw(portFile);
  }
  ~SpeedServer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
    }
  }
  const std::string& url() const { return url_; }

 private:
  TempHome home_;
  std::unique_ptr<ScopedEnv> trust_;
  pid_t pid_ = -1;
  std::string url_;
};

class SpeedTestTest : public ::testing::Test {
 protected:
  void SetUp() override { WaitFor([] { return !SpeedTest::IsRunning(); }, 15000); }
  void TearDown() override {
    SpeedTest::Cancel();
    WaitFor([] { return !SpeedTest::IsRunning(); }, 15000);
    SpeedTest::SetServer(kSpeedTestDefaultServer);
  }
  // Loopback traffic must not go through a proxy the machine may name.
  ScopedEnv noProxy_{"NO_PROXY", "127.0.0.1,localhost"};
  ScopedEnv noProxyLower_{"no_proxy", "127.0.0.1,localhost"};
};

SpeedTestResult RunToEnd(unsigned timeoutMs) {
  WaitFor([] { return !SpeedTest::IsRunning(); }, timeoutMs);
  return SpeedTest::Snapshot();
}

}  // namespace

TEST_F(SpeedTestTest, FullRunMeasuresLatencyAndBothDirections) {
  SpeedServer server;
  ASSERT_FALSE(server.url().empty()) << "the loopback HTTPS server did not start";
  SpeedTest::SetServer(server.url() + "/");
  EXPECT_EQ(SpeedTest::Server(), server.url()) << "a trailing slash is dropped";
  const int64_t before = static_cast<int64_t>(std::time(nullptr));
  SpeedTest::Start();
  EXPECT_TRUE(SpeedTest::IsRunning());
  // A second start while it runs changes nothing: the run goes on past its latency phase.
  ASSERT_TRUE(WaitFor([] { return SpeedTest::Snapshot().phase >= kSpeedPhaseDownload; }, 5000));
  SpeedTest::Start();
  EXPECT_GE(SpeedTest::Snapshot().phase, kSpeedPhaseDownload);
  const SpeedTestResult mid = SpeedTest::Snapshot();
  EXPECT_GE(mid.progress, 0.06f);

  const SpeedTestResult r = RunToEnd(25000);
  ASSERT_EQ(r.phase, kSpeedPhaseDone) << WideToUtf8(r.message);
  EXPECT_EQ(r.message, L"");
  EXPECT_FLOAT_EQ(r.progress, 1.0f);
  EXPECT_GT(r.latencyMs, 0.0);
  EXPECT_LT(r.latencyMs, 500.0);
  // Loopback moves far more than a megabit a second in each direction.
  EXPECT_GT(r.downloadMbps, 10.0);
  EXPECT_GT(r.uploadMbps, 10.0);
  EXPECT_LT(r.downloadMbps, 1e6);
  EXPECT_GE(r.finishedAt, before);
  EXPECT_LE(r.finishedAt, static_cast<int64_t>(std::time(nullptr)));
}

TEST_F(SpeedTestTest, CancelDuringTheDownloadStopsTheRun) {
  SpeedServer server;
  ASSERT_FALSE(server.url().empty());
  SpeedTest::SetServer(server.url());
  SpeedTest::Start();
  ASSERT_TRUE(WaitFor([] { return SpeedTest::Snapshot().phase == kSpeedPhaseDownload; }, 5000));
  SleepMs(300);
  SpeedTest::Cancel();
  const uint64_t start = MonotonicMs();
  const SpeedTestResult r = RunToEnd(5000);
  EXPECT_LT(MonotonicMs() - start, 2000u);
  EXPECT_EQ(r.phase, kSpeedPhaseFailed);
  EXPECT_EQ(r.message, L"Stopped before it finished");
  EXPECT_EQ(r.uploadMbps, 0.0) << "the upload never ran";
  // After a run ended, a start begins a new one.
  SpeedTest::Start();
  EXPECT_EQ(SpeedTest::Snapshot().phase, kSpeedPhaseLatency);
}

TEST_F(SpeedTestTest, ServerFaultsGiveTheirMessages) {
  {
    SpeedServer failing(503);
    ASSERT_FALSE(failing.url().empty());
    SpeedTest::SetServer(failing.url());
    SpeedTest::Start();
    const SpeedTestResult r = RunToEnd(10000);
    EXPECT_EQ(r.phase, kSpeedPhaseFailed);
    EXPECT_EQ(r.message, L"The speed test server isn't answering properly (503)");
    EXPECT_EQ(r.downloadMbps, 0.0);
  }
  // Nobody listening: the run fails in its latency phase, the throughput phases never run.
  NetSocket probe = kNoSocket;
  int port = 0;
  ASSERT_TRUE(NetListenLoopback(0, 1, &probe, &port));
  NetClose(probe);
  SpeedTest::SetServer("https://127.0.0.1:" + std::to_string(port));
  SpeedTest::Start();
  SpeedTestResult r = RunToEnd(10000);
  EXPECT_EQ(r.phase, kSpeedPhaseFailed);
  EXPECT_EQ(r.message, L"Couldn't reach the speed test server \u2014 is this computer online?");
  EXPECT_LT(r.progress, 0.06f);
  EXPECT_EQ(r.downloadMbps, 0.0);
}

// A server that takes every upload's body and then refuses it, or hangs up without an answer, has
// not carried the upload: the test fails with what the server did, never a slow line.
TEST_F(SpeedTestTest, AnUploadTheServerRefusedFailsTheTest) {
  const struct {
    const char* upload;
    const wchar_t* message;
  } kCases[] = {{"500", L"The server refused the upload: HTTP 500"},
                {"drop", L"The server dropped the connection after the upload without answering"}};
  for (const auto& c : kCases) {
    SpeedServer server(200, c.upload);
    ASSERT_FALSE(server.url().empty());
    SpeedTest::SetServer(server.url());
    SpeedTest::Start();
    const SpeedTestResult r = RunToEnd(30000);
    EXPECT_EQ(r.phase, kSpeedPhaseFailed) << c.upload;
    EXPECT_EQ(r.message, c.message);
    EXPECT_GT(r.downloadMbps, 10.0) << "the download went through";
  }
}

TEST_F(SpeedTestTest, AServerThatNeverAnswersTimesOut) {
  // The connection is taken by the kernel's backlog but nobody ever speaks TLS on it.
  NetSocket listener = kNoSocket;
  int port = 0;
  ASSERT_TRUE(NetListenLoopback(0, 8, &listener, &port));
  SpeedTest::SetServer("https://127.0.0.1:" + std::to_string(port));
  SpeedTest::Start();
  const SpeedTestResult r = RunToEnd(20000);
  NetClose(listener);
  EXPECT_EQ(r.phase, kSpeedPhaseFailed);
  EXPECT_EQ(r.message, L"The speed test server took too long to answer");
}

TEST_F(SpeedTestTest, SetResultShowsFixedFigures) {
  SpeedTestResult fixed;
  fixed.phase = kSpeedPhaseDone;
  fixed.progress = 1.0f;
  fixed.latencyMs = 18.5;
  fixed.downloadMbps = 94.2;
  fixed.uploadMbps = 38.7;
  fixed.finishedAt = 1700000000;
  SpeedTest::SetResult(fixed);
  EXPECT_FALSE(SpeedTest::IsRunning());
  const SpeedTestResult r = SpeedTest::Snapshot();
  EXPECT_EQ(r.phase, fixed.phase);
  EXPECT_EQ(r.latencyMs, fixed.latencyMs);
  EXPECT_EQ(r.downloadMbps, fixed.downloadMbps);
  EXPECT_EQ(r.uploadMbps, fixed.uploadMbps);
  EXPECT_EQ(r.finishedAt, fixed.finishedAt);
  EXPECT_EQ(r.message, L"");
}
