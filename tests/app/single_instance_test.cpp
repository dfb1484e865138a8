// The single-instance rule over a real lock file and a real Unix socket, with two threads playing
// the running copy and the second start; the command-line text and the hand-off record.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "app/main_window.h"
#include "app/single_instance.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "platform/folders.h"
#include "platform/instance_lock.h"
#include "platform/text.h"
#include "support/temp_home.h"

namespace {

using namespace std::chrono_literals;

// A short socket path: the temporary HOME is short enough for sun_path.
struct Paths {
  TempHome home;
  std::wstring lock = home.wpath() + L"/x.lock";
  std::wstring socket = home.wpath() + L"/x.sock";
};

// Waits up to two seconds for the listener's message; the test thread plays the UI thread.
bool TakeSoon(HandOffListener& listener, HandOff* out) {
  for (int i = 0; i < 200; ++i) {
    if (listener.Take(out)) return true;
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

// Sends raw bytes as a second start would, then waits for the answer byte (-1 for none).
int SendRaw(const std::wstring& socketPath, const std::string& bytes) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string path = WideToUtf8(socketPath);
  path.copy(address.sun_path, sizeof(address.sun_path) - 1);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    close(fd);
    return -2;
  }
  EXPECT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
  shutdown(fd, SHUT_WR);
  char answer = 0;
  const ssize_t n = recv(fd, &answer, 1, 0);
  close(fd);
  return n == 1 ? static_cast<unsigned char>(answer) : -1;
}

std::string Header(uint32_t code, uint32_t size) {
  std::string h;
  for (uint32_t v : {code, size})
    for (int i = 0; i < 4; ++i) h.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  return h;
}

}  // namespace

// --- The lock ---

TEST(InstanceLock, OneHolderAtATimeAndTheNextTakesOverOnRelease) {
  Paths p;
  InstanceLock first(p.lock), second(p.lock);
  std::wstring error;
  ASSERT_TRUE(first.TryTake(&error)) << WideToUtf8(error);
  EXPECT_FALSE(second.TryTake(&error));
  EXPECT_TRUE(error.empty()) << "a held lock is not a failure";

  const auto began = std::chrono::steady_clock::now();
  EXPECT_FALSE(second.WaitTake(150));
  EXPECT_GE(std::chrono::steady_clock::now() - began, 149ms);  // the lock counts whole milliseconds

  std::thread releaser([&] {
    std::this_thread::sleep_for(100ms);
    first.Release();
  });
  EXPECT_TRUE(second.WaitTake(3000));
  releaser.join();
  EXPECT_TRUE(second.held());
  EXPECT_FALSE(first.TryTake(&error)) << "the lock changed hands";
}

TEST(InstanceLock, AFileThatCannotBeOpenedIsReportedNotWaitedFor) {
  Paths p;
  InstanceLock lock(p.home.wpath() + L"/missing-folder/x.lock");
  std::wstring error;
  EXPECT_FALSE(lock.TryTake(&error));
  EXPECT_NE(error.find(L"open"), std::wstring::npos) << WideToUtf8(error);
  const auto began = std::chrono::steady_clock::now();
  EXPECT_FALSE(lock.WaitTake(2000));
  EXPECT_LT(std::chrono::steady_clock::now() - began, 500ms);
}

TEST(InstanceLock, FoldersComeFromTheRuntimeFolderOrTheStateFolder) {
  TempHome home;
  const char* outer = std::getenv("XDG_RUNTIME_DIR");
  const std::string saved = outer ? outer : "";
  setenv("XDG_RUNTIME_DIR", (home.path() + "/run").c_str(), 1);
  EXPECT_EQ(InstanceSocketPath(), home.wpath() + L"/run/Veldmix/Orrelby.Veldmix.sock");
  EXPECT_TRUE(FolderExists(home.wpath() + L"/run/Veldmix"));
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(InstanceLockPath(), home.wpath() + L"/state/Veldmix/Orrelby.Veldmix.lock");
  if (outer) setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
}

// --- The channel ---

