// The Look page: deck-colour theme, layout, waveforms, deck art, language, the projector
// visualiser and the colour skin (choose, edit, import, export).
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "base/files.h"
#include "base/settings.h"
#include "base/status_message.h"
#include "base/test_mode.h"
#include "broadcast/visualiser.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/text.h"
#include "screens/visualiser_toggle.h"
#include "settings/pages/settings_pages.h"
#include "settings/settings_rows.h"
#include "settings/skin_editor.h"
#include "settings/skins.h"
#include "ui/file_dialogs.h"
#include "ui/glow.h"
#include "ui/language.h"
#include "ui/modal.h"
#include "ui/widgets.h"

namespace {

constexpr int32_t kFirstThemeId = 3100, kLayoutId = 3106, kWaveformsId = 3110, kVisualiserId = 3112;
constexpr int32_t kVisualId = 3580, kChangeVisualId = 3582, kTrackNameId = 3584, kLanguageId = 3586;
constexpr int32_t kDeckArtId = 3588, kSkinId = 3480, kEditColoursId = 3481, kImportId = 3482, kExportId = 3483;

constexpr float kThemeGapDip = 4.0f, kThemeHeightDip = 44.0f, kThemeTextSize = 9.0f, kThemeRowStepDip = 54.0f;
constexpr float kThemeDiscRadius = 4.0f, kThemeDiscDy = 11.0f, kThemeDiscInsetDip = 10.0f;
constexpr float kThemeNameDy = 18.0f, kThemeNameHeightDip = 22.0f, kThemeNameSize = 9.0f;
constexpr float kAfterLayoutHelpDip = 6.0f;
constexpr float kVisualiserButtonWidthDip = 200.0f, kVisualiserButtonHeightDip = 34.0f;
constexpr float kVisualiserButtonSize = 11.0f, kAfterVisualiserButtonDip = 46.0f;
constexpr float kEditWidthDip = 150.0f, kSkinFileButtonWidthDip = 100.0f;
constexpr float kImportDx = 158.0f, kExportDx = 266.0f, kAfterSkinButtonsDip = 40.0f;
constexpr int kSkinListRefreshFrames = 60;  // new files in Skins show within about a second

const std::vector<std::wstring> kLayoutLabels = {L"FULL", L"LIBRARY", L"PERFORMANCE"};
constexpr const wchar_t* kLanguageNames[] = {L"ENGLISH", L"ESPA\u00D1OL", L"DEUTSCH", L"PORTUGU\u00CAS",
                                             L"FRAN\u00C7AIS"};
constexpr int kLanguages = 5;
constexpr const wchar_t* kVisualNames[] = {L"RING",         L"BARS",   L"TUNNEL",    L"WARP",  L"WAVES",
                                           L"KALEIDOSCOPE", L"LASERS", L"SYNTHWAVE", L"SWARM", L"COVER"};
constexpr int kVisuals = 10;

// The skin names, listed again now and then rather than reading the folder every frame.
struct SkinList {
  std::vector<std::wstring> names;
  int framesLeft = 0;
};
SkinList Skins;

const std::vector<std::wstring>& SkinNames() {
  if (--Skins.framesLeft <= 0 || Skins.names.empty()) {
    Skins.names = ListSkins();
    Skins.framesLeft = kSkinListRefreshFrames;
  }
  return Skins.names;
}

void ThemeButtons() {
  RowLabel(L"Theme");
  const float width = (Cursor.controlWidth - 16) / kDeckColourThemes;
  for (int i = 0; i < kDeckColourThemes; ++i) {
    const DeckColourTheme& theme = DeckColourThemes[i];
    const Rc r{Cursor.controlX + (width + kThemeGapDip) * i, Cursor.y, width, kThemeHeightDip};
    if (Button(kFirstThemeId + i, r, L"", ColorOf(theme.decks[0]), Settings.Theme == i, kThemeTextSize)) {
      Settings.Theme = i;
      LoadSkin();
      SaveSettings();
    }
    for (int k = 0; k < 4; ++k)
      FillCircle(r.x + kThemeDiscInsetDip + k * (width - 2 * kThemeDiscInsetDip) / 3, r.y + kThemeDiscDy,
                 kThemeDiscRadius, ColorOf(theme.decks[k]));
    DrawTextAsIs(theme.name, Rc{r.x, r.y + kThemeNameDy, width, kThemeNameHeightDip}, kThemeNameSize,
                 ColorOf(Pal.Dim), kAlignCenter, true, kFontBahnschrift);
  }
  Cursor.y += kThemeRowStepDip;
}

void SkinRows() {
  SectionHeader(L"SKIN");
  const std::vector<std::wstring>& names = SkinNames();
  int index = 0;
  for (int i = 0; i < static_cast<int>(names.size()); ++i)
    if (names[i] == Settings.Skin) {
      index = i;
      break;
    }
  RowLabel(L"Skin");
  if (StepperRow(kSkinId, names[index], &index, static_cast<int>(names.size()))) {
    Settings.Skin = names[index];
    LoadSkin();
    SaveSettings();
  }
  if (RowButton(kEditColoursId, Cursor.columnX, kEditWidthDip, L"EDIT COLOURS\u2026", ColorOf(Pal.DeckA)))
    SkinEditorOpen = true;
  if (RowButton(kImportId, Cursor.columnX + kImportDx, kSkinFileButtonWidthDip, L"IMPORT\u2026", ColorOf(Pal.Text)))
    QueueDeferredAction([] { ImportSkinDialog(); });
  if (RowButton(kExportId, Cursor.columnX + kExportDx, kSkinFileButtonWidthDip, L"EXPORT\u2026", ColorOf(Pal.Text)))
    QueueDeferredAction([] { ExportSkinDialog(); });
  Cursor.y += kAfterSkinButtonsDip;
  HelpLine(L"Skins colour every part of Veldmix. Share them as .vxskin files.");
}

}  // namespace

