#include "app/shell_hooks.h"

#include <string>

#include "app/main_window.h"
#include "app/shutdown.h"
#include "base/log.h"
#include "base/settings.h"
#include "broadcast/audio_stream.h"
#include "broadcast/mix_recording.h"
#include "broadcast/video_feed.h"
#include "control/macros.h"
#include "engine/automix.h"
#include "engine/deck_commands.h"
#include "engine/sampler_bank.h"
#include "karaoke/karaoke_draw.h"
#include "karaoke/karaoke_show.h"
#include "library/folder_scan.h"
#include "library/library_file.h"
#include "library/music_folders.h"
#include "library/now_playing.h"
#include "library/track_lists.h"
#include "library/track_sort.h"
#include "library/track_view.h"
#include "platform/clock.h"
#include "platform/log_sink.h"
#include "platform/window.h"
#include "screens/top_bar.h"
#include "settings/demo_tracks.h"
#include "settings/settings_screen.h"
#include "settings/updates.h"
#include "ui/file_dialogs.h"
#include "ui/frame_driver.h"
#include "ui/language.h"
#include "ui/text_field.h"

namespace {

// A finished load: karaoke follows its stage deck, the browser its deck marks.
void AnnounceDeckLoaded(int deck, bool loaded) {
  KaraokeDeckLoaded(deck, loaded);
  if (loaded) RebuildView();
}

bool VideoPreviewShown() { return SettingsOpen && SettingsPage == kSettingsPageVideo; }

std::wstring TestOutputPath() { return SelfTest.outputPath; }

bool StreamOnAir() { return LiveStreamState() == kStreamOnAir; }

}  // namespace

void InstallShellHooks() {
  // platform/
  PlatformLogHook = WriteLogText;
  // base/
  SettingsFileHooks = SettingsFileHookSet{.samplerBank = &SamplerBank,
                                          .samplerBanks = kSamplerBanks,
                                          .loadFolders = LoadMusicFolders,
                                          .storeFolders = StoreMusicFolders,
                                          .firstRunLanguage = DefaultUiLanguage};
  // engine/
  DeckLoadedHook = AnnounceDeckLoaded;
  AutomixQueueHooks = AutomixQueueHookSet{.count = AutomixListSize, .take = TakeFromAutomixList};
  // library/
  ListViewHooks = ListViewHookSet{.showList = ShowList, .refreshList = RefreshShownList};
  NowPlayingHooks = NowPlayingHookSet{
      .streamOnAir = StreamOnAir, .setStreamTitle = UpdateLiveStreamTitle, .addToRecording = AddToRecordingTracklist};
  StartScanWorkerHook = LaunchFolderScan;
  StartSortWorkerHook = StartSortThread;
  // broadcast/, karaoke/, control/
  VideoPreviewShownHook = VideoPreviewShown;
  KaraokeTranslateHook = Translate;
  MacroClockHook = MonotonicSeconds;
  // ui/
  DialogWindowEventHook = MainWndProc;
  FrameNowHook = MonotonicMs;
  TopBarClockHook = NowLocal;
  ClipboardReadHook = ReadClipboardText;
  ClipboardWriteHook = WriteClipboardText;
  // settings/
  CloseMainWindowHook = CloseWhenSaved;
  TestOutputPathHook = TestOutputPath;
}
