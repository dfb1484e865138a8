// The feature run's verdicts against real peers: the ingest handshake step against a closed
// loopback port (a SKIP, not a pass) and against a listener that drops the connection (a FAIL);
// deck moves that refuse non-finite positions and tempos.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <string>
#include <thread>

#include "selftest/feature_run.h"
#include "selftest/selftest_state.h"
#include "support/click_tracks.h"

namespace {

// A loopback listener on a free port; with `drop`, it accepts one connection and closes it.
class Listener {
 public:
  explicit Listener(bool drop) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    listen(fd_, 1);
    if (drop) {
      thread_ = std::thread([fd = fd_] {
        const int client = accept(fd, nullptr, nullptr);
        if (client >= 0) close(client);
      });
    }
  }
  ~Listener() {
    Close();
    if (thread_.joinable()) thread_.join();
  }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;
  void Close() {
    if (fd_ < 0) return;
    shutdown(fd_, SHUT_RDWR);
    close(fd_);
    fd_ = -1;
  }
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::thread thread_;
};

const FeatureTest::TimedStep& IngestStep(const std::vector<FeatureTest::TimedStep>& steps) {
  return steps.back();
}

void SetIngest(int port) {
  setenv("VELDMIX_INGEST_ADDRESS", ("rtmps://127.0.0.1:" + std::to_string(port) + "/live2").c_str(), 1);
}

class FeatureSteps : public ::testing::Test {
 protected:
  void SetUp() override { ResetSelfTest(); }
  void TearDown() override {
    unsetenv("VELDMIX_INGEST_ADDRESS");
    ResetSelfTest();
    ResetDecksForTest();
  }
};

}  // namespace

TEST_F(FeatureSteps, TheIngestStepSkipsWhenNothingAnswersAndFailsABadHandshake) {
  const std::vector<FeatureTest::TimedStep> steps = FeatureTest::PerformanceSteps();
  const FeatureTest::TimedStep& ingest = IngestStep(steps);
  ASSERT_TRUE(ingest.name.starts_with(L"live video: RTMPS to YouTube's ingest"));

  int closedPort = 0;
  {
    Listener gone(false);
    closedPort = gone.port();
  }
  SetIngest(closedPort);
  FeatureTest::ReportStep(ingest);
  EXPECT_TRUE(SelfTestResults.starts_with(L"      (skipped, offline: ")) << SelfTestResults;
  EXPECT_NE(SelfTestResults.find(L"\nSKIP  " + ingest.name + L"\n"), std::wstring::npos) << SelfTestResults;
  EXPECT_EQ(SelfTestResults.find(L"PASS"), std::wstring::npos) << "an unjudged step is no pass";
  EXPECT_EQ(SelfTestFailures, 0);

  ResetSelfTest();
  Listener dropper(true);
  SetIngest(dropper.port());
  FeatureTest::ReportStep(ingest);
  EXPECT_NE(SelfTestResults.find(L"\nFAIL  " + ingest.name + L"\n"), std::wstring::npos) << SelfTestResults;
  EXPECT_EQ(SelfTestResults.find(L"skipped"), std::wstring::npos) << SelfTestResults;
  EXPECT_EQ(SelfTestFailures, 1);

  // A preparation step is run and waited, never reported.
  ResetSelfTest();
  FeatureTest::ReportStep({L"(load it onto deck B)", [] {}, 0.0, [] { return false; }});
  EXPECT_TRUE(SelfTestResults.empty());
  EXPECT_EQ(SelfTestFailures, 0);
}

TEST_F(FeatureSteps, DeckMovesRefuseNonFinitePositionsAndTempos) {
  EXPECT_EQ(FeatureTest::UsableBpm(0.0), 1.0);
  EXPECT_EQ(FeatureTest::UsableBpm(std::numeric_limits<double>::quiet_NaN()), 1.0);
  EXPECT_EQ(FeatureTest::UsableBpm(std::numeric_limits<double>::infinity()), 1.0);
  EXPECT_EQ(FeatureTest::UsableBpm(126.5), 126.5);

  ResetDecksForTest();
  EXPECT_FALSE(FeatureTest::SetDeckPosition(0, 100.0)) << "no track, nothing to move";
  static ClickTrackFolder folder;
  ClickTrack spec;
  spec.seconds = 4.0;
  ASSERT_TRUE(LoadAndWait(0, folder.Make(spec)));
  ASSERT_TRUE(FeatureTest::SetDeckPosition(0, 1000.0));
  EXPECT_FALSE(FeatureTest::SetDeckPosition(0, std::numeric_limits<double>::quiet_NaN()));
  EXPECT_FALSE(FeatureTest::SetDeckPosition(0, -std::numeric_limits<double>::infinity()));
  double position = 0.0, last = 0.0;
  {
    std::lock_guard<RealtimeMutex> hold(Engine.lock);
    position = Engine.decks[0].position;
    last = static_cast<double>(Engine.decks[0].track->frames - 1);
  }
  EXPECT_EQ(position, 1000.0) << "a refused move leaves the deck where it was";
  ASSERT_TRUE(FeatureTest::SetDeckPosition(0, 1e12));
  std::lock_guard<RealtimeMutex> hold(Engine.lock);
  EXPECT_EQ(Engine.decks[0].position, last);
}
