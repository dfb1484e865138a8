// The file dialogs: the zenity command lines they build, how an answer becomes a path, the
// answers file of unattended runs (acted on by the real sampler), the child process they run in
// while the window keeps drawing, and, when a display is at hand, real zenity windows found and
// answered with xdotool.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/settings.h"
#include "base/test_mode.h"
#include "engine/control_input.h"
#include "engine/engine.h"
#include "engine/sampler.h"
#include "engine/sandbox.h"
#include "platform/child_process.h"
#include "platform/sanitizers.h"
#include "platform/text.h"
#include "platform/ui_post.h"
#include "platform/window.h"
#include "screens/sampler_menu.h"
#include "support/click_tracks.h"
#include "support/temp_home.h"
#include "ui/file_dialogs.h"

namespace {

using namespace std::chrono_literals;

bool Has(const std::vector<std::string>& args, const std::string& one) {
  return std::find(args.begin(), args.end(), one) != args.end();
}

std::vector<std::string> Filters(const std::vector<std::string>& args) {
  std::vector<std::string> out;
  for (const std::string& a : args)
    if (a.rfind("--file-filter=", 0) == 0) out.push_back(a.substr(14));
  return out;
}

// Points the dialogs at an answers file for one test and takes it away after.
class AnswersFile {
 public:
  explicit AnswersFile(const std::string& path, const std::string& lines) : path_(path) {
    WriteRaw(path_, lines);
    setenv(kDialogAnswersVariable, path_.c_str(), 1);
  }
  ~AnswersFile() { unsetenv(kDialogAnswersVariable); }
  std::string Left() const { return ReadRaw(path_); }

