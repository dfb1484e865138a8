#include "app/shell_hooks.h"

#include <algorithm>
#include <string>
#include <utility>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "app/main_window.h"
#include "base/settings.h"
#include "broadcast/audio_stream.h"
#include "broadcast/mix_recording.h"
#include "broadcast/video_feed.h"
#include "engine/automix.h"
#include "engine/deck_commands.h"
#include "engine/sampler_bank.h"
#include "karaoke/karaoke_show.h"
#include "library/now_playing.h"
#include "library/track_lists.h"
#include "library/track_view.h"
#include "platform/folders.h"
#include "platform/ini.h"
#include "settings/demo_tracks.h"
#include "settings/settings_screen.h"
#include "settings/updates.h"
#include "ui/file_dialogs.h"
#include "ui/language.h"

namespace {

// A damaged Count must not make the load read millions of keys.
constexpr int32_t kMaxMusicFolders = 1000;

std::wstring Indexed(const wchar_t* stem, int i) { return fmt::format(L"{}{}", stem, i); }

void LoadMusicFolders(const IniDocument& ini) {
  MusicFolders.clear();
  int32_t count = IniInt(ini, L"Library", L"Count", -1);
  if (count < 0) {
    for (const std::wstring& folder : {MusicFolder(), DownloadsFolder(), DesktopFolder()})
      if (FolderExists(folder)) MusicFolders.push_back(folder);
  } else {
    count = std::min(count, kMaxMusicFolders);
    for (int32_t i = 0; i < count; ++i) {
      std::wstring folder = IniString(ini, L"Library", Indexed(L"Folder", i), L"");
      if (!folder.empty()) MusicFolders.push_back(std::move(folder));
    }
  }
  const int32_t last = std::max(static_cast<int32_t>(MusicFolders.size()) - 1, 0);
  ViewIndex = std::clamp(IniInt(ini, L"Library", L"Selected", 0), 0, last);
}

void StoreMusicFolders(IniDocument* ini) {
  IniEraseSection(ini, L"Library");
  IniSet(ini, L"Library", L"Count", fmt::format(L"{}", MusicFolders.size()));
  IniSet(ini, L"Library", L"Selected", fmt::format(L"{}", ViewKind == kViewFolder ? ViewIndex : 0));
  for (size_t i = 0; i < MusicFolders.size(); ++i)
    IniSet(ini, L"Library", Indexed(L"Folder", static_cast<int>(i)), MusicFolders[i]);
}

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
  DeckLoadedHook = AnnounceDeckLoaded;
  AutomixQueue = AutomixQueueHooks{.count = AutomixListSize, .take = TakeFromAutomixList};
  VideoPreviewShownHook = VideoPreviewShown;
  NowPlayingOutlet = NowPlayingOutlets{
      .streamOnAir = StreamOnAir, .setStreamTitle = UpdateLiveStreamTitle, .addToRecording = AddToRecordingTracklist};
  DialogWindowEventHook = MainWndProc;
  CloseMainWindowHook = DestroyMainWindow;
  TestOutputPathHook = TestOutputPath;
  SettingsParts = SettingsFileParts{.samplerBank = &SamplerBank,
                                    .samplerBanks = kSamplerBanks,
                                    .loadFolders = LoadMusicFolders,
                                    .storeFolders = StoreMusicFolders,
                                    .firstRunLanguage = DefaultUiLanguage};
}
