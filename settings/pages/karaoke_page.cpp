// The Karaoke page: how the karaoke screen looks, the singer camera, the vocal stem, the break
// music, online lyrics, the karaoke screen's button and a live camera preview.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "base/settings.h"
#include "broadcast/camera.h"
#include "engine/deck_view.h"
#include "karaoke/karaoke_draw.h"
#include "karaoke/karaoke_screen.h"
#include "karaoke/karaoke_window.h"
#include "library/track_lists.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "screens/karaoke_panel.h"
#include "settings/pages/settings_pages.h"
#include "settings/settings_rows.h"
#include "ui/modal.h"
#include "ui/widgets.h"

namespace {

constexpr int32_t kBackgroundId = 3130, kBackgroundFileId = 3134, kDimId = 3135, kBlurId = 3137;
constexpr int32_t kFirstPaletteId = 3140, kTextSizeId = 3146, kCountdownId = 3150, kShowNextId = 3152;
constexpr int32_t kMessageId = 3154, kCameraId = 3650, kCameraShowId = 3652, kMirrorId = 3654;
constexpr int32_t kVocalsId = 3160, kGuideId = 3164, kBreakListId = 3166, kOnlineId = 3170, kScreenId = 3172;

constexpr int32_t kMovingColour = 0, kVideoLoop = 2, kVocalsGuide = 1;
constexpr int kDimEntries = 10, kDimStep = 10, kGuideEntries = 8, kGuideStep = 5;
constexpr int kPalettes = 5;
constexpr float kPaletteGapDip = 4.0f, kPaletteHeightDip = 42.0f, kPaletteRowStepDip = 52.0f;
constexpr float kPaletteButtonSize = 9.0f, kSampleDy = 2.0f, kSampleHeightDip = 22.0f, kSampleSize = 13.0f;
constexpr float kPaletteNameDy = 20.0f, kPaletteNameHeightDip = 18.0f, kPaletteNameSize = 9.0f;
constexpr float kHelpUnderRowDip = 36.0f, kAfterHelpDip = 6.0f, kAfterLyricsHelpDip = 10.0f;
constexpr float kStatusHeightDip = 18.0f, kStatusStepDip = 20.0f, kStatusSize = 11.5f;
constexpr float kScreenButtonWidthDip = 230.0f, kScreenButtonHeightDip = 34.0f, kScreenButtonSize = 11.0f;
constexpr float kAfterScreenButtonDip = 48.0f;
constexpr float kPreviewMaxWidthDip = 300.0f, kPreviewMinWidthDip = 120.0f, kPreviewBottomDip = 84.0f;
constexpr float kPreviewHeaderDip = 34.0f, kPreviewRadius = 8.0f, kPreviewRingInsetDip = 4.0f;
constexpr float kPreviewTextSize = 11.5f, kAfterPreviewDip = 8.0f;
constexpr uint64_t kCameraListRefreshMs = 2000;

const std::vector<std::wstring> kBackgroundLabels = {L"MOVING COLOUR", L"PICTURE", L"VIDEO LOOP"};
const std::vector<std::wstring> kTextSizeLabels = {L"SMALL", L"MEDIUM", L"LARGE"};
const std::vector<std::wstring> kCameraShowLabels = {L"WHILE SOMEONE SINGS", L"ALL THE TIME"};
const std::vector<std::wstring> kVocalsLabels = {L"OFF", L"GUIDE", L"ON"};
constexpr const wchar_t* kPercentTexts[] = {L"0%",  L"5%",  L"10%", L"15%", L"20%", L"25%", L"30%", L"35%", L"40%",
                                            L"45%", L"50%", L"55%", L"60%", L"65%", L"70%", L"75%", L"80%", L"85%",
                                            L"90%"};
constexpr const wchar_t* kStartingCamera = L"Starting the camera\u2026";

// The cameras as last listed; a camera is known by its link, shown by its name.
struct CameraList {
  std::vector<CameraEntry> cameras;
  uint64_t listedMs = 0;
  bool listed = false;
};
CameraList Cameras;

// The newest camera frame as a bitmap, kept while the drawing device lasts.
struct Preview {
  std::shared_ptr<Bitmap> bitmap;
  std::vector<uint32_t> pixels;
  int width = 0, height = 0;
  uint64_t serial = 0;
};
Preview CameraPreview;

// "0%" to "90%" in steps of 5, without making a string each frame.
const wchar_t* PercentText(int percent) { return kPercentTexts[std::clamp(percent, 0, 90) / 5]; }

const std::array<std::wstring, kPalettes>& PaletteNames() {
  static const std::array<std::wstring, kPalettes> names = [] {
    std::array<std::wstring, kPalettes> n;
    for (int i = 0; i < kPalettes; ++i) n[i] = Utf8ToWide(kKaraokeThemes[i].name);
    return n;
  }();
  return names;
}

const std::vector<CameraEntry>& ListedCameras() {
  const uint64_t now = MonotonicMs();
  if (!Cameras.listed || now - Cameras.listedMs > kCameraListRefreshMs) {
    Cameras.cameras = ListCameras();
    Cameras.listedMs = now;
    Cameras.listed = true;
  }
  return Cameras.cameras;
}

void BackgroundRows() {
  RowLabel(L"Background");
  ChoiceRow(kBackgroundId, kBackgroundLabels, &Settings.Karaoke.Background);
  if (Settings.Karaoke.Background == kMovingColour) return;
  RowLabel(Settings.Karaoke.Background == kVideoLoop ? L"Video" : L"Picture");
  const std::wstring file = FileNameOf(Settings.Karaoke.BackgroundFile);
  if (ValueBox(kBackgroundFileId, Rc{Cursor.controlX, Cursor.y, Cursor.controlWidth, kSettingsRowHeightDip}, &file,
               false))
    QueueDeferredAction(ChooseKaraokeBackground);
  Cursor.y += kSettingsRowStepDip;
  RowLabel(L"Darken it");
  int dim = std::clamp<int>(Settings.Karaoke.Dim / kDimStep, 0, kDimEntries - 1);
  if (StepperRow(kDimId, PercentText(dim * kDimStep), &dim, kDimEntries)) {
    Settings.Karaoke.Dim = dim * kDimStep;
    SaveSettings();
  }
  RowLabel(L"Soften it");
  ToggleRow(kBlurId, L"SHARP", L"BLURRED", &Settings.Karaoke.Blur);
}

void PaletteButtons() {
  RowLabel(L"Words");
  const float width = (Cursor.controlWidth - 16) / kPalettes;
  for (int i = 0; i < kPalettes; ++i) {
    const KaraokeTheme& theme = kKaraokeThemes[i];
    const Color sung = ColorOf(theme.colourB), toSing = ColorOf(theme.colourA);
    const Rc r{Cursor.controlX + (width + kPaletteGapDip) * i, Cursor.y, width, kPaletteHeightDip};
    if (Button(kFirstPaletteId + i, r, L"", sung, Settings.Karaoke.Palette == i, kPaletteButtonSize)) {
      Settings.Karaoke.Palette = i;
      SaveSettings();
    }
    const float half = r.w / 2;
    DrawText(L"Sing", Rc{r.x, r.y + kSampleDy, half, kSampleHeightDip}, kSampleSize, sung, kAlignRight, true,
             kFontSegoeUi);
    DrawText(L"ing", Rc{r.x + half, r.y + kSampleDy, half, kSampleHeightDip}, kSampleSize, toSing, kAlignLeft, true,
             kFontSegoeUi);
    DrawText(PaletteNames()[i], Rc{r.x, r.y + kPaletteNameDy, r.w, kPaletteNameHeightDip}, kPaletteNameSize,
             ColorOf(Pal.Dim), kAlignCenter, true, kFontBahnschrift);
  }
  Cursor.y += kPaletteRowStepDip;
}

// Entry 0 is "Off" ("No camera found" with none listed); then each camera by name, or by link
// when it has none.
std::wstring_view CameraEntryText(const std::vector<CameraEntry>& cameras, int entry) {
  if (entry == 0) return cameras.empty() ? L"No camera found" : L"Off";
  const CameraEntry& camera = cameras[entry - 1];
  return camera.name.empty() ? camera.link : camera.name;
}

void CameraRows() {
  SectionHeader(L"CAMERA");
  const std::vector<CameraEntry>& cameras = ListedCameras();
  int entry = 0;
  if (Settings.CameraOn && !cameras.empty()) {
    entry = 1;
    for (size_t i = 0; i < cameras.size(); ++i)
      if (cameras[i].link == Settings.CameraDevice) {
        entry = static_cast<int>(i) + 1;
        break;
      }
  }
  RowLabel(L"Camera");
  if (StepperRow(kCameraId, CameraEntryText(cameras, entry), &entry, static_cast<int>(cameras.size()) + 1)) {
    Settings.CameraOn = entry > 0;
    if (entry > 0) Settings.CameraDevice = cameras[entry - 1].link;
    SaveSettings();
  }
  RowLabel(L"On the visualiser");
  ChoiceRow(kCameraShowId, kCameraShowLabels, &Settings.CameraShow);
  RowLabel(L"Picture");
  ToggleRow(kMirrorId, L"AS IT IS", L"MIRRORED", &Settings.CameraMirror);
  HelpLine(L"The singer appears live in the middle of the projector visualiser (F10).");
  if (!Settings.CameraOn) return;
  const std::wstring status = CameraStatusText();
  if (status.empty() || status == kStartingCamera) return;
  DrawText(status, Rc{Cursor.columnX, Cursor.y, Cursor.columnWidth, kStatusHeightDip}, kStatusSize,
           ColorOf(Pal.Yellow), kAlignLeft, false, kFontSegoeUi);
  Cursor.y += kStatusStepDip;
}

void SingingRows() {
  SectionHeader(L"SINGING");
  RowLabel(L"Vocals");
  ChoiceRow(kVocalsId, kVocalsLabels, &Settings.KaraokeVocals);
  Cursor.y += kHelpUnderRowDip - kSettingsRowStepDip;
  HelpLine(L"Uses the AI stems. GUIDE keeps a quiet vocal to follow.");
  Cursor.y += kAfterHelpDip;
  if (Settings.KaraokeVocals == kVocalsGuide) {
    RowLabel(L"Guide level");
    int guide = std::clamp<int>(Settings.Guide / kGuideStep - 1, 0, kGuideEntries - 1);
    if (StepperRow(kGuideId, PercentText((guide + 1) * kGuideStep), &guide, kGuideEntries)) {
      Settings.Guide = (guide + 1) * kGuideStep;
      SaveSettings();
    }
  }
  // The user's lists follow the built-in ones; entry 0 is the Automix list (an empty name).
  const int userLists = std::max(0, static_cast<int>(TrackLists.size()) - kBuiltInListCount);
  int list = 0;
  for (int i = 0; i < userLists && !Settings.BreakList.empty(); ++i)
    if (TrackLists[kBuiltInListCount + i].name == Settings.BreakList) {
      list = i + 1;
      break;
    }
  RowLabel(L"Break music");
  const std::wstring_view listText =
      list == 0 ? std::wstring_view(L"The Automix list") : std::wstring_view(TrackLists[kBuiltInListCount + list - 1].name);
  if (StepperRow(kBreakListId, listText, &list, userLists + 1)) {
    Settings.BreakList = list == 0 ? std::wstring() : TrackLists[kBuiltInListCount + list - 1].name;
    SaveSettings();
  }
  Cursor.y += kHelpUnderRowDip - kSettingsRowStepDip;
  HelpLine(L"BREAK \u266A in the karaoke panel plays it between singers.");
  Cursor.y += kAfterHelpDip;
}

void LyricsRows() {
  SectionHeader(L"LYRICS");
  RowLabel(L"Look online");
  ToggleRow(kOnlineId, L"WHEN I ASK", L"AUTOMATICALLY", &Settings.KaraokeOnline);
  HelpLine(L"Words beside the track (.lrc, .cdg) or in its tags come first.");
  HelpLine(L"Online lyrics come from LRCLIB, a free lyrics library (lrclib.net):");
  HelpLine(L"artist, title and length are sent.");
  Cursor.y += kAfterLyricsHelpDip;
  const bool open = IsKaraokeScreenOpen();
  if (Button(kScreenId, Rc{Cursor.columnX, Cursor.y, kScreenButtonWidthDip, kScreenButtonHeightDip},
             open ? L"CLOSE KARAOKE SCREEN" : L"OPEN KARAOKE SCREEN", ColorOf(Pal.Pink), open, kScreenButtonSize))
    QueueDeferredAction(ToggleKaraokeScreen);
  Cursor.y += kAfterScreenButtonDip;
  HelpLine(L"F9 opens and closes it: full screen on a second display if there is one.");
}

// Takes the newest frame into the preview bitmap; a bitmap of an older device is made again.
void FollowCameraFrame() {
  Preview& p = CameraPreview;
  if (p.bitmap && p.bitmap->generation != DeviceGeneration()) {
    p.bitmap.reset();
    p.serial = 0;  // take the frame again for the new device
  }
  if (!TakeCameraFrame(&p.pixels, &p.width, &p.height, &p.serial)) return;
  if (p.bitmap && p.bitmap->image && p.bitmap->image->Replace(p.pixels.data(), p.width, p.height)) return;
  p.bitmap = CreateBitmapFromPixels(p.pixels.data(), p.width, p.height);
}

void CameraPreviewBox() {
  if (!Settings.CameraOn) return;
  // As large as the room left above the panel's foot allows; where there is too little the page
  // scrolls to a small one.
  const float room = Cursor.panel.Bottom() - kPreviewBottomDip - (Cursor.y + Cursor.scroll + kPreviewHeaderDip);
  float width = std::min(kPreviewMaxWidthDip, Cursor.columnWidth);
  if (!(width >= kPreviewMinWidthDip)) return;
  width = std::clamp(room * 16 / 9, kPreviewMinWidthDip, width);
  SectionHeader(L"CAMERA PREVIEW");
  const Rc box{Cursor.columnX, Cursor.y, width, width * 9 / 16};
  FillRoundedRect(box, kPreviewRadius, Color{0, 0, 0, 1});
  FollowCameraFrame();
  const std::wstring status = CameraStatusText();
  Preview& p = CameraPreview;
  if (status == kStartingCamera) p.bitmap.reset();  // not the last camera's picture once the next one opens
  if (!status.empty() && status != kStartingCamera) {
    DrawText(status, box, kPreviewTextSize, ColorOf(Pal.Yellow), kAlignCenter, false, kFontSegoeUi);
  } else if (!p.bitmap || !status.empty()) {
    DrawText(kStartingCamera, box, kPreviewTextSize, ColorOf(Pal.Dim), kAlignCenter, false, kFontSegoeUi);
  } else {
    // The shorter side spans the circle; mirrored, the picture's left edge lands on the right.
    const float radius = box.h / 2 - kPreviewRingInsetDip, cx = box.CenterX(), cy = box.CenterY();
    const float scale = 2 * radius / static_cast<float>(std::min(p.width, p.height));
    const float sx = Settings.CameraMirror ? -scale : scale;
    const Affine place{sx, 0, 0, scale, cx - sx * p.width * 0.5f, cy - scale * p.height * 0.5f};
    DrawTarget()->FillEllipseWithBitmap(*p.bitmap->image, place, cx, cy, radius, radius, 1.0f);
    StrokeCircle(cx, cy, radius, ColorOf(Pal.Pink), 2);
  }
  StrokeRoundedRect(box, kPreviewRadius, ColorOf(Pal.Pink), 1);
  Cursor.y += box.h + kAfterPreviewDip;
}

}  // namespace

void DrawKaraokePage() {
  BeginColumn(0);
  SectionHeader(L"THE SCREEN");
  BackgroundRows();
  PaletteButtons();
  RowLabel(L"Size");
  ChoiceRow(kTextSizeId, kTextSizeLabels, &Settings.Karaoke.TextSize);
  RowLabel(L"Count-in");
  ToggleRow(kCountdownId, L"OFF", L"DOTS ON THE BEAT", &Settings.Karaoke.Countdown);
  RowLabel(L"Who's next");
  ToggleRow(kShowNextId, L"DON'T SHOW", L"NEAR THE END", &Settings.Karaoke.ShowNext);
  RowLabel(L"Between singers");
  if (ValueBox(kMessageId, Rc{Cursor.controlX, Cursor.y, Cursor.controlWidth, kSettingsRowHeightDip},
               &Settings.Karaoke.Message, false))
    QueueDeferredAction([] { EditField(L"Message between singers", &Settings.Karaoke.Message, false, false); });
  Cursor.y += kSettingsRowStepDip;
  CameraRows();

  BeginColumn(1);
  SingingRows();
  LyricsRows();
  CameraPreviewBox();
}
