// The Broadcast page: the audio stream's server, live video's service, both streams' state with
// GO LIVE / STOP, the internet speed check with its verdicts, and the phone remote.
#include "settings/pages/broadcast_page.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "base/log.h"
#include "base/palette.h"
#include "base/settings.h"
#include "base/status_message.h"
#include "base/text_parse.h"
#include "broadcast/audio_stream.h"
#include "broadcast/live_video.h"
#include "broadcast/speed_test.h"
#include "control/remote_server.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "platform/text.h"
#include "settings/pages/settings_pages.h"
#include "settings/settings_rows.h"
#include "settings/updates.h"
#include "ui/frame_driver.h"
#include "ui/glow.h"
#include "ui/language.h"
#include "ui/modal.h"
#include "ui/widgets.h"

namespace {

constexpr int32_t kTypeId = 3040, kHostId = 3042, kPortId = 3043, kMountId = 3044, kUserId = 3045;
constexpr int32_t kPasswordId = 3046, kNameId = 3047, kQualityId = 3048, kAudioLiveId = 3052;
// The service and picture rows sit apart: a choice row takes one id per segment, and pressing an
// id (a mapped key or controller) presses every widget that has it.
constexpr int32_t kServiceId = 3570, kUrlId = 3561, kKeyId = 3562, kPictureId = 3574, kVideoLiveId = 3564;
constexpr int32_t kSpeedId = 3660, kRemoteId = 3460;
constexpr int32_t kMinPort = 1, kMaxPort = 65534;
constexpr int32_t kIcecast = 0, kHeight720 = 720, kHeight1080 = 1080;
constexpr int32_t kBitrates[] = {128, 192, 256, 320};
constexpr int kDefaultBitrateIndex = 1;

constexpr float kStateWidthDip = 120.0f, kStateSize = 14.0f, kLiveButtonDx = 124.0f;
constexpr float kErrorHeightDip = 18.0f, kErrorStepDip = 24.0f, kErrorSize = 11.5f;
constexpr float kAddressInsetDip = 10.0f, kAddressSize = 12.5f;
constexpr float kTileGapDip = 8.0f, kTileCaptionHeightDip = 14.0f, kTileCaptionSize = 10.0f;
constexpr float kTileValueDy = 16.0f, kTileValueHeightDip = 30.0f, kTileValueSize = 24.0f;
constexpr float kTileUnitDy = 46.0f, kTileUnitHeightDip = 14.0f, kTileUnitSize = 10.0f, kTilesStepDip = 70.0f;
constexpr float kTileFloorOpacity = 0.55f, kPulsePeriodMs = 200.0f;
constexpr float kBarHeightDip = 8.0f, kBarRadius = 4.0f, kBarMinFillDip = 8.0f, kBarLighten = 0.2f;
constexpr float kBarTextDy = 12.0f, kBarTextHeightDip = 18.0f, kBarTextSize = 11.5f, kBarStepDip = 40.0f;
constexpr float kProgressShown = 0.005f, kBigValue = 100.0f;
constexpr float kVerdictWidthDip = 64.0f, kVerdictSize = 13.0f, kVerdictStepShrinkDip = 8.0f;
constexpr float kAfterSpeedHelpDip = 6.0f, kSpeedButtonMaxDip = 260.0f, kSpeedButtonHeightDip = 36.0f;
constexpr float kSpeedButtonSize = 11.0f, kSpeedButtonStepDip = 48.0f;
constexpr float kPinWidthDip = 90.0f, kPhonesDx = 100.0f, kRemoteValueSize = 13.0f;
constexpr int kStopFirstMs = 5000;
constexpr int kUrlRefreshFrames = 60;  // the network's addresses, looked up about once a second
constexpr double kBytesPerMb = 1048576.0;
constexpr double kAudioFallbackMbps = 0.128, kVideoFallbackMbps = 3.7;
constexpr double kVideo720Mbps = 3.7, kVideo1080Mbps = 6.2;
constexpr double kPlentyFactor = 3.0, kFineFactor = 1.5;

const std::vector<std::wstring> kTypeLabels = {L"ICECAST 2", L"SHOUTCAST"};
const std::vector<std::wstring> kQualityLabels = {L"128k", L"192k", L"256k", L"320k"};
const std::vector<std::wstring> kServiceLabels = {L"YOUTUBE", L"TWITCH", L"FACEBOOK", L"CUSTOM"};
const std::vector<std::wstring> kPictureLabels = {L"720p  3.5 Mbit/s", L"1080p  6 Mbit/s"};

// What lives across frames: the last finished speed check written to the log, the port's text
// (the port row's value box shows it) and the remote's addresses, looked up now and then.
struct PageState {
  int64_t loggedFinish = 0;
  std::wstring portText;
  std::vector<std::wstring> urls;
  int urlFramesLeft = 0;
};
PageState Page;

int32_t Service() { return std::clamp<int32_t>(Settings.Service, 0, kLiveVideoServices - 1); }

Color ToneColour(VerdictTone tone) {
  return ColorOf(tone == VerdictTone::Good ? Pal.Green : tone == VerdictTone::Tight ? Pal.Yellow : Pal.Red);
}

// A choice row over a table of stored values: the stored value's index (fallback when it is
// none of them); a pick stores the listed value and saves.
template <size_t N>
void ValueChoiceRow(int id, const std::vector<std::wstring>& labels, const int32_t (&values)[N], int fallback,
                    int32_t* setting) {
  int index = fallback;
  for (size_t i = 0; i < N; ++i)
    if (values[i] == *setting) index = static_cast<int>(i);
  if (DrawTextRows(id, Rc{Cursor.controlX, Cursor.y, Cursor.controlWidth, kSettingsRowHeightDip}, labels, &index)) {
    *setting = values[std::clamp<int>(index, 0, N - 1)];
    SaveSettings();
  }
  Cursor.y += kSettingsRowStepDip;
}

void OpenPortForm() {
  OpenModal(L"Port", {ModalField{L"Port", std::to_wstring(Settings.Stream.Port), false}}, L"SAVE",
            [](const std::vector<ModalField>& fields) {
              int32_t port = 0;
              if (!fields.empty() && PortFromText(fields[0].value, &port)) Settings.Stream.Port = port;
              SaveSettings();
            });
}

void StreamServerRows() {
  SectionHeader(L"STREAM SERVER");
  RowLabel(L"Server type");
  ChoiceRow(kTypeId, kTypeLabels, &Settings.Stream.Type);
  TextRow(kHostId, L"Server address", &Settings.Stream.Host, false);
  RowLabel(L"Port");
  Page.portText = std::to_wstring(Settings.Stream.Port);
  if (ValueBox(kPortId, Rc{Cursor.controlX, Cursor.y, Cursor.controlWidth, kSettingsRowHeightDip}, &Page.portText,
               false))
    QueueDeferredAction(OpenPortForm);
  Cursor.y += kSettingsRowStepDip;
  if (Settings.Stream.Type == kIcecast) {
    TextRow(kMountId, L"Mount point", &Settings.Stream.Mount, false);
    TextRow(kUserId, L"Username", &Settings.Stream.User, false);
  }
  TextRow(kPasswordId, L"Password", &Settings.Stream.Password, true);
  TextRow(kNameId, L"Stream name", &Settings.Stream.Name, false);
  RowLabel(L"Quality");
  ValueChoiceRow(kQualityId, kQualityLabels, kBitrates, kDefaultBitrateIndex, &Settings.Stream.Bitrate);
}

void LiveVideoRows() {
  SectionHeader(L"LIVE VIDEO");
  RowLabel(L"Service");
  ChoiceRow(kServiceId, kServiceLabels, &Settings.Service);
  const int32_t service = Service();
  if (service == kLiveVideoCustomService) {
    TextRow(kUrlId, L"Server address", &Settings.LiveVideoUrl, false);
  } else {
    RowLabel(L"Server address");
    DrawTextAsIs(LiveVideoServiceAddress(service),
                 Rc{Cursor.controlX + kAddressInsetDip, Cursor.y, Cursor.controlWidth - kAddressInsetDip,
                    kSettingsRowHeightDip},
                 kAddressSize, ColorOf(Pal.Dim), kAlignLeft, false, kFontSegoeUi);
    Cursor.y += kSettingsRowStepDip;
  }
  TextRow(kKeyId, L"Stream key", &Settings.Key[service], true);
  RowLabel(L"Picture");
  int32_t picture = Settings.LiveVideoHeight >= kHeight1080 ? 1 : 0;
  if (DrawTextRows(kPictureId, Rc{Cursor.controlX, Cursor.y, Cursor.controlWidth, kSettingsRowHeightDip},
                   kPictureLabels, &picture)) {
    Settings.LiveVideoHeight = picture == 1 ? kHeight1080 : kHeight720;
    SaveSettings();
  }
  Cursor.y += kSettingsRowStepDip;
}

// The state text and GO LIVE / STOP of one stream; true when GO LIVE was clicked while off (the
// caller starts it); a click while live queues stop.
bool GoLiveRow(int id, std::wstring_view label, std::wstring_view goLabel, int32_t state, void (*stop)()) {
  RowLabel(label);
  const Rc stateBox{Cursor.controlX, Cursor.y, kStateWidthDip, kSettingsRowHeightDip};
  if (state == kStreamOnAir)
    DrawText(L"On air", stateBox, kStateSize, ColorOf(Pal.Red), kAlignLeft, true, kFontSegoeUi);
  else if (state == kStreamOff)
    DrawText(L"Off", stateBox, kStateSize, ColorOf(Pal.Dim), kAlignLeft, false, kFontSegoeUi);
  else
    DrawText(state == kStreamConnecting ? L"Connecting\u2026" : L"Reconnecting\u2026", stateBox, kStateSize,
             ColorOf(Pal.Yellow), kAlignLeft, false, kFontSegoeUi);
  const Rc button{Cursor.controlX + kLiveButtonDx, Cursor.y, Cursor.columnRight - Cursor.controlX - kLiveButtonDx,
                  kSettingsRowHeightDip};
  const bool clicked = Button(id, button, state == kStreamOff ? goLabel : L"STOP", ColorOf(Pal.Red),
                              state != kStreamOff, kSettingsButtonTextSize);
  Cursor.y += kSettingsRowStepDip;
  if (!clicked) return false;
  if (state != kStreamOff) {
    QueueDeferredAction(stop);
    return false;
  }
  SpeedTest::Cancel();  // a running check would take the upload
  return true;
}

void ErrorLine(const std::wstring& text) {
  if (text.empty()) return;
  DrawTextAsIs(text, Rc{Cursor.columnX, Cursor.y, Cursor.columnWidth, kErrorHeightDip}, kErrorSize,
               ColorOf(Pal.Red), kAlignLeft, false, kFontSegoeUi);
  Cursor.y += kErrorStepDip;
}

void StatusRows() {
  SectionHeader(L"STATUS");
  const int32_t audio = LiveStreamState();
  if (GoLiveRow(kAudioLiveId, L"Audio (MP3)", L"GO LIVE", audio, [] { StopLiveStream(); }))
    StartLiveStream(Engine, Settings.Stream);
  if (audio == kStreamOnAir)
    HelpLine(TranslateFormat(L"{} on air  \u2022  {:.1f} MB sent", FormatTime(LiveStreamSeconds(), false),
                             static_cast<double>(LiveStreamBytes()) / kBytesPerMb));
  if (const UiText error = LiveStreamError(); !error.empty()) ErrorLine(TranslateFilled(error));

  const int32_t video = LiveVideoState();
  if (GoLiveRow(kVideoLiveId, L"Video", L"GO LIVE VIDEO", video, [] { StopLiveVideo(); })) GoLiveVideo();
  if (video == kStreamOnAir)
    HelpLine(TranslateFormat(L"{} on air  \u2022  {:.1f} MB sent to {}", FormatTime(LiveVideoSeconds(), false),
                             static_cast<double>(LiveVideoBytesSent()) / kBytesPerMb, kServiceLabels[Service()]));
  ErrorLine(Translate(LiveVideoStatusText()));
  HelpLine(L"Audio: the master as MP3 to Icecast 2 / Shoutcast (titles sent).");
  HelpLine(L"Video: the video mix and the master to YouTube, Twitch, Facebook");
  HelpLine(L"or any RTMP server. Passwords and keys are stored encrypted.");
}

void SpeedTile(int index, std::wstring_view caption, double value, std::wstring_view unit, bool active,
               float pulse) {
  const float third = Cursor.columnWidth / 3;
  const float x = Cursor.columnX + third * index, w = third - kTileGapDip, y = Cursor.y;
  const Color accent = ColorOf(Pal.DeckA);
  DrawText(caption, Rc{x, y, w, kTileCaptionHeightDip}, kTileCaptionSize, active ? accent : ColorOf(Pal.Dim),
           kAlignLeft, true, kFontBahnschrift);
  wchar_t text[32] = L"\u2014";
  if (value > 0) swprintf(text, 32, index == 2 || value >= kBigValue ? L"%.0f" : L"%.1f", value);
  const Color colour = active ? WithAlpha(accent, kTileFloorOpacity + (1 - kTileFloorOpacity) * pulse)
                              : ColorOf(Pal.Text);
  DrawTextAsIs(text, Rc{x, y + kTileValueDy, w, kTileValueHeightDip}, kTileValueSize, colour, kAlignLeft, true,
               kFontBahnschrift);
  DrawText(unit, Rc{x, y + kTileUnitDy, w, kTileUnitHeightDip}, kTileUnitSize, ColorOf(Pal.Faint), kAlignLeft,
           false, kFontSegoeUi);
}

void ProgressBar(const SpeedTestResult& snap) {
  const Rc bar{Cursor.columnX, Cursor.y, Cursor.columnWidth, kBarHeightDip};
  FillRoundedRect(bar, kBarRadius, ColorOf(Pal.Background));
  if (snap.progress > kProgressShown) {
    const Color accent = ColorOf(Pal.DeckA);
    const Rc filled{bar.x, bar.y, std::max(kBarMinFillDip, bar.w * std::min(snap.progress, 1.0f)), bar.h};
    FillRoundedRect(filled, kBarRadius,
                    LinearGradientBrush(accent, Lighten(accent, kBarLighten), PointF{filled.x, filled.y},
                                        PointF{filled.Right(), filled.y}, false));
    GlowRoundedRect(filled, kBarRadius, accent);
  }
  const wchar_t* line = snap.phase == kSpeedPhaseLatency    ? L"Measuring the ping\u2026"
                        : snap.phase == kSpeedPhaseDownload ? L"Measuring the download\u2026"
                                                            : L"Measuring the upload\u2026";
  DrawText(line, Rc{bar.x, bar.y + kBarTextDy, bar.w, kBarTextHeightDip}, kBarTextSize, ColorOf(Pal.Dim),
           kAlignLeft, false, kFontSegoeUi);
  Cursor.y += kBarStepDip;
}

void VerdictRow(std::wstring_view label, const std::wstring& value, double upload, double required, double fallback,
                std::wstring_view advice) {
  RowLabel(label);
  DrawTextAsIs(value, Rc{Cursor.controlX, Cursor.y, kVerdictWidthDip, kSettingsRowHeightDip}, kVerdictSize,
               ColorOf(Pal.Text), kAlignLeft, false, kFontSegoeUi);
  const StreamVerdict verdict = JudgeUpload(upload, required, fallback, advice);
  const float x = Cursor.controlX + kVerdictWidthDip;
  DrawText(verdict.text, Rc{x, Cursor.y, Cursor.columnRight - x, kSettingsRowHeightDip}, kVerdictSize,
           ToneColour(verdict.tone), kAlignLeft, false, kFontSegoeUi);
  Cursor.y += kSettingsRowStepDip - kVerdictStepShrinkDip;
}

void SpeedRows() {
  SectionHeader(L"INTERNET SPEED");
  const SpeedTestResult snap = SpeedTest::Snapshot();
  const bool running = SpeedTest::IsRunning();
  const float pulse = 0.5f + 0.5f * std::sin(static_cast<float>(FrameClockMs % 100000000) / kPulsePeriodMs);
  if (snap.phase == kSpeedPhaseDone && snap.finishedAt != Page.loggedFinish) {
    WriteLog(L"Speed check: {:.1f} Mbit/s down, {:.1f} Mbit/s up, {:.0f} ms ping", snap.downloadMbps,
             snap.uploadMbps, snap.latencyMs);
    Page.loggedFinish = snap.finishedAt;
  }
  SpeedTile(0, L"\u2193 DOWNLOAD", snap.downloadMbps, L"Mbit/s", snap.phase == kSpeedPhaseDownload, pulse);
  SpeedTile(1, L"\u2191 UPLOAD", snap.uploadMbps, L"Mbit/s", snap.phase == kSpeedPhaseUpload, pulse);
  SpeedTile(2, L"PING", snap.latencyMs, L"ms", snap.phase == kSpeedPhaseLatency, pulse);
  Cursor.y += kTilesStepDip;
  if (running) {
    ProgressBar(snap);
  } else if (snap.phase == kSpeedPhaseDone) {
    const int32_t bitrate = Settings.Stream.Bitrate;
    VerdictRow(L"Audio stream", std::to_wstring(bitrate) + L"k", snap.uploadMbps, bitrate / 1000.0,
               kAudioFallbackMbps, L"Too slow \u2014 pick a lower quality");
    const bool full = Settings.LiveVideoHeight >= kHeight1080;
    VerdictRow(L"Video stream", full ? L"1080p" : L"720p", snap.uploadMbps, full ? kVideo1080Mbps : kVideo720Mbps,
               kVideoFallbackMbps, L"Too slow \u2014 pick 720p");
    HelpLine(Translate(L"Checked ") + TranslateFilled(StampText(snap.finishedAt)));
  } else if (snap.phase == kSpeedPhaseFailed) {
    DrawText(snap.message, Rc{Cursor.columnX, Cursor.y, Cursor.columnWidth, kErrorHeightDip}, kErrorSize,
             ColorOf(Pal.Yellow), kAlignLeft, false, kFontSegoeUi);
    Cursor.y += kErrorStepDip;
  } else {
    HelpLine(L"Whether your connection can carry a live stream: the upload counts.");
  }
  HelpLine(L"Tested with Cloudflare's nearest server; uses up to about 500 MB.");
  Cursor.y += kAfterSpeedHelpDip;
  const wchar_t* label = running                          ? L"STOP THE CHECK"
                         : snap.phase == kSpeedPhaseNone ? L"CHECK THE SPEED"
                                                          : L"CHECK AGAIN";
  if (Button(kSpeedId, Rc{Cursor.columnX, Cursor.y, std::min(Cursor.columnWidth, kSpeedButtonMaxDip),
                          kSpeedButtonHeightDip},
             label, ColorOf(Pal.DeckA), !running, kSpeedButtonSize)) {
    if (running)
      SpeedTest::Cancel();
    else if (LiveStreamState() == kStreamOff && LiveVideoState() == kStreamOff)
      SpeedTest::Start();
    else
      ShowStatus(L"Stop the stream first \u2014 the check would use all of the upload", kStopFirstMs);
  }
  Cursor.y += kSpeedButtonStepDip;
}

void RemoteRows() {
  SectionHeader(L"PHONE REMOTE");
  RowLabel(L"Remote");
  if (ToggleRow(kRemoteId, L"OFF", L"ON (THIS WI-FI)", &Settings.RemoteOn)) {
    QueueDeferredAction(StartPhoneRemote);
    Page.urlFramesLeft = 0;
  }
  if (!IsRemoteServerRunning()) return;
  if (--Page.urlFramesLeft <= 0) {
    Page.urls = RemoteUrls();
    Page.urlFramesLeft = kUrlRefreshFrames;
  }
  const Rc value{Cursor.controlX, Cursor.y, Cursor.controlWidth, kSettingsRowHeightDip};
  RowLabel(L"On your phone");
  if (Page.urls.empty())
    DrawText(L"(no network found)", value, kRemoteValueSize, ColorOf(Pal.Dim), kAlignLeft, false, kFontSegoeUi);
  else
    DrawTextAsIs(Page.urls.front(), value, kRemoteValueSize, ColorOf(Pal.Green), kAlignLeft, true, kFontSegoeUi);
  Cursor.y += kSettingsRowStepDip;
  RowLabel(L"PIN");
  DrawTextAsIs(Settings.Pin, Rc{Cursor.controlX, Cursor.y, kPinWidthDip, kSettingsRowHeightDip}, kRemoteValueSize,
               ColorOf(Pal.Yellow), kAlignLeft, true, kFontBahnschrift);
  const int phones = CountRemotePhones();
  const Rc count{Cursor.controlX + kPhonesDx, Cursor.y, Cursor.controlWidth - kPhonesDx, kSettingsRowHeightDip};
  if (phones == 0)
    DrawText(L"no phone yet", count, kRemoteValueSize, ColorOf(Pal.Dim), kAlignLeft, false, kFontSegoeUi);
  else
    DrawText(std::to_wstring(phones) + (phones > 1 ? L" phones connected" : L" phone connected"), count,
             kRemoteValueSize, ColorOf(Pal.Green), kAlignLeft, false, kFontSegoeUi);
  Cursor.y += kSettingsRowStepDip;
  HelpLine(L"Open the address in the phone's browser (same Wi-Fi), enter the PIN.");
  HelpLine(TranslateFormat(L"If this computer runs a firewall, let TCP port {} in from the local network.",
                           RemoteServerPort()));
}

}  // namespace

bool PortFromText(std::wstring_view text, int32_t* port) {
  const int64_t value = LeadingInteger(WideToUtf8(text));
  if (value < kMinPort || value > kMaxPort) return false;
  *port = static_cast<int32_t>(value);
  return true;
}

StreamVerdict JudgeUpload(double upload, double required, double fallback, std::wstring_view advice) {
  if (upload >= kPlentyFactor * required) return {L"Plenty of room", VerdictTone::Good};
  if (upload >= kFineFactor * required) return {L"Should be fine", VerdictTone::Good};
  if (upload >= required) return {L"Tight \u2014 it may stutter", VerdictTone::Tight};
  if (upload >= kFineFactor * fallback) return {advice, VerdictTone::Bad};
  return {L"Too slow to stream", VerdictTone::Bad};
}

void DrawBroadcastPage() {
  BeginColumn(0);
  StreamServerRows();
  LiveVideoRows();
  BeginColumn(1);
  StatusRows();
  SpeedRows();
  RemoteRows();
}
