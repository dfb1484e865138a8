// The program's start leaves no hook empty: a lower layer never finds the way up unset.
#include <gtest/gtest.h>

#include "app/main_window.h"
#include "app/shell_hooks.h"
#include "base/settings.h"
#include "broadcast/video_feed.h"
#include "control/macros.h"
#include "engine/automix.h"
#include "engine/deck_commands.h"
#include "karaoke/karaoke_draw.h"
#include "library/library_file.h"
#include "library/now_playing.h"
#include "library/track_lists.h"
#include "platform/log_sink.h"
#include "selftest/selftest_tick.h"
#include "settings/demo_tracks.h"
#include "settings/updates.h"
#include "ui/file_dialogs.h"
#include "ui/frame_driver.h"
#include "ui/text_field.h"

namespace {

// As the program's entry (and the tool's) starts.
TEST(ShellHooks, NoneIsEmptyOnceTheStartHasSetThem) {
  InstallShellHooks();
  InstallSelfTestHooks();

  EXPECT_TRUE(PlatformLogHook);
  EXPECT_TRUE(SettingsFileHooks.samplerBank);
  EXPECT_GT(SettingsFileHooks.samplerBanks, 1);
  EXPECT_TRUE(SettingsFileHooks.loadFolders);
  EXPECT_TRUE(SettingsFileHooks.storeFolders);
  EXPECT_TRUE(SettingsFileHooks.firstRunLanguage);
  EXPECT_TRUE(DeckLoadedHook);
  EXPECT_TRUE(AutomixQueueHooks.count);
  EXPECT_TRUE(AutomixQueueHooks.take);
  EXPECT_TRUE(ListViewHooks.showList);
  EXPECT_TRUE(ListViewHooks.refreshList);
  EXPECT_TRUE(NowPlayingHooks.streamOnAir);
  EXPECT_TRUE(NowPlayingHooks.setStreamTitle);
  EXPECT_TRUE(NowPlayingHooks.addToRecording);
  EXPECT_TRUE(StartScanWorkerHook);
  EXPECT_TRUE(VideoPreviewShownHook);
  EXPECT_TRUE(KaraokeTranslateHook);
  EXPECT_TRUE(MacroClockHook);
  EXPECT_TRUE(DialogWindowEventHook);
  EXPECT_TRUE(FrameNowHook);
  EXPECT_TRUE(ClipboardReadHook);
  EXPECT_TRUE(ClipboardWriteHook);
  EXPECT_TRUE(CloseMainWindowHook);
  EXPECT_TRUE(TestOutputPathHook);
  EXPECT_TRUE(SelfTestTickHook);
  EXPECT_TRUE(SelfTestFailuresHook);
}

}  // namespace