TEST(InstanceHandOff, ARecordArrivesWholeAndItsAnswerGoesBack) {
  Paths p;
  HandOffListener listener;
  std::atomic<int> wakes{0};
  std::wstring error;
  ASSERT_TRUE(listener.Open(p.socket, [&] { ++wakes; }, &error)) << WideToUtf8(error);

  HandOff record;
  record.hasRecord = true;
  record.code = kHandOffCode;
  record.data = EncodeHandOffText(L"\"/music/a b.wav\" /music/c.flac");
  auto sender = std::async(std::launch::async, [&] {
    unsigned long pid = 0;
    int answer = -1;
    const HandOffSent sent = SendHandOff(p.socket, &record, 5000, &pid, &answer);
    return std::tuple(sent, pid, answer);
  });
  HandOff got;
  ASSERT_TRUE(TakeSoon(listener, &got));
  EXPECT_EQ(wakes.load(), 1);
  EXPECT_TRUE(got.hasRecord);
  EXPECT_TRUE(got.problem.empty());
  EXPECT_EQ(got.code, kHandOffCode);
  EXPECT_EQ(got.data, record.data);
  EXPECT_EQ(got.senderPid, static_cast<unsigned long>(getpid()));
  listener.Answer(1);
  const auto [sent, pid, answer] = sender.get();
  EXPECT_EQ(sent, HandOffSent::Delivered);
  EXPECT_EQ(pid, static_cast<unsigned long>(getpid()));
  EXPECT_EQ(answer, 1);

  // A bare connection only asks the window to come forward.
  EXPECT_EQ(SendHandOff(p.socket, nullptr, 5000, nullptr, nullptr), HandOffSent::Delivered);
  ASSERT_TRUE(TakeSoon(listener, &got));
  EXPECT_FALSE(got.hasRecord);
  EXPECT_TRUE(got.data.empty());
  listener.Answer(0);
}

TEST(InstanceHandOff, DamagedOrOversizedMessagesAreRefusedWithAReason) {
  Paths p;
  HandOffListener listener;
  ASSERT_TRUE(listener.Open(p.socket, nullptr, nullptr));
  struct Case {
    std::string bytes;
    std::wstring reason;
  };
  const Case cases[] = {
      {Header(kHandOffCode, kHandOffMaxBytes + 1), L"larger than allowed"},
      {Header(kHandOffCode, 100) + std::string(10, 'x'), L"ended after 10 of 100 bytes"},
      {std::string("VXO"), L"inside its header"},
  };
  for (const Case& c : cases) {
    auto sender = std::async(std::launch::async, [&] { return SendRaw(p.socket, c.bytes); });
    HandOff got;
    ASSERT_TRUE(TakeSoon(listener, &got));
    EXPECT_NE(got.problem.find(c.reason), std::wstring::npos) << WideToUtf8(got.problem);
    listener.Answer(0);
    EXPECT_EQ(sender.get(), 0);
  }
}

TEST(InstanceHandOff, NoListenerSilenceAndClosingAreToldApart) {
  Paths p;
  EXPECT_EQ(SendHandOff(p.socket, nullptr, 100, nullptr, nullptr), HandOffSent::NoReceiver);

  HandOffListener listener;
  ASSERT_TRUE(listener.Open(p.socket, nullptr, nullptr));
  ASSERT_TRUE(FileExists(p.socket));
  HandOff record;
  record.hasRecord = true;
  record.code = kHandOffCode;
  record.data = EncodeHandOffText(L"x");
  int answer = 7;
  const auto began = std::chrono::steady_clock::now();
  EXPECT_EQ(SendHandOff(p.socket, &record, 200, nullptr, &answer), HandOffSent::NoAnswer);
  EXPECT_GE(std::chrono::steady_clock::now() - began, 200ms);
  EXPECT_EQ(answer, -1);

  // The unanswered message still waits; closing must not hang on it, and removes the socket.
  listener.Close();
  EXPECT_FALSE(listener.open());
  EXPECT_FALSE(FileExists(p.socket));
  EXPECT_EQ(SendHandOff(p.socket, nullptr, 100, nullptr, nullptr), HandOffSent::NoReceiver);
}

TEST(InstanceHandOff, AStaleSocketFileIsReplaced) {
  Paths p;
  WriteRaw(WideToUtf8(p.socket), "left by a copy that died");
  HandOffListener listener;
  std::wstring error;
  ASSERT_TRUE(listener.Open(p.socket, nullptr, &error)) << WideToUtf8(error);
  EXPECT_EQ(SendHandOff(p.socket, nullptr, 1000, nullptr, nullptr), HandOffSent::Delivered);
}