 private:
  std::string path_;
};

TEST(FileDialogCommand, OpenSaveAndFolderDialogsBecomeZenityCommandLines) {
  DialogRequest open;
  open.title = L"Choose a sample (up to 60 seconds)";
  open.types = {{L"Audio files", L"*.mp3;*.M4A; *.wav"}, {L"All files", L"*.*"}};
  const std::vector<std::string> openArgs = ZenityArguments(open);
  EXPECT_EQ(openArgs[0], "zenity");
  EXPECT_TRUE(Has(openArgs, "--file-selection"));
  EXPECT_TRUE(Has(openArgs, "--title=Choose a sample (up to 60 seconds)"));
  EXPECT_FALSE(Has(openArgs, "--save") || Has(openArgs, "--directory"));
  EXPECT_EQ(Filters(openArgs),
            (std::vector<std::string>{"Audio files | *.[mM][pP]3 *.[mM]4[aA] *.[wW][aA][vV]", "All files | *"}))
      << "in order, matching any case; \"*.*\" matches names without a dot too";

  DialogRequest save;
  save.kind = DialogKind::Save;
  save.title = L"Export for rekordbox";
  save.types = {{L"XML | files", L"*.xml"}};
  save.defaultName = L"rekordbox é.xml";
  save.extension = L"xml";
  const std::vector<std::string> saveArgs = ZenityArguments(save);
  EXPECT_TRUE(Has(saveArgs, "--save"));
  EXPECT_TRUE(Has(saveArgs, "--confirm-overwrite"));
  EXPECT_TRUE(Has(saveArgs, "--filename=rekordbox \xc3\xa9.xml")) << "UTF-8 on the command line";
  EXPECT_EQ(Filters(saveArgs), std::vector<std::string>{"XML / files | *.[xX][mM][lL]"})
      << "one type; a \"|\" in its label would split it";

  TempHome home;
  DialogRequest folder;
  folder.kind = DialogKind::Folder;
  folder.title = L"Add a music folder";
  folder.types = {{L"ignored", L"*.mp3"}};
  folder.startFolder = home.wpath();
  const std::vector<std::string> folderArgs = ZenityArguments(folder);
  EXPECT_TRUE(Has(folderArgs, "--directory"));
  EXPECT_TRUE(Has(folderArgs, "--filename=" + home.path() + "/")) << "opens inside the start folder";
  EXPECT_TRUE(Filters(folderArgs).empty());
  folder.startFolder = home.wpath() + L"/deleted";
  for (const std::string& a : ZenityArguments(folder))
    EXPECT_NE(a.rfind("--filename=", 0), 0u) << "a missing start folder is ignored: " << a;
}

TEST(FileDialogCommand, AnswersBecomeAbsolutePathsAndSavedNamesGetTheExtension) {
  DialogRequest open;
  EXPECT_EQ(DialogResult(open, "/music/Intro Mix.mp3\n"), L"/music/Intro Mix.mp3");
  EXPECT_EQ(DialogResult(open, "/music/\xc3\xa9t\xc3\xa9.flac\r\n"), L"/music/\u00e9t\u00e9.flac");
  EXPECT_EQ(DialogResult(open, ""), L"") << "cancelled";
  EXPECT_EQ(DialogResult(open, "\n"), L"");
  EXPECT_EQ(DialogResult(open, "mtp://phone/Music/a.mp3\n"), L"") << "no file-system path";
  EXPECT_EQ(DialogResult(open, "relative/a.mp3"), L"");
  EXPECT_EQ(DialogResult(open, "/a.mp3\n/b.mp3\n"), L"") << "one path only";

  DialogRequest save;
  save.kind = DialogKind::Save;
  save.extension = L"xml";
  EXPECT_EQ(DialogResult(save, "/home/dj/collection\n"), L"/home/dj/collection.xml");
  EXPECT_EQ(DialogResult(save, "/home/dj/collection.xml\n"), L"/home/dj/collection.xml");
  EXPECT_EQ(DialogResult(save, "/home/dj/set.v2/collection\n"), L"/home/dj/set.v2/collection.xml")
      << "a dot in a folder name is not the file's extension";
  EXPECT_EQ(DialogResult(save, "/home/dj/\n"), L"") << "a folder is not a file name";
}

TEST(FileDialogAnswers, EachDialogTakesTheNextLineAndAUsedUpFileCancels) {
  TempHome home;
  AnswersFile answers(home.path() + "/answers", "/music/kick.wav\n\r\n/lists/Friday.m3u8\r\n/exports/collection\n");
  EXPECT_EQ(ChooseSampleFile(), L"/music/kick.wav");
  EXPECT_EQ(answers.Left(), "\r\n/lists/Friday.m3u8\r\n/exports/collection\n") << "the file keeps the rest";
  EXPECT_EQ(ChoosePlaylistFile(), L"") << "an empty line cancels";
  EXPECT_EQ(OpenFileDialog(L"Import", L"Playlists", L"*.m3u8"), L"/lists/Friday.m3u8");
  EXPECT_EQ(SaveFileDialog(L"Export", L"collection.xml", L"XML", L"xml"), L"/exports/collection.xml");
  EXPECT_EQ(answers.Left(), "");
  EXPECT_EQ(PickFolderDialog(L"Folder", L""), L"") << "used up: cancelled, never a real dialog";
}

TEST(FileDialogAnswers, ASampleChosenInTheDialogLoadsOntoThePad) {
  TempHome home;
  TestMode = false;
  ResetDecksForTest();
  OpenUiPosts(nullptr);
  static ClickTrackFolder folder;
  ClickTrack spec;
  spec.seconds = 2.0;
  const std::string sample = folder.Make(spec, "snare");
  ASSERT_FALSE(sample.empty());
  AnswersFile answers(home.path() + "/answers", sample + "\n");
  constexpr int kPad = 3;

  RunSamplerPadCommand(kPad, kPadLoadSound);
  EXPECT_EQ(Settings.Slot[kPad], Utf8ToWide(sample)) << "the pad remembers the chosen file";
  bool installed = false;
  for (auto end = std::chrono::steady_clock::now() + 20s; !installed && std::chrono::steady_clock::now() < end;) {
    DrainUiPosts([&](const UiPost& post) {
      if (post.message != kSamplerSlotPost) return;
      std::unique_ptr<TrackPtr> sound(static_cast<TrackPtr*>(post.lparam));
      InstallSamplerSound(static_cast<int>(post.wparam), sound ? *sound : nullptr);
      installed = true;
    });
    std::this_thread::sleep_for(5ms);
  }
  ASSERT_TRUE(installed);
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  ASSERT_TRUE(Engine.pads[kPad].track);
  EXPECT_EQ(Engine.pads[kPad].name, L"SNARE");
  EXPECT_EQ(Engine.pads[kPad].track->frames, 88200u) << "the 2 s file itself";
  Engine.pads[kPad] = SamplerPad{};
}

TEST(FileDialogChild, AChildIsRunWithoutAShellAndItsOutputAndStatusCollected) {
  std::string output;
  EXPECT_TRUE(RunDialogCommand({"printf", "%s\\n", "/a b/$HOME;`x`"}, &output));
  EXPECT_EQ(output, "/a b/$HOME;`x`\n") << "arguments reach the program untouched";
  EXPECT_FALSE(RunDialogCommand({"sh", "-c", "echo /half; exit 1"}, &output)) << "status 1 is a cancel";
  EXPECT_EQ(output, "/half\n");
  EXPECT_FALSE(RunDialogCommand({"veldmix-no-such-program"}, &output));

  ChildProcess big;
  ASSERT_TRUE(big.Start({"head", "-c", std::to_string(kMaxChildOutputBytes * 2), "/dev/zero"}, nullptr));
  while (big.Running(kDialogPollMs)) {
  }
  EXPECT_EQ(big.ExitCode(), 0) << "the pipe is drained past the cap, so the child finishes";
  EXPECT_EQ(big.Output().size(), kMaxChildOutputBytes);

  ChildProcess slow;
  std::wstring error;
  ASSERT_TRUE(slow.Start({"sleep", "30"}, &error));
  EXPECT_TRUE(slow.Running(0));
  const auto before = std::chrono::steady_clock::now();
  slow.Kill();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
  EXPECT_FALSE(slow.Running(0));
  EXPECT_EQ(slow.ExitCode(), -1);
  EXPECT_FALSE(slow.Start({"sleep", "1"}, &error)) << "one child per object";
}

// The window keeps drawing frames while a dialog runs: the frame timer's paints reach the
// window procedure, whose frames end the one-frame input.
TEST(FileDialogChild, FramesKeepComingWhileTheDialogRuns) {
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  std::wstring error;
  ASSERT_TRUE(StartWindowing(&error)) << WideToUtf8(error);
  ASSERT_TRUE(OpenMainWindow(L"dialog test", 800, 600));
  SetWindowTimer(1, 15);
  Input.pressed = true;
  const auto start = std::chrono::steady_clock::now();
  std::string output;
  // Open long enough for the timer's first frames, in a checked build too.
  const std::string open = "sleep " + std::to_string(0.3 * kSanitizerWaitScale) + "; echo /chosen";
  const bool ok = RunDialogCommand({"sh", "-c", open}, &output);
  const auto took = std::chrono::steady_clock::now() - start;
  const bool framed = !Input.pressed;
  StopWindowing();
  EXPECT_TRUE(ok);
  EXPECT_EQ(output, "/chosen\n");
  EXPECT_TRUE(framed) << "a frame ran while the dialog was open";
  EXPECT_LT(took, 2s * kSanitizerWaitScale) << "the dialog's end was seen late";
}

// ---- real zenity windows (only with a display, zenity and xdotool) ---------------------------

constexpr auto kDialogSettle = 700ms;

bool Available(const char* program) {
  std::string output;
  return RunDialogCommand({"sh", "-c", std::string("command -v ") + program}, &output);
}

// Runs xdotool with the arguments; true when it succeeded.
bool XDoTool(std::vector<std::string> args, std::string* output = nullptr) {
  args.insert(args.begin(), "xdotool");
  ChildProcess child;
  if (!child.Start(args, nullptr)) return false;
  while (child.Running(kDialogPollMs)) {
  }
  if (output) *output = child.Output();
  return child.ExitCode() == 0;
}

// Waits for a shown window with this exact title and returns its id; empty after 15 s. The
// dialog gets a moment to take the keyboard once it shows.
std::string FindWindow(const std::string& title) {
  for (auto end = std::chrono::steady_clock::now() + 15s; std::chrono::steady_clock::now() < end;) {
    std::string ids;
    if (XDoTool({"search", "--onlyvisible", "--name", "^" + title + "$"}, &ids) && !ids.empty()) {
      std::this_thread::sleep_for(kDialogSettle);
      return ids.substr(0, ids.find('\n'));
    }
    std::this_thread::sleep_for(100ms);
  }
  return std::string();
}

// Repeats `act` on the window until it is gone; one a loaded machine still shows after 20 s is
// closed, so the dialog returns (and the test fails on what came back) instead of hanging.
void UntilGone(const std::string& title, const std::string& id, const std::function<void()>& act) {
  for (auto end = std::chrono::steady_clock::now() + 20s; std::chrono::steady_clock::now() < end;) {
    act();
    for (auto wait = std::chrono::steady_clock::now() + 3s; std::chrono::steady_clock::now() < wait;) {
      std::string ids;
      if (!XDoTool({"search", "--onlyvisible", "--name", "^" + title + "$"}, &ids) || ids.empty()) return;
      std::this_thread::sleep_for(100ms);
    }
  }
  XDoTool({"windowclose", id});
}

class FileDialogZenity : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY") || !Available("zenity") || !Available("xdotool"))
      GTEST_SKIP() << "needs a display, zenity and xdotool (tests/e2e/keyboard_dialogs.sh provides them)";
    unsetenv(kDialogAnswersVariable);
  }
  // Runs the dialog on this thread while `user` acts on its window from another.
  std::wstring WithUser(const std::function<std::wstring()>& dialog, const std::function<void()>& user) {
    std::thread hand(user);
    const std::wstring result = dialog();
    hand.join();
    return result;
  }
};

