// The main window procedure: input into the frame's input record, the frame from the timer and
// paint, the hand-off of later starts, file drops, and every worker completion.
#include <iterator>
#include <memory>

#include "app/frame_tick.h"
#include "app/keyboard.h"
#include "app/main_window.h"
#include "app/shutdown.h"
#include "app/single_instance.h"
#include "base/log.h"
#include "base/status_message.h"
#include "base/track.h"
#include "control/hid_devices.h"
#include "control/hid_reports.h"
#include "control/midi_devices.h"
#include "control/midi_input.h"
#include "control/remote_state.h"
#include "engine/audio_file.h"
#include "engine/control_input.h"
#include "engine/deck_commands.h"
#include "engine/deck_view.h"
#include "engine/jog_loops.h"
#include "engine/sampler.h"
#include "engine/sandbox.h"
#include "engine/side_slots.h"
#include "engine/stem_controls.h"
#include "engine/transport.h"
#include "karaoke/deck_lyrics.h"
#include "library/ai_set.h"
#include "library/analysis_queue.h"
#include "library/cover_art.h"
#include "library/import_merge.h"
#include "library/import_worker.h"
#include "library/relocate.h"
#include "library/track_view.h"
#include "platform/folders.h"
#include "platform/second_window.h"
#include "platform/ui_post.h"
#include "platform/window.h"
#include "screens/ai_set_dialog.h"
#include "screens/main_screen.h"
#include "settings/updates.h"
#include "ui/draw.h"

