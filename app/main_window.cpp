#include "app/main_window.h"
#include "app/frame_tick.h"
#include "karaoke/karaoke_rotation.h"
#include "platform/draw_surface.h"
#include "ui/glow.h"
#include "ui/modal.h"

#include <algorithm>
#include <filesystem>
#include <mutex>

#include "app/load_settings.h"
#include "app/session.h"
#include "app/shutdown.h"
#include "app/single_instance.h"
#include "base/log.h"
#include "base/palette.h"
#include "base/settings.h"
#include "base/status_message.h"
#include "base/test_mode.h"
#include "broadcast/mix_recording.h"
#include "control/midi_devices.h"
#include "control/remote_server.h"
#include "control/timecode.h"
#include "engine/audio_output.h"
#include "engine/audio_routing.h"
#include "engine/control_input.h"
#include "engine/deck_commands.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/sampler.h"
#include "engine/side_slots.h"
#include "library/backups.h"
#include "library/crates.h"
#include "library/database.h"
#include "library/track_lists.h"
#include "library/track_view.h"
#include "platform/clock.h"
#include "platform/folders.h"
#include "platform/memory_lock.h"
#include "platform/second_window.h"
#include "platform/signals.h"
#include "platform/text.h"
#include "platform/ui_post.h"
#include "platform/window.h"
#include "settings/tour.h"
#include "ui/language.h"

float UiScale = 1.0f;
SelfTestRequest SelfTest;
void (*SelfTestTickHook)() = nullptr;
int (*SelfTestFailuresHook)() = nullptr;

namespace {

// The loop looks at stop signals at least this often, whatever else happens; as rarely as an
// idle frame, so that a resting program wakes no more for them.
constexpr unsigned kStopPollMs = kIdleFrameMs;
// The frame timer's period as last set; 0 when it is not running.
unsigned FramePeriod = 0;

// A timer at the frame period keeps its beat; any other period is the wait for one due frame.
void ArmFrameTimer(unsigned periodMs) {
  if (!MainWindowOpen() || (periodMs == kFrameTimerMs && FramePeriod == kFrameTimerMs)) return;
  FramePeriod = periodMs;
  SetWindowTimer(kFrameTimer, periodMs);
}

constexpr const wchar_t* kTestSwitches[] = {L"--selftest", L"--stemtest", L"--karaoketest", L"--featuretest"};
constexpr size_t kTestRunMinArguments = 3;
// Long enough to be read past the first-run tour that opens with it.
constexpr int kSettingsNotSavedMs = 12000;

int Scaled(int dips) { return static_cast<int>(static_cast<float>(dips) * UiScale); }

// Centres the window in the work area of its display at the preferred size; true when it
// should start maximised because the work area is too small.
bool PlaceMainWindow() {
  const PixelRect work = WindowWorkArea();
  if (work.w <= 0 || work.h <= 0) return false;
  const int width = std::min(work.w, Scaled(kPreferredWidth));
  const int height = std::min(work.h, Scaled(kPreferredHeight));
  PlaceWindow({work.x + (work.w - width) / 2, work.y + (work.h - height) / 2, width, height});
  // A minimum above the work area would keep the window from fitting even when maximised.
  SetWindowMinimumSize(std::min(work.w, Scaled(kMinimumWidth)), std::min(work.h, Scaled(kMinimumHeight)));
  return width < Scaled(kMaximiseBelowWidth) || height < Scaled(kMaximiseBelowHeight);
}

// The newest dated backup that holds a library database; empty when there is none.
std::wstring NewestLibraryBackup() {
  const std::wstring dir = BackupsDir();
  if (dir.empty()) return {};
  std::string newest;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(WideToUtf8(dir), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().native();
    std::error_code fileEc;
    if (name.size() == kBackupNameChars && name > newest &&
        std::filesystem::is_regular_file(it->path() / WideToUtf8(kDatabaseFileName), fileEc))
      newest = name;
  }
  return newest.empty() ? std::wstring() : JoinPath(dir, Utf8ToWide(newest));
}

// A library that was found but not loaded: what was found, that the file stays as it is, and
// where the last good copy of it is.
void SayLibraryNotLoaded() {
  const std::wstring backup = NewestLibraryBackup();
  WriteLog(L"Library: database.tsv wasn't loaded ({}); saving is off for this run; the last good backup: {}",
           LibraryRefusal, backup.empty() ? L"none" : backup);
  // Without a word the user's cue and grid edits would be lost at exit.
  ShowConfirmPrompt(
      L"Library not saved this time",
      backup.empty() ? TranslateFormat(L"Your library database {} was not loaded: {}.\n\nThe file is left as it is; "
                                       L"changes made now won't be saved.\n\nThere is no backup of it yet.",
                                       ShownFolder(DatabasePath()), LibraryRefusal)
                     : TranslateFormat(L"Your library database {} was not loaded: {}.\n\nThe file is left as it is; "
                                       L"changes made now won't be saved.\n\nThe last good backup is in {}.",
                                       ShownFolder(DatabasePath()), LibraryRefusal, ShownFolder(backup)),
      L"OK", L"", nullptr, nullptr, L"!", Pal.Yellow);
}

// Said once: whether a machine short of memory can page out the code the audio thread runs.
void LogMemoryLock() {
  std::string reason;
  switch (LockProgramMemory(&reason)) {
    case MemoryLock::kAll: WriteLog(L"Memory: the program's pages stay in memory"); break;
    case MemoryLock::kCode:
      WriteLog(L"Memory: only the audio output's code stays in memory ({})", Utf8ToWide(reason));
      break;
    case MemoryLock::kRefused:
      WriteLog(L"Memory: pages may be swapped out or dropped under memory pressure ({})", Utf8ToWide(reason));
      break;
  }
}

std::wstring FileStem(const std::wstring& path) {
  return PathFromBytes(std::filesystem::path(PathToBytes(path)).stem().string());
}

}  // namespace