// --- The rule ---

TEST(InstanceClaim, ASecondStartHandsItsTextToTheRunningCopy) {
  Paths p;
  InstanceLock running(p.lock);
  ASSERT_TRUE(running.TryTake(nullptr));
  HandOffListener listener;
  ASSERT_TRUE(listener.Open(p.socket, nullptr, nullptr));
  std::wstring received;
  std::thread ui([&] {
    HandOff got;
    if (!TakeSoon(listener, &got)) return;
    listener.Answer(HandleCopyData(got.code, got.data, [&](const std::wstring& text) { received = text; }));
  });
  InstanceLock second(p.lock);
  EXPECT_EQ(ClaimInstance(second, p.socket, L"\"/tmp/a b.wav\""), InstanceClaim::HandedOff);
  ui.join();
  EXPECT_EQ(received, L"\"/tmp/a b.wav\"");
  EXPECT_FALSE(second.held());
}

TEST(InstanceClaim, ACopyThatDiesBeforeShowingItsWindowLeavesTheLockToTheNext) {
  Paths p;
  InstanceLock running(p.lock);
  ASSERT_TRUE(running.TryTake(nullptr));
  std::thread dies([&] {
    std::this_thread::sleep_for(300ms);
    running.Release();
  });
  InstanceLock second(p.lock);
  EXPECT_EQ(ClaimInstance(second, p.socket, L"/tmp/a.wav"), InstanceClaim::First);
  dies.join();
  EXPECT_TRUE(second.held());
}

// --- Command-line text ---

TEST(AppCommandLine, JoinedArgumentsSplitBackExactly) {
  const std::vector<std::vector<std::wstring>> cases = {
      {L"/music/plain.wav"},
      {L"/music/with space.wav", L"second"},
      {L"C:\\path\\ends\\"},
      {L"ends with \\", L"x"},
      {L"has\"quote", L"back\\\"slash quote"},
      {L"", L"empty before"},
      {L"tab\there", L"new\nline"},
      {L"/m\u00FAsica/\u65E5\u672C/\U0001F3B5.mp3"},
      {L"\\\\server\\share"},
  };
  for (const auto& arguments : cases) {
    EXPECT_EQ(SplitArguments(JoinArguments(arguments)), arguments) << WideToUtf8(JoinArguments(arguments));
  }
  EXPECT_EQ(JoinArguments({L"/a.wav", L"b c"}), L"/a.wav \"b c\"");
}

TEST(AppCommandLine, SplitFollowsTheWindowsQuotingRules) {
  using V = std::vector<std::wstring>;
  EXPECT_EQ(SplitArguments(L""), V{});
  EXPECT_EQ(SplitArguments(L"  \t "), V{});
  EXPECT_EQ(SplitArguments(L"  a   b\tc "), (V{L"a", L"b", L"c"}));
  EXPECT_EQ(SplitArguments(L"\"a b\"c d"), (V{L"a bc", L"d"}));
  EXPECT_EQ(SplitArguments(L"a\\\\\\\"b"), (V{L"a\\\"b"}));  // 3 backslashes + quote
  EXPECT_EQ(SplitArguments(L"a\\\\\"b c\""), (V{L"a\\b c"}));  // 2 backslashes open a quote
  EXPECT_EQ(SplitArguments(L"a\\b"), (V{L"a\\b"}));
  EXPECT_EQ(SplitArguments(L"\"\""), (V{L""}));
  EXPECT_EQ(SplitArguments(L"\"say \"\"hi\"\"\""), (V{L"say \"hi\""}));
  EXPECT_EQ(SplitArguments(L"\"unclosed b"), (V{L"unclosed b"}));
}

