// The karaoke panel's forms and menu: a new singer, renaming, the singer row's right-click menu,
// and the karaoke screen's background file.
#include <string>
#include <vector>

#include "base/palette.h"
#include "base/settings.h"
#include "karaoke/karaoke_rotation.h"
#include "karaoke/karaoke_show.h"
#include "library/track_view.h"
#include "screens/karaoke_panel.h"
#include "ui/file_dialogs.h"
#include "ui/modal.h"
#include "ui/popup_menu.h"

namespace {

constexpr int32_t kBackgroundVideo = 2;  // [Karaoke] Background: VIDEO LOOP

// Menu command ids: fixed entries, then one range per submenu.
enum : uint32_t {
  kSingNow = 1,
  kAddSelected,
  kMoveUp,
  kMoveDown,
  kRename,
  kTakeOut,
  kRemoveFirst = 100,
  kAgainFirst = kRemoveFirst + kSingerMenuSongs,
};

void RenameForm(int singer) {
  if (singer < 0 || static_cast<size_t>(singer) >= Rotation.singers.size()) return;
  OpenModal(L"Rename singer", {ModalField{L"Name", Rotation.singers[static_cast<size_t>(singer)].name, false}}, L"SAVE",
            [singer](const std::vector<ModalField>& fields) {
              if (!fields.empty()) RenameSinger(singer, fields[0].value);
            });
}

const LibraryFile* SelectedRow() {
  return Selection >= 0 && static_cast<size_t>(Selection) < ViewItems.size() ? &ViewItems[static_cast<size_t>(Selection)]
                                                                             : nullptr;
}

}  // namespace

void KaraokeNewSinger(const std::wstring& path) {
  OpenModal(L"New singer", {ModalField{L"Name", L"", false}}, L"ADD", [path](const std::vector<ModalField>& fields) {
    if (!fields.empty()) KaraokeJoinRotation(path, fields[0].value);
  });
}

void SingerMenu(int singer) {
  if (singer < 0 || static_cast<size_t>(singer) >= Rotation.singers.size()) return;
  const KaraokeSinger& who = Rotation.singers[static_cast<size_t>(singer)];
  std::vector<PopupMenuEntry> menu;
  menu.push_back(MenuEntry(L"Sing now", kSingNow, FirstUnsungSong(singer) < 0));
  const LibraryFile* selected = SelectedRow();
  // Only the quotes are translated: the title is the user's text.
  menu.push_back(selected ? MenuEntry(L"Add “" + selected->title + L"”", kAddSelected)
                          : MenuEntry(L"Add the selected track", kAddSelected, true));
  const size_t listed = std::min(who.songs.size(), kSingerMenuSongs);
  if (!who.songs.empty()) {
    PopupMenuEntry remove = MenuEntry(L"Remove a song", 0);
    for (size_t i = 0; i < listed; ++i)
      remove.submenu.push_back(MenuEntry(who.songs[i].title, kRemoveFirst + static_cast<uint32_t>(i), false,
                                         who.songs[i].sung));
    menu.push_back(std::move(remove));
  }
  PopupMenuEntry again = MenuEntry(L"Sing again", 0);
  for (size_t i = 0; i < listed; ++i)
    if (who.songs[i].sung) again.submenu.push_back(MenuEntry(who.songs[i].title, kAgainFirst + static_cast<uint32_t>(i)));
  if (!again.submenu.empty()) menu.push_back(std::move(again));
  menu.push_back(MenuSeparator());
  menu.push_back(MenuEntry(L"Move up", kMoveUp, singer == 0));
  menu.push_back(MenuEntry(L"Move down", kMoveDown, static_cast<size_t>(singer) + 1 >= Rotation.singers.size()));
  menu.push_back(MenuEntry(L"Rename…", kRename));
  menu.push_back(MenuEntry(L"Take out of the rotation", kTakeOut, SingerOnStage() && Stage.currentSinger == singer));
  const std::wstring path = selected ? selected->path : std::wstring();
  // The rotation may change while the menu is open: the choice acts only on the same singer.
  const std::wstring name = who.name;
  const size_t songCount = who.songs.size();
  auto same = [singer, name, songCount](uint32_t) {
    return static_cast<size_t>(singer) < Rotation.singers.size() &&
           Rotation.singers[static_cast<size_t>(singer)].name == name &&
           Rotation.singers[static_cast<size_t>(singer)].songs.size() == songCount;
  };
  ShowPopupMenu(std::move(menu), Pal.Pink, [singer, path](uint32_t id) {
    switch (id) {
      case kSingNow: KaraokeSing(singer); return;
      case kAddSelected: KaraokeAddSong(singer, path); return;
      case kMoveUp: MoveSinger(singer, true); return;
      case kMoveDown: MoveSinger(singer, false); return;
      case kRename: RenameForm(singer); return;
      case kTakeOut: TakeOutSinger(singer); return;
      default: break;
    }
    if (id >= kRemoveFirst && id < kAgainFirst) RemoveKaraokeSong(singer, static_cast<int32_t>(id - kRemoveFirst));
    else if (id >= kAgainFirst && id < kAgainFirst + kSingerMenuSongs)
      SingKaraokeSongAgain(singer, static_cast<int32_t>(id - kAgainFirst));
  }, same);
}

void ChooseKaraokeBackground() {
  const bool video = Settings.Karaoke.Background == kBackgroundVideo;
  const std::wstring file = video ? OpenFileDialog(L"Background video (it loops)", L"Videos",
                                                   L"*.mp4;*.m4v;*.mov;*.wmv;*.avi;*.mkv")
                                  : OpenFileDialog(L"Background picture", L"Pictures",
                                                   L"*.jpg;*.jpeg;*.png;*.bmp;*.gif;*.webp;*.heic");
  if (file.empty()) return;
  Settings.Karaoke.BackgroundFile = file;
  SaveSettings();
}