namespace {

// Pad modes whose held pads hold a loop roll until the key goes up.

// --- Worker completions ---

// One completion number: what applies its result, and what frees a result that is never applied
// (posts still queued when the window goes). Null handle: the part that posts it does not exist
// yet, so nothing can arrive. Null discard: the post carries no heap result.
struct CompletionRoute {
  int message;
  const wchar_t* what;
  void (*handle)(const UiPost& post);
  void (*discard)(const UiPost& post);
};

void HandleDeckLoad(const UiPost& post) {
  FinishDeckLoad(post.wparam, static_cast<DeckLoadResult*>(post.lparam));
}
void DiscardDeckLoad(const UiPost& post) { FreeDeckLoadResult(static_cast<DeckLoadResult*>(post.lparam)); }

void HandlePrelisten(const UiPost& post) { OnPrelistenReady(post.wparam, static_cast<TrackPtr*>(post.lparam)); }
void DiscardSound(const UiPost& post) { delete static_cast<TrackPtr*>(post.lparam); }

void HandleSamplerSlot(const UiPost& post) {
  std::unique_ptr<TrackPtr> holder(static_cast<TrackPtr*>(post.lparam));
  InstallSamplerSound(static_cast<int>(post.wparam), holder ? std::move(*holder) : TrackPtr());
}

void HandleStatusText(const UiPost& post) {
  std::unique_ptr<UiText> text(static_cast<UiText*>(post.lparam));
  if (text) ShowStatus(std::move(*text));
}
void DiscardStatusText(const UiPost& post) { delete static_cast<UiText*>(post.lparam); }

void HandleMidi(const UiPost& post) {
  OnMidiMessage(static_cast<uint32_t>(post.wparam));
  InvalidateWindow();
}

void HandleStems(const UiPost& post) { OnStemsReady(static_cast<StemResult*>(post.lparam)); }
void DiscardStems(const UiPost& post) { FreeStemResult(static_cast<StemResult*>(post.lparam)); }

void HandleScanBatch(const UiPost& post) {
  ApplyScanBatch(static_cast<uint32_t>(post.wparam), static_cast<std::vector<LibraryFile>*>(post.lparam));
}
void DiscardScanBatch(const UiPost& post) { delete static_cast<std::vector<LibraryFile>*>(post.lparam); }
void HandleScanFinished(const UiPost& post) { FinishFolderScan(static_cast<uint32_t>(post.wparam)); }

void HandleAnalysed(const UiPost& post) {
  ApplyAnalysisResult(static_cast<uint32_t>(post.wparam), static_cast<AnalysisResult*>(post.lparam));
}
void DiscardAnalysed(const UiPost& post) { delete static_cast<AnalysisResult*>(post.lparam); }
void HandleAnalysisFinished(const UiPost& post) { FinishAnalysis(static_cast<uint32_t>(post.wparam)); }

void HandleAiSet(const UiPost& post) { ApplyAiSet(static_cast<AiJob*>(post.lparam)); }
void DiscardAiSet(const UiPost& post) { delete static_cast<AiJob*>(post.lparam); }

void HandleLyrics(const UiPost& post) { OnLyricsReady(static_cast<LyricsReply*>(post.lparam)); }
void DiscardLyrics(const UiPost& post) { delete static_cast<LyricsReply*>(post.lparam); }

void HandleArtLoaded(const UiPost& post) { OnArtLoaded(static_cast<ArtResult*>(post.lparam)); }
void DiscardArtLoaded(const UiPost& post) { delete static_cast<ArtResult*>(post.lparam); }

void HandleHidReport(const UiPost& post) {
  std::unique_ptr<HidReport> report(static_cast<HidReport*>(post.lparam));
  OnHidReport(*report);
}
void DiscardHidReport(const UiPost& post) { delete static_cast<HidReport*>(post.lparam); }

void HandleRelocate(const UiPost& post) { ApplyRelocate(static_cast<RelocateResult*>(post.lparam)); }
void DiscardRelocate(const UiPost& post) { delete static_cast<RelocateResult*>(post.lparam); }

void HandleUpdate(const UiPost& post) { OnUpdateResult(static_cast<UpdateResult*>(post.lparam)); }
void DiscardUpdate(const UiPost& post) { delete static_cast<UpdateResult*>(post.lparam); }

void HandleRemoteCommand(const UiPost& post) { DispatchRemoteCommand(static_cast<RemoteCommand*>(post.lparam)); }
void DiscardRemoteCommand(const UiPost& post) { delete static_cast<RemoteCommand*>(post.lparam); }

// clang-format off
constexpr CompletionRoute kCompletions[] = {
    {.message = kDeckLoadPost, .what = L"deck load", .handle = HandleDeckLoad, .discard = DiscardDeckLoad},
    {.message = kScanBatchPost, .what = L"folder-scan batch", .handle = HandleScanBatch, .discard = DiscardScanBatch},
    {.message = kScanFinishedPost, .what = L"folder scan finished", .handle = HandleScanFinished, .discard = nullptr},
    {.message = kPrelistenReadyPost, .what = L"prelisten source", .handle = HandlePrelisten, .discard = DiscardSound},
    {.message = kAnalysedPost, .what = L"track analysed", .handle = HandleAnalysed, .discard = DiscardAnalysed},
    {.message = kAnalysisFinishedPost, .what = L"analysis finished", .handle = HandleAnalysisFinished, .discard = nullptr},
    {.message = kSamplerSlotPost, .what = L"sampler slot", .handle = HandleSamplerSlot, .discard = DiscardSound},
    {.message = kMidiMessagePost, .what = L"MIDI message", .handle = HandleMidi, .discard = nullptr},
    {.message = 9, .what = L"export status", .handle = HandleStatusText, .discard = DiscardStatusText},
    {.message = 10, .what = L"cover art", .handle = HandleArtLoaded, .discard = DiscardArtLoaded},
    {.message = kImportPost, .what = L"library import", .handle = HandleImportPost, .discard = DiscardImportPost},
    {.message = kRelocatePost, .what = L"moved files", .handle = HandleRelocate, .discard = DiscardRelocate},
    {.message = 13, .what = L"AI set", .handle = HandleAiSet, .discard = DiscardAiSet},
    {.message = kStemsReadyPost, .what = L"stems", .handle = HandleStems, .discard = DiscardStems},
    {.message = kLyricsReadyPost, .what = L"lyrics", .handle = HandleLyrics, .discard = DiscardLyrics},
    {.message = kHidReportPost, .what = L"HID report", .handle = HandleHidReport, .discard = DiscardHidReport},
    {.message = kRemoteCommandPost, .what = L"remote command", .handle = HandleRemoteCommand, .discard = DiscardRemoteCommand},
    {.message = kUpdatePost, .what = L"update status", .handle = HandleUpdate, .discard = DiscardUpdate},
};
// clang-format on
constexpr int kCompletionCount = 18;

constexpr bool OneRoutePerNumberInOrder() {
  if (std::size(kCompletions) != kCompletionCount) return false;
  for (size_t i = 0; i < std::size(kCompletions); ++i)
    if (kCompletions[i].message != static_cast<int>(i) + 1) return false;
  return true;
}
static_assert(OneRoutePerNumberInOrder(), "kCompletions needs one row per completion 1..18, in order");

const CompletionRoute* RouteOf(int message) {
  if (message < 1 || message > kCompletionCount) return nullptr;
  return &kCompletions[message - 1];
}

void HandleCompletion(const UiPost& post) {
  const CompletionRoute* route = RouteOf(post.message);
  if (!route) WriteLog(L"Dropped a completion with the unknown number {}", post.message);
  else if (!route->handle) WriteLog(L"Dropped a completion ({}) that nothing handles yet", route->what);
  else route->handle(post);
}

void DiscardCompletion(const UiPost& post) {
  const CompletionRoute* route = RouteOf(post.message);
  if (route && route->discard) route->discard(post);
}

// --- Input ---

void SetMousePosition(const WindowEvent& e) {
  Input.x = e.x / UiScale;
  Input.y = e.y / UiScale;
  Input.movePending = false;
}

// A click not yet seen by a frame keeps its position; the move lands after that frame.
void MoveMouse(const WindowEvent& e) {
  if (!(Input.pressed || Input.released || Input.rightPressed)) {
    SetMousePosition(e);
    return;
  }
  Input.pendingX = e.x / UiScale;
  Input.pendingY = e.y / UiScale;
  Input.movePending = true;
}

// The keyboard's Shift as of an input event. A click not yet seen by a frame keeps the Shift it
// was made with (a quick Shift-click lets go of Shift before the frame comes); the change lands
// after that frame.
void TakeShift(const WindowEvent& e) {
  const bool pressPending = Input.pressed || Input.rightPressed;
  const bool isPress = e.kind == WindowEventKind::LeftDown || e.kind == WindowEventKind::RightDown;
  if (pressPending && !isPress) {
    Input.pendingShift = e.shift;
    Input.shiftPending = true;
    return;
  }
  Input.shiftHeld = e.shift;
  Input.shiftPending = false;
}

bool IsInputEvent(WindowEventKind kind) {
  switch (kind) {
    case WindowEventKind::MouseMove:
    case WindowEventKind::LeftDown:
    case WindowEventKind::LeftUp:
    case WindowEventKind::RightDown:
    case WindowEventKind::CaptureLost:
    case WindowEventKind::Wheel:
    case WindowEventKind::KeyDown:
    case WindowEventKind::KeyUp:
      return true;
    default:
      return false;
  }
}

// The deck a file dropped at the point goes to: the deck panel under it, else by the half of
// the window (right half deck B, else deck A).
int DropDeck(float x, float y) {
  const int deck = DeckAtPoint(x / UiScale, y / UiScale);
  if (deck >= 0) return deck;
  int width = 0;
  WindowClientSize(&width, nullptr);
  return x >= static_cast<float>(width) / 2.0f ? 1 : 0;
}

void OnDropFile(const WindowEvent& e) {
  if (FolderExists(e.path)) {
    AddMusicDir(e.path);
    return;
  }
  LoadTrack(DropDeck(e.x, e.y), e.path);
}

void OnCommand(int command) {
  if (command == kCommandAbout) ShowAboutBox();
  else if (command == kCommandExit) CloseWhenSaved();
}

// What Windows treats as a system key: anything with Alt. Alt+"/" and Alt+"?" open the About
// box; Alt+F4 closes the window, as the default procedure would; other Alt keys do nothing.
bool OnSystemKey(const WindowEvent& e) {
  if (!e.alt) return false;
  if (e.symbol == L'/' || e.symbol == L'?') OnCommand(kCommandAbout);
  else if (e.key == Vk::F4) CloseWhenSaved();
  return true;
}

void OnNotice(WindowNotice notice) {
  switch (notice) {
    case WindowNotice::UiPosts:
      DrainUiPosts(HandleCompletion);
      break;
    case WindowNotice::HandOff:
      ServeHandOffs([](uint32_t code, const std::string& data) {
        return HandleCopyData(code, data, [](const std::wstring& text) { OpenHandedOverPaths(text); });
      });
      break;
    case WindowNotice::DeviceChange:
      SetWindowTimer(kDeviceTimer, kDeviceDebounceMs);  // restarting it merges a burst of notices
      break;
  }
}

}  // namespace