void DrawLookPage() {
  BeginColumn(0);
  SectionHeader(L"COLOURS");
  ThemeButtons();
  SectionHeader(L"LAYOUT");
  RowLabel(L"Screen");
  ChoiceRow(kLayoutId, kLayoutLabels, &Settings.Layout);
  HelpLine(L"LIBRARY: slim decks, big browser.  PERFORMANCE: big decks, no browser.");
  HelpLine(L"Ctrl+L switches layout at any time.");
  Cursor.y += kAfterLayoutHelpDip;
  RowLabel(L"Waveforms");
  ToggleRow(kWaveformsId, L"HORIZONTAL", L"VERTICAL", &Settings.Vertical);
  RowLabel(L"Cover art on decks");
  ToggleRow(kDeckArtId, L"HIDDEN", L"SHOWN", &Settings.DeckArt);
  SectionHeader(L"LANGUAGE");
  RowLabel(L"Language");
  int language = std::clamp<int>(Settings.Language, 0, kLanguages - 1);
  if (StepperRow(kLanguageId, kLanguageNames[language], &language, kLanguages)) {
    Settings.Language = language;
    SetUiLanguage(language);
    SaveSettings();
  }

  BeginColumn(1);
  SectionHeader(L"PROJECTOR VISUALISER");
  const bool open = VisualiserWindowOpen;
  if (Button(kVisualiserId, Rc{Cursor.columnX, Cursor.y, kVisualiserButtonWidthDip, kVisualiserButtonHeightDip},
             open ? L"CLOSE VISUALISER" : L"OPEN VISUALISER", ColorOf(Pal.DeckA), open, kVisualiserButtonSize))
    QueueDeferredAction(ToggleVisualiser);
  Cursor.y += kAfterVisualiserButtonDip;
  RowLabel(L"Visual");
  int visual = std::clamp(VisualIndex(), 0, kVisuals - 1);
  if (StepperRow(kVisualId, kVisualNames[visual], &visual, kVisuals)) SetVisualIndex(visual);
  RowLabel(L"Change visual");
  ToggleRow(kChangeVisualId, L"KEEP THIS ONE", L"EVERY 16 BARS", &Settings.VisualiserAuto);
  RowLabel(L"Track name");
  ToggleRow(kTrackNameId, L"HIDDEN", L"SHOWN", &Settings.VisualiserTrack);
  HelpLine(L"A second window with beat-reactive visuals. Drag it onto a projector");
  HelpLine(L"and double-click it for full screen. F10 opens and closes it;");
  HelpLine(L"Shift+F10, or \u2190 \u2192 in the window, changes the visual.");
  SkinRows();
}

bool ImportSkinDialog() {
  const std::wstring path = OpenFileDialog(L"Import a skin", L"Veldmix skin", L"*.vxskin");
  if (path.empty()) return false;
  std::string bytes;
  const long long size = FileSize(path);
  if (size < 0 || size > static_cast<long long>(kMaxImportedSkinBytes) ||
      ReadBytes(path, &bytes, kMaxImportedSkinBytes) != ReadStatus::Ok ||
      !HasSkinColourLine(Utf8ToWide(bytes))) {
    ShowStatus(L"That file isn't a skin");
    return false;
  }
  namespace fs = std::filesystem;
  // Named with ".vxskin" exactly, whatever case the chosen file's extension had: that is the
  // name LoadSkin and ListSkins look for.
  const std::wstring name = PathFromBytes(fs::path(PathToBytes(path)).stem().native());
  const std::wstring target = JoinPath(SkinsFolder(), name + L".vxskin");
  std::error_code ec;
  const bool same = fs::equivalent(fs::path(PathToBytes(path)), fs::path(PathToBytes(target)), ec) && !ec;
  std::wstring error;
  if (!same && !TestMode && !WriteBytesAtomic(target, bytes, &error)) {
    ShowStatus(WriteFailedText(target, error));
    return false;
  }
  Settings.Skin = name;
  LoadSkin();
  SaveSettings();
  Skins.framesLeft = 0;
  ShowStatus(L"Skin imported: " + name);
  return true;
}

bool ExportSkinDialog() {
  const std::wstring path = SaveFileDialog(L"Export this skin", Settings.Skin, L"Veldmix skin", L"vxskin");
  if (path.empty()) return false;
  std::wstring error;
  if (!SaveSkin(path, Settings.Skin, &error)) {
    ShowStatus(WriteFailedText(path, error));
    return false;
  }
  ShowStatus(L"Skin exported");
  return true;
}