TEST_F(FileDialogZenity, AZenityWindowOpensAndItsChoiceOrCancelComesBack) {
  TempHome home;
  const std::string list = home.path() + "/Friday Set.M3U8";
  WriteRaw(list, "#EXTM3U\n");
  std::string seen;
  const std::wstring chosen = WithUser(ChoosePlaylistFile, [&] {
    seen = FindWindow("Import a playlist");
    if (seen.empty()) return;
    UntilGone("Import a playlist", seen, [&] {
      XDoTool({"windowfocus", "--sync", seen});
      XDoTool({"key", "--clearmodifiers", "ctrl+l"});
      XDoTool({"key", "--clearmodifiers", "ctrl+a"});  // a second try replaces the first one's text
      XDoTool({"type", "--delay", "5", list});
      std::this_thread::sleep_for(kDialogSettle);  // the location entry completes what was typed
      XDoTool({"key", "Return"});
    });
  });
  EXPECT_FALSE(seen.empty()) << "no zenity window titled \"Import a playlist\" appeared";
  EXPECT_EQ(chosen, Utf8ToWide(list));

  const std::wstring cancelled = WithUser([] { return PickFolderDialog(L"Add a music folder", L"/"); }, [&] {
    seen = FindWindow("Add a music folder");
    if (seen.empty()) return;
    UntilGone("Add a music folder", seen, [&] {
      XDoTool({"windowfocus", "--sync", seen});
      XDoTool({"key", "Escape"});
    });
  });
  EXPECT_FALSE(seen.empty()) << "no folder picker appeared";
  EXPECT_EQ(cancelled, L"");
}

}  // namespace