void DispatchUiPosts() { DrainUiPosts(HandleCompletion); }

void DestroyMainWindow() {
  if (!MainWindowOpen()) return;
  KillWindowTimer(kFrameTimer);
  RemoveInstanceMark();
  // The karaoke screen, video and visualiser windows go with the main window.
  CloseAllSecondWindows();
  StopAndSaveAll();
  CloseUiPosts(DiscardCompletion);
  CloseMainWindow();
  PostQuit(SelfTestFailuresHook && SelfTestFailuresHook() > 0 ? 1 : 0);
}

void MainWndProc(const WindowEvent& e) {
  if (IsInputEvent(e.kind)) TakeShift(e);
  switch (e.kind) {
    case WindowEventKind::None:
      break;
    case WindowEventKind::Paint:
      RenderFrame(FrameAsk::Paint);
      break;
    case WindowEventKind::Close:
      CloseWhenSaved();
      break;
    case WindowEventKind::SessionEnd:
      WriteLog(L"The desktop session is ending");
      StopAndSaveAll();
      DestroyMainWindow();
      break;
    case WindowEventKind::Resized:
      if (e.width != 0 && e.height != 0) ResizeTargets(e.width, e.height, UiScale);
      break;
    case WindowEventKind::DpiChanged:
      UiScale = e.dpi / kBaseDpi;
      SetWindowMinimumSize(static_cast<int>(kMinimumWidth * UiScale), static_cast<int>(kMinimumHeight * UiScale));
      break;
    case WindowEventKind::Timer:
      if (e.timerId == kDeviceTimer) {
        KillWindowTimer(kDeviceTimer);
        if (MidiDevicesChanged() || HidDevicesChanged()) ScanControllers(true);
      } else {
        RenderFrame(FrameAsk::Timer);
      }
      break;
    case WindowEventKind::MouseMove:
      MoveMouse(e);
      break;
    case WindowEventKind::LeftDown:
      SetMousePosition(e);
      Input.held = true;
      Input.pressed = true;
      Input.doubleClicked = e.doubleClick;
      InvalidateWindow();
      break;
    case WindowEventKind::LeftUp:
      Input.held = false;
      Input.released = true;
      InvalidateWindow();
      break;
    case WindowEventKind::CaptureLost:
      if (Input.held) {
        Input.held = false;
        Input.released = true;
      }
      break;
    case WindowEventKind::RightDown:
      SetMousePosition(e);
      Input.rightPressed = true;
      break;
    case WindowEventKind::Wheel:
      Input.wheel += e.wheel;
      break;
    case WindowEventKind::KeyDown:
      if (e.key == Vk::F10 || !OnSystemKey(e)) OnKeyDown(e.key, e.repeat, e.ctrl, e.shift);
      break;
    case WindowEventKind::KeyUp:
      OnKeyUp(e.key);
      break;
    case WindowEventKind::Character:
      OnCharacter(e.character);
      break;
    case WindowEventKind::DropFile:
      OnDropFile(e);
      break;
    case WindowEventKind::Notice:
      OnNotice(e.notice);
      break;
  }
}
