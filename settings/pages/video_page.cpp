// The Video page: the video window, how the picture changes between decks and which effect it
// carries, the title overlay, a live preview, and what REC records.
#include <algorithm>
#include <string>
#include <vector>

#include "base/palette.h"
#include "base/settings.h"
#include "broadcast/mix_recording.h"
#include "broadcast/video_window.h"
#include "platform/folders.h"
#include "settings/pages/settings_pages.h"
#include "settings/settings_rows.h"
#include "ui/language.h"
#include "ui/modal.h"
#include "ui/widgets.h"

namespace {

// The six transitions take six ids (one per segment), apart from the rows below them.
constexpr int32_t kWindowId = 3440, kTransitionId = 3450, kEffectId = 3442, kOverlayId = 3444;
constexpr int32_t kRecordId = 3446, kHeightId = 3448;

constexpr float kWindowButtonWidthDip = 230.0f, kWindowButtonHeightDip = 34.0f, kWindowButtonSize = 11.0f;
constexpr float kAfterWindowButtonDip = 44.0f, kAfterOutHelpDip = 6.0f, kAfterTransitionHelpDip = 4.0f;
constexpr float kPreviewRadius = 6.0f, kAfterPreviewDip = 14.0f;
constexpr Color kPreviewEdge{0x2A / 255.0f, 0x2F / 255.0f, 0x3B / 255.0f, 1.0f};
constexpr int32_t kHeight720 = 720, kHeight1080 = 1080;

const std::vector<std::wstring> kTransitionLabels = {L"FADE", L"WIPE", L"SLIDE", L"ZOOM", L"BLUR", L"CUT"};
const std::vector<std::wstring> kSizeLabels = {L"720p", L"1080p"};
constexpr const wchar_t* kEffectNames[] = {L"NONE",   L"BEAT FLASH", L"STROBE",    L"MONO",    L"INVERT",
                                           L"MIRROR", L"BEAT ZOOM",  L"RGB SPLIT", L"PIXELATE"};
constexpr int kEffects = 9;

// Where recordings go, as the user knows the folder; worked out once (it reads user-dirs).
const std::wstring& RecordingsFolderShown() {
  static const std::wstring shown = ShownFolder(JoinPath(MusicFolder(), L"Veldmix Recordings"));
  return shown;
}

void PreviewBox() {
  const float w = Cursor.columnWidth, h = w * 9 / 16;
  const float x = Cursor.columnX, y = Cursor.y;
  FillRoundedRect(Rc{x - 1, y - 1, w + 2, h + 2}, kPreviewRadius, Color{0, 0, 0, 1});
  DrawVideoPreview(DrawTarget(), x, y, w, h);
  StrokeRoundedRect(Rc{x, y, w, h}, kPreviewRadius, kPreviewEdge, 1);
  Cursor.y += h + kAfterPreviewDip;
}

}  // namespace

void DrawVideoPage() {
  BeginColumn(0);
  SectionHeader(L"VIDEO OUT");
  const bool open = IsVideoWindowOpen();
  if (Button(kWindowId, Rc{Cursor.columnX, Cursor.y, kWindowButtonWidthDip, kWindowButtonHeightDip},
             open ? L"CLOSE THE VIDEO SCREEN" : L"OPEN THE VIDEO SCREEN", ColorOf(Pal.DeckA), open,
             kWindowButtonSize))
    QueueDeferredAction(ToggleVideoWindow);
  Cursor.y += kAfterWindowButtonDip;
  HelpLine(L"F8 opens and closes it: full screen on a second display if there is one.");
  HelpLine(L"Video tracks show their picture; the rest, their cover and name.");
  Cursor.y += kAfterOutHelpDip;
  RowLabel(L"Transition");
  ChoiceRow(kTransitionId, kTransitionLabels, &Settings.Transition);
  HelpLine(L"The picture follows the cross-fader (and the channel faders).");
  Cursor.y += kAfterTransitionHelpDip;
  RowLabel(L"Effect");
  int effect = std::clamp<int>(Settings.Effect, 0, kEffects - 1);
  if (StepperRow(kEffectId, kEffectNames[effect], &effect, kEffects)) {
    Settings.Effect = effect;
    SaveSettings();
  }
  RowLabel(L"Track titles");
  ToggleRow(kOverlayId, L"OFF", L"SHOW EACH NEW TRACK", &Settings.Overlay);

  BeginColumn(1);
  SectionHeader(L"PREVIEW");
  PreviewBox();
  SectionHeader(L"RECORDING");
  RowLabel(L"REC records");
  ToggleRow(kRecordId, L"THE SOUND", L"SOUND + VIDEO (MP4)", &Settings.Record);
  RowLabel(L"Video size");
  int32_t size = Settings.VideoHeight >= kHeight1080 ? 1 : 0;
  if (DrawTextRows(kHeightId, Rc{Cursor.controlX, Cursor.y, Cursor.controlWidth, kSettingsRowHeightDip},
                   kSizeLabels, &size)) {
    Settings.VideoHeight = size == 1 ? kHeight1080 : kHeight720;
    SaveSettings();
  }
  Cursor.y += kSettingsRowStepDip;
  HelpLine(TranslateFormat(L"The MP4 goes beside the recording in {}.", RecordingsFolderShown()));
}
