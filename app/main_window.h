#pragma once
// The main window and the shell state around it: creating and loading the window, the command
// line and the hand-off from later starts, the window procedure, the frame, and the loop.
// Everything here runs on the UI thread.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct WindowEvent;
enum class FrameAsk : uint8_t;

inline constexpr wchar_t kWindowTitle[] = L"Veldmix";
inline constexpr wchar_t kWindowCaption[] = L"VELDMIX " VELDMIX_VERSION;

// Timer 1 runs the frames; timer 2 debounces device changes into one controller rescan.
inline constexpr int kFrameTimer = 1;
inline constexpr unsigned kFrameTimerMs = 15;
inline constexpr int kDeviceTimer = 2;
inline constexpr unsigned kDeviceDebounceMs = 800;

// Sizes in device-independent pixels.
inline constexpr int kCreateWidth = 1400, kCreateHeight = 900;       // before placement
inline constexpr int kPreferredWidth = 1500, kPreferredHeight = 980;  // placed size, at most
inline constexpr int kMaximiseBelowWidth = 1340, kMaximiseBelowHeight = 880;
inline constexpr int kMinimumWidth = 1340, kMinimumHeight = 840;

inline constexpr int kCommandAbout = 104;
inline constexpr int kCommandExit = 105;

inline constexpr int kCrashNoticeMs = 9000;

// --- Shell state ---

// The window's DPI / 96: mouse coordinates are divided by it, layout sizes multiplied.
extern float UiScale;

// What a test switch asked for; filled in test mode before the loop.
struct SelfTestRequest {
  bool active = false;
  bool stemTest = false, karaokeTest = false, featureTest = false;
  std::wstring outputPath;  // a WAV file or a folder
  std::wstring trackPath;   // the track for deck A
  std::wstring third, fourth;
};
extern SelfTestRequest SelfTest;
// The self-test run sits above the shell: its step, run last in every tick, and its count of
// failed checks, which the exit code follows. The program's entry sets them.
extern void (*SelfTestTickHook)();
extern int (*SelfTestFailuresHook)();

// --- Start ---

// True when the arguments ask for a test run: at least three, the first one of "--selftest",
// "--stemtest", "--karaoketest", "--featuretest" (whole text, case-sensitive).
bool IsTestRun(const std::vector<std::wstring>& arguments);
// What the command line may hold, as printed for --help.
std::wstring CommandLineHelp();
// The first argument of a normal start that is a switch ("-" first) the program does not know,
// --help among them, or a test switch without its two paths; empty when every argument is a
// file to open. (A file whose name starts with "-" is named as "./-name".)
std::wstring FirstBadSwitch(const std::vector<std::wstring>& arguments);
// What a bad switch is answered with: what is wrong with it (nothing for --help and -h), then the
// help text.
std::wstring BadSwitchText(const std::wstring& bad);
// Creates, places and shows the main window and loads everything the first frame needs. False
// when the window cannot be made.
bool CreateMainWindow();
// After the window: a test run fills SelfTest and loads its track; a normal run loads the files
// onto the decks in order (two, four with four decks) or, with none, restores the session when
// that setting is on.
void LoadCommandLine(const std::vector<std::wstring>& arguments, bool testRun);
// Runs the window procedure until the window is gone; returns the exit code it posted. Stop
// signals lead to the same close as the close button.
int RunMessageLoop();

// --- The window ---

// Handles one event of the main window.
void MainWndProc(const WindowEvent& event);
// The window goes away: frame timer off, mark removed, StopAndSaveAll, posts closed, the loop
// told to end with 1 when a self-test check failed (SelfTestFailures), else 0. Harmless when
// already gone.
void DestroyMainWindow();
// Handles every worker completion queued for the UI thread now, as the loop would.
void DispatchUiPosts();
// One frame of the window at its size and scale (DriveFrame): the tick, then the screen drawn when
// it can be and the ask or a change calls for it; then the frame timer set for the next frame due
// (NextFrameDueMs): every kFrameTimerMs while frames are due that often, else once, that late.
void RenderFrame(FrameAsk ask);
// Something happened that the screen may show (an event, a worker's result): the frames come
// every kFrameTimerMs again from now until nothing is due.
void WakeFrames();
// The frame timer's period now (for measurements and tests): kFrameTimerMs while frames run.
unsigned FrameTimerPeriodMs();
// The About box (modal; the loop waits while it is open).
void ShowAboutBox();

// --- Hand-off from later starts ---

// Opens what a second start handed over: folders go to the library, files onto free decks.
void OpenHandedOverPaths(const std::wstring& text);
// A deck for one handed-over file: of the decks shown left and right (left first), one that is
// neither playing nor loading and holds no track, else one that is neither playing nor loading;
// never one already in `chosen`. -1 when none. Takes the engine lock briefly.
int PickHandOffDeck(const std::array<bool, 4>& chosen);