// --- Start ---

bool IsTestRun(const std::vector<std::wstring>& arguments) {
  if (arguments.size() < kTestRunMinArguments) return false;
  return std::any_of(std::begin(kTestSwitches), std::end(kTestSwitches),
                     [&](const wchar_t* s) { return arguments[0] == s; });
}

std::wstring CommandLineHelp() {
  return L"Usage: veldmix [TRACK...]\n"
         L"  Opens Veldmix with the tracks on decks A and B (A to D with four decks). When Veldmix is\n"
         L"  already running, the tracks go to its free decks and folders to its music folders.\n"
         L"\n"
         L"Test runs (saving nothing, ignoring a running copy):\n"
         L"  --selftest OUTPUT TRACK [ARG [ARG]]     the basic self-test: plays TRACK, records OUTPUT\n"
         L"  --stemtest OUTPUT TRACK [ARG [ARG]]     the stem self-test\n"
         L"  --karaoketest OUTPUT TRACK [ARG [ARG]]  the karaoke self-test\n"
         L"  --featuretest OUTPUT TRACK [ARG [ARG]]  the feature self-test\n"
         L"  --help                                  this text\n";
}

std::wstring FirstBadSwitch(const std::vector<std::wstring>& arguments) {
  for (const std::wstring& argument : arguments)
    if (!argument.empty() && argument[0] == L'-') return argument;
  return {};
}

std::wstring BadSwitchText(const std::wstring& bad) {
  const bool testSwitch = std::any_of(std::begin(kTestSwitches), std::end(kTestSwitches),
                                      [&](const wchar_t* s) { return bad == s; });
  std::wstring text;
  if (testSwitch) text = L"veldmix: " + bad + L" needs an output path and a track\n\n";
  else if (bad != L"--help" && bad != L"-h") text = L"veldmix: unknown switch " + bad + L"\n\n";
  return text + CommandLineHelp();
}

bool CreateMainWindow() {
  if (!OpenMainWindow(kWindowTitle, kCreateWidth, kCreateHeight)) {
    WriteLog(L"Couldn't create the main window");
    return false;
  }
  OpenUiPosts([] { PostWindowNotice(WindowNotice::UiPosts); });
  if (!TestMode) SetInstanceMark();
  SetWindowCaption(kWindowCaption);
  UiScale = WindowDpi() / kBaseDpi;
  const bool maximised = PlaceMainWindow();

  std::wstring fontError;
  if (!LoadFontAliases(&fontError)) WriteLog(L"The font aliases couldn't be loaded ({})", fontError);
  LoadSettings();
  if (const UiText unsaved = SettingsNotSaved(); !unsaved.empty()) {
    WriteLog(L"Said on screen: {}", unsaved);
    ShowStatus(unsaved, kSettingsNotSavedMs);
  }
  LoadDatabase();
  if (LibraryNoSave) {
    SayLibraryNotLoaded();
  } else if (!TestMode) {
    DailyBackup();
  }
  TrackLists = LoadLists();
  if (!TestMode) LoadKaraokeQueue();
  StartControllers();
  StartPhoneRemote();
  StartTimecodeInput();
  SmartCrates = LoadCrates();
  if (!TestMode) LogMemoryLock();  // a test process is not the program the DJ plays from
  StartOutput(Engine, CurrentOutputConfig());
  LoadSamplerAtStart();
  ShowFolder();
  if (!Settings.TourDone && !TestMode) OpenTour();

  SetFramePresenter(PresentFrameImage);
  AcceptFileDrops(true);
  FramePeriod = 0;  // a window made again starts its timer afresh
  ArmFrameTimer(kFrameTimerMs);
  ShowMainWindow(maximised);
  return true;
}