TEST(AppCommandLine, OnlyAKnownSwitchWithThreeArgumentsIsATestRun) {
  EXPECT_TRUE(IsTestRun({L"--selftest", L"out.wav", L"a.mp3"}));
  EXPECT_TRUE(IsTestRun({L"--featuretest", L"/out", L"a.mp3", L"x", L"y"}));
  EXPECT_TRUE(IsTestRun({L"--stemtest", L"o", L"t"}));
  EXPECT_TRUE(IsTestRun({L"--karaoketest", L"o", L"t"}));
  EXPECT_FALSE(IsTestRun({L"--selftest", L"out.wav"}));
  EXPECT_FALSE(IsTestRun({L"--SelfTest", L"o", L"t"}));
  EXPECT_FALSE(IsTestRun({L"a.mp3", L"--selftest", L"t"}));
  EXPECT_FALSE(IsTestRun({}));
}

// --- The hand-off record ---

TEST(AppHandOffText, RecordsCarryUtf16WithTheirNulAndDecodeBack) {
  const std::wstring text = L"/a/\u00E9\U0001F3B5.wav";  // one code point outside the BMP
  const std::string data = EncodeHandOffText(text);
  EXPECT_EQ(data.size(), (text.size() + 1 + 1) * 2) << "a surrogate pair plus the NUL";
  EXPECT_EQ(data.substr(data.size() - 2), std::string(2, '\0'));
  EXPECT_EQ(static_cast<unsigned char>(data[0]), '/');  // little-endian units
  EXPECT_EQ(data[1], '\0');
  EXPECT_EQ(DecodeHandOffText(data), text);

  std::string cut = EncodeHandOffText(L"ab");
  cut.insert(2, std::string(2, '\0'));  // a NUL after the first character
  EXPECT_EQ(DecodeHandOffText(cut), L"a");
  EXPECT_EQ(DecodeHandOffText(std::string("a\0b", 3)), L"a") << "an odd last byte is ignored";
  EXPECT_EQ(DecodeHandOffText(std::string("\x00\xD8" "a\0", 4)), L"\uFFFDa") << "a lone high surrogate";
  EXPECT_EQ(DecodeHandOffText(std::string("\x00\xDC", 2)), L"\uFFFD");
  // A file name that is not UTF-8 reaches the running copy byte for byte.
  const std::wstring latin = PathFromBytes("/m/caf\xE9 \xFF.mp3");
  EXPECT_EQ(PathToBytes(DecodeHandOffText(EncodeHandOffText(latin))), "/m/caf\xE9 \xFF.mp3");
}

TEST(AppHandOffText, CopyDataRefusesForeignCodesAndAcceptsEmptyRecords) {
  int opened = 0;
  std::wstring seen;
  auto open = [&](const std::wstring& t) {
    ++opened;
    seen = t;
  };
  EXPECT_EQ(HandleCopyData(0x12345678, EncodeHandOffText(L"x"), open), 0);
  EXPECT_EQ(HandleCopyData(kHandOffCode, "", open), 1);
  EXPECT_EQ(HandleCopyData(kHandOffCode, "a", open), 1);
  EXPECT_EQ(opened, 0);
  EXPECT_EQ(HandleCopyData(kHandOffCode, EncodeHandOffText(L"/x.wav"), open), 1);
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(seen, L"/x.wav");
  EXPECT_EQ(kHandOffCode, 0x56584F50u);
}

// --- Where handed-over files go ---

TEST(AppHandOffDecks, FreeShownDecksFirstThenLoadedOnesNeverPlayingOrLoadingOnes) {
  auto reset = [] {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    for (int d = 0; d < kEngineDecks; ++d) {
      Engine.decks[d].track.reset();
      Engine.decks[d].playing = false;
      LiveDeckViews[d].loading = false;
    }
  };
  reset();
  EXPECT_EQ(PickHandOffDeck({}), 0);
  EXPECT_EQ(PickHandOffDeck({true, false, false, false}), 1);
  EXPECT_EQ(PickHandOffDeck({true, true, false, false}), -1) << "decks C and D are not shown";

  Engine.decks[0].track = std::make_shared<Track>();
  EXPECT_EQ(PickHandOffDeck({}), 1) << "the empty deck comes before the loaded one";
  EXPECT_EQ(PickHandOffDeck({false, true, false, false}), 0) << "then a loaded deck that is paused";

  Engine.decks[1].playing = true;
  EXPECT_EQ(PickHandOffDeck({}), 0);
  LiveDeckViews[0].loading = true;
  EXPECT_EQ(PickHandOffDeck({}), -1);
  reset();
}
