#include "screens/tag_forms.h"

#include <vector>

#include "base/tags.h"
#include "base/track_info.h"
#include "engine/audio_file.h"
#include "engine/deck_view.h"
#include "library/relocate.h"
#include "library/tag_editing.h"
#include "ui/file_dialogs.h"
#include "ui/modal.h"

void EditTags(const std::wstring& path) {
  TrackTags tags;
  ReadTags(path, &tags);
  std::vector<ModalField> fields = {{L"Title", tags.title},
                                    {L"Artist", tags.artist},
                                    {L"Album", tags.album},
                                    {L"Genre", tags.genre},
                                    {L"Comment", tags.comment}};
  OpenModal(L"Edit tags — " + FileNameOf(path), std::move(fields), L"SAVE", [path](const std::vector<ModalField>& f) {
    if (f.size() != 5) return;
    TrackTags edited;
    edited.title = f[0].value;
    edited.artist = f[1].value;
    edited.album = f[2].value;
    edited.genre = f[3].value;
    edited.comment = f[4].value;
    SaveTags(path, edited);
  });
}

void EditMyTags(const std::wstring& path) {
  const TrackInfo* record = FindTrackInfo(path);
  OpenModal(L"My Tags — " + FileStem(path),
            {ModalField{L"Tags, separated by commas (e.g. Vocal, Opener, Summer)", record ? record->myTags : L""}},
            L"SAVE", [path](const std::vector<ModalField>& f) {
              if (!f.empty()) StoreMyTags(path, f[0].value);
            });
}

void FindMovedFiles() {
  const std::wstring folder = PickFolderDialog(L"Where is your music now? Choose the folder to search", L"");
  if (!folder.empty()) StartRelocate(folder);
}