void LoadCommandLine(const std::vector<std::wstring>& arguments, bool testRun) {
  if (testRun) {
    SelfTest.active = true;
    SelfTest.stemTest = arguments[0] == L"--stemtest";
    SelfTest.karaokeTest = arguments[0] == L"--karaoketest";
    SelfTest.featureTest = arguments[0] == L"--featuretest";
    SelfTest.outputPath = arguments[1];
    SelfTest.trackPath = arguments[2];
    SelfTest.third = arguments.size() > 3 ? arguments[3] : std::wstring();
    SelfTest.fourth = arguments.size() > 4 ? arguments[4] : std::wstring();
    if (!SelfTest.karaokeTest) LoadTrack(0, arguments[2]);
    return;
  }
  if (arguments.empty()) {
    if (Settings.RestoreSession) LoadSession();
    return;
  }
  const size_t decks = static_cast<size_t>(DecksInUse());
  for (size_t i = 0; i < arguments.size() && i < decks; ++i) LoadTrack(static_cast<int>(i), arguments[i]);
}

int RunMessageLoop() {
  WindowEvent event;
  for (;;) {
    switch (TakeStopRequest()) {
      case StopRequest::None:
        break;
      case StopRequest::Close:
        WriteLog(L"A stop signal asked Veldmix to close");
        DestroyMainWindow();
        break;
      case StopRequest::SessionEnd:
        event = WindowEvent{};
        event.kind = WindowEventKind::SessionEnd;
        MainWndProc(event);
        break;
    }
    if (!NextWindowEvent(&event, kStopPollMs)) break;
    NoteWindowEvent(event.kind);
    MainWndProc(event);
    PumpSecondWindows();
    if (event.kind != WindowEventKind::Timer && event.kind != WindowEventKind::None) WakeFrames();
  }
  return QuitCode();
}

// --- The window ---

void RenderFrame(FrameAsk ask) {
  int width = 0, height = 0;
  WindowClientSize(&width, &height);
  DriveFrame(FrameWindow{width, height, WindowMinimised(), UiScale}, ask);
  const uint64_t nowMs = MonotonicMs();
  const uint64_t waitMs = std::clamp<uint64_t>(NextFrameDueMs(nowMs) - nowMs, kFrameTimerMs, kIdleFrameMs);
  ArmFrameTimer(static_cast<unsigned>(waitMs));
}

void WakeFrames() { ArmFrameTimer(kFrameTimerMs); }

unsigned FrameTimerPeriodMs() { return FramePeriod; }

void ShowAboutBox() {
  ShowMessageBox(L"About Veldmix",
                 L"Veldmix, Version " VELDMIX_VERSION L"\n\nA DJ program for mixing your own music files.\n"
                 L"Made by Orrelby.",
                 MessageBoxIcon::Info);
}

// --- Hand-off from later starts ---

int PickHandOffDeck(const std::array<bool, 4>& chosen) {
  const int sides[2] = {SideSlots[kLeftSide], SideSlots[kRightSide]};
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  for (bool needEmpty : {true, false}) {
    for (int deck : sides) {
      const DeckState& state = Engine.decks[deck];
      if (chosen[deck] || state.playing || LiveDeckViews[deck].loading) continue;
      if (needEmpty && state.track) continue;
      return deck;
    }
  }
  return -1;
}

void OpenHandedOverPaths(const std::wstring& text) {
  const std::vector<std::wstring> paths = SplitArguments(text);
  if (paths.empty()) return;
  WriteLog(L"Opening what another start handed over: {}", text);
  std::array<bool, 4> chosen{};
  for (const std::wstring& path : paths) {
    if (FolderExists(path)) {
      AddMusicDir(path);
      continue;
    }
    const int deck = PickHandOffDeck(chosen);
    if (deck < 0) {
      ShowStatus(L"The decks are busy \u2014 pause one to load " + FileStem(path));
      continue;
    }
    chosen[deck] = true;
    LoadTrack(deck, path);
  }
}
