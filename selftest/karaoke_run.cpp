#include "selftest/karaoke_run.h"

#include <fmt/xchar.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "base/files.h"
#include "base/log.h"
#include "base/settings.h"
#include "control/action_table.h"
#include "engine/audio_file.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/stem_controls.h"
#include "engine/transport.h"
#include "karaoke/deck_lyrics.h"
#include "karaoke/karaoke_panel.h"
#include "karaoke/karaoke_rotation.h"
#include "karaoke/karaoke_screen.h"
#include "karaoke/karaoke_show.h"
#include "karaoke/karaoke_window.h"
#include "karaoke/lrc.h"
#include "karaoke/lyrics_online.h"
#include "karaoke/tap_sync.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/media_probe.h"
#include "selftest/basic_run.h"
#include "selftest/karaoke_shots.h"
#include "selftest/selftest_state.h"
#include "selftest/test_cdg.h"
#include "selftest/window_capture.h"
#include "settings/settings_screen.h"
#include "ui/modal.h"

namespace {

constexpr int kDeckA = 0;
constexpr int kVocalPart = 0;
constexpr int32_t kFirstKey = 2;
constexpr int32_t kGuidePercent = 15;
constexpr float kGuideGain = 0.15f;
constexpr float kGainTolerance = 0.0001f;
// The render ramps a gain across a period or two; a gain still not there after this is wrong.
constexpr double kGainSettleSeconds = 2.0;
// After the load, the lookup of the song's own lyrics gets this long before the test goes on.
constexpr double kLyricsWaitSeconds = 15.0;
constexpr double kPanelWaitSeconds = 1.5, kSongEndWaitSeconds = 5.0;
constexpr double kSettingsWaitSeconds = 1.0, kScreenWaitSeconds = 1.5;
constexpr double kTitleLeadSeconds = 8.0, kCountInBeats = 1.5, kNudgeSeconds = 0.5;
constexpr double kNudgeProbeSeconds = 0.25, kNextUpFromEnd = 30.0, kTapAtSeconds = 12.0, kTapTolerance = 0.01;
constexpr double kPlayOutFromEnd = 0.5, kCdgAtSeconds = 2.5, kVideoLoopAt = 60.0, kVideoAt = 1.5;
constexpr double kMinBpm = 1.0;  // a track without a tempo still gives a finite count-in
constexpr size_t kUpNextTurns = 3;
constexpr wchar_t kResultsName[] = L"results.txt";

const wchar_t* const kSingerNames[] = {L"Ada", L"Bo", L"Cleo"};
constexpr wchar_t kOtherTitle[] = L"Test Song", kOtherArtist[] = L"The Testers";

struct KaraokeRun {
  double stepStart = 0.0;
  bool capturing = false;     // a queued capture paints the window, which ticks again
  bool panelQueued = false;
  std::wstring folder;
};
KaraokeRun Run;

std::wstring OutPath(const wchar_t* name) { return JoinPath(Run.folder, name); }
const std::wstring& LyricsFile() { return SelfTest.third; }
const std::wstring& VideoFile() { return SelfTest.fourth; }

ShowDeck DeckA() { return ReadShowDeck(kDeckA); }
DeckView& DeckAView() { return LiveDeckViews[kDeckA]; }

double TrackSeconds(const ShowDeck& deck) {
  return deck.track && deck.track->sampleRate > 0
             ? static_cast<double>(deck.track->frames) / deck.track->sampleRate
             : 0.0;
}

void SeekA(double seconds) {
  const ShowDeck deck = DeckA();
  if (!deck.track) return;
  SeekDeck(Engine, kDeckA, std::max(seconds, 0.0) * deck.track->sampleRate);
}

// The vocal stem's gain the render applies to deck A now (not the target the UI published).
float AppliedVocalGain() {
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  return DeckStateOf(kDeckA).stemGainNow[kVocalPart];
}

// True once the applied gain is within `tolerance` of `want`, or the settle time is over.
bool GainSettled(double now, float want, float tolerance) {
  return std::fabs(AppliedVocalGain() - want) <= tolerance || now - Run.stepStart >= kGainSettleSeconds;
}

void Finish() {
  const std::wstring results = OutPath(kResultsName);
  if (!WriteUtf8File(results, SelfTestResults))
    SelfTestCheck(false, L"results.txt written", fmt::format(L"{} could not be written", results));
  FinishSelfTest();
}

void Warn(const std::wstring& text) {
  SelfTestResults.append(L"WARN  ").append(text).append(L"\n");
  WriteLog(L"Self-test: WARN {}", text);
}

// A lyrics file or video named on the command line that cannot be read fails its check.
void CheckArguments() {
  std::string bytes;
  if (!LyricsFile().empty())
    SelfTestCheck(ReadBytes(LyricsFile(), &bytes) == ReadStatus::Ok,
                  fmt::format(L"the lyrics file reads ({})", LyricsFile()),
                  fmt::format(L"{} cannot be read", LyricsFile()));
  if (!VideoFile().empty())
    SelfTestCheck(MediaHasVideoStream(VideoFile()), fmt::format(L"the video file reads ({})", VideoFile()),
                  fmt::format(L"{} cannot be read as a video", VideoFile()));
}

// Reads, parses and installs the lyrics file as deck A's words; false when it cannot be read.
bool InstallLyricsFile() {
  std::string bytes;
  if (ReadBytes(LyricsFile(), &bytes) != ReadStatus::Ok) return false;
  auto lyrics = std::make_shared<Lyrics>(ParseLrc(LoadTextFile(LyricsFile())));
  DeckLyrics& record = DeckLyricsState[kDeckA];
  record.lyrics = lyrics;
  record.path = DeckA().track ? DeckA().track->path : std::wstring();
  record.fittedWithStems = record.stemFitTried = false;
  if (lyrics->kind == LyricsKind::Plain) FitLyricsToVocals(kDeckA);
  return true;
}

const Lyrics* DeckALyrics() {
  const DeckLyrics& record = DeckLyricsState[kDeckA];
  return record.lyrics ? record.lyrics.get() : nullptr;
}

// Queues a capture of a window for after this frame; the run's ticks sit out the nested paint.
void QueueCapture(AnyWindow window, const wchar_t* name, std::wstring check, std::function<void()> after) {
  QueueDeferredAction([window, path = OutPath(name), check = std::move(check), after = std::move(after)] {
    Run.capturing = true;
    std::wstring error;
    const bool ok = CaptureWindowPng(window, path, &error);
    Run.capturing = false;
    SelfTestCheck(ok, check, fmt::format(L"{}: {}", path, error));
    if (after) after();
  });
}

// --- The steps: each returns true when it is done ---

bool SetUp(double) {
  Settings.Karaoke = KaraokeSettings{};
  Settings.KaraokeVocals = kVocalsOff;
  Settings.Guide = kGuidePercent;
  Settings.KaraokeOnline = false;
  const std::wstring track = SelfTest.trackPath;
  Rotation = KaraokeRotation{};
  Stage = KaraokeStage{};
  Rotation.singers.push_back(
      {.name = kSingerNames[0], .songs = {{.path = track, .title = FileStem(track), .keyShift = kFirstKey}}});
  for (int i = 1; i < 3; ++i)
    Rotation.singers.push_back(
        {.name = kSingerNames[i], .songs = {{.path = track, .title = kOtherTitle, .artist = kOtherArtist}}});
  if (!KaraokePanelShown) ToggleKaraokePanel();
  CheckArguments();
  DrawShot(L"01-break.png", Settings.Karaoke);
  KaraokeSing(0);
  const bool loading = Stage.settingUp && Stage.stageDeck == kDeckA;
  SelfTestCheck(loading, fmt::format(L"SING loads {}'s song onto deck A", kSingerNames[0]),
                fmt::format(L"SING did not start loading {} onto deck A", track));
  if (!loading) {
    const std::wstring failed = DeckLoadError(kDeckA, track);
    if (!failed.empty()) SelfTestCheck(false, fmt::format(L"deck A loads the test track ({})", failed), failed);
    Finish();
  }
  return true;
}

bool Ready(double now) {
  if (Stage.settingUp) return false;
  const ShowDeck deck = DeckA();
  if (!deck.track || Stage.stageDeck != kDeckA) {
    const std::wstring failed = DeckLoadError(kDeckA, SelfTest.trackPath);
    if (failed.empty()) return false;
    SelfTestCheck(false, fmt::format(L"deck A loads the test track ({})", failed), failed);
    Finish();
    return false;
  }
  const DeckLyrics& record = DeckLyricsState[kDeckA];
  const bool looked = record.path == deck.track->path && !record.busy;
  if (!looked && now - Run.stepStart < kLyricsWaitSeconds) return false;
  if (!LyricsFile().empty()) InstallLyricsFile();  // one that cannot be read failed at the start
  SelfTestCheck(DeckAView().keyShift == kFirstKey, fmt::format(L"{}'s key (+2) applied", kSingerNames[0]),
                fmt::format(L"deck A's key shift is {}", DeckAView().keyShift));
  SelfTestCheck(DeckAView().stemPreset == kStemPresetInstrumental, L"vocals turned down straight away (INST)",
                fmt::format(L"deck A's stem mode is {}", DeckAView().stemPreset));
  const Lyrics* lyrics = DeckALyrics();
  SelfTestCheck(lyrics && !lyrics->lines.empty(), L"words found: " + EnglishText(LyricsStatusText(kDeckA)),
                L"deck A has no lyric lines");
  DrawShot(L"02-ready.png", Settings.Karaoke);
  return true;
}

bool Stems(double now) {
  if (now - Run.stepStart < kPanelWaitSeconds) return false;
  if (!Run.panelQueued) {
    Run.panelQueued = true;
    QueueCapture(MainFrameWindow(), L"10-panel.png", L"captured 10-panel.png", nullptr);
  }
  const DeckView& view = DeckAView();
  // No job was started (none could be): asking for one now names what is missing.
  if (!view.stemsReady && !view.stemsRunning && view.stemMessage.empty()) StartStemSeparation(kDeckA);
  if (!view.stemsReady && view.stemsRunning) return false;
  SelfTestCheck(view.stemsReady,
                view.stemMessage.empty() ? std::wstring(L"AI stems separated")
                                         : L"AI stems separated: " + view.stemMessage,
                view.stemMessage);
  return true;
}

bool Muted(double now) {
  if (!GainSettled(now, 0.0f, 0.0f)) return false;
  const float gain = AppliedVocalGain();
  SelfTestCheck(gain == 0.0f, L"vocal stem muted", fmt::format(L"deck A's vocal stem plays at {:.4f}", gain));
  Settings.KaraokeVocals = kVocalsGuide;
  return true;
}

bool Sing(double now);

bool Guide(double now) {
  if (!GainSettled(now, kGuideGain, kGainTolerance)) return false;
  const float gain = AppliedVocalGain();
  SelfTestCheck(std::fabs(gain - kGuideGain) <= kGainTolerance, L"GUIDE leaves the vocal at 15%",
                fmt::format(L"deck A's vocal stem plays at {:.4f}", gain));
  Settings.KaraokeVocals = kVocalsOff;
  const Lyrics* lyrics = DeckALyrics();
  if (!lyrics || lyrics->lines.empty()) {
    Finish();
    return false;
  }
  return Sing(now);
}

// The song with words: GO, the screens of a song, the timing controls, then played to its end.
bool Sing(double) {
  KaraokeGo();
  SelfTestCheck(Stage.singing, L"GO starts the song", L"the show is not singing after GO");
  if (DeckA().playing) ClickDeckAction(kDeckA, kPlayOffset);
  const ShowDeck deck = DeckA();
  const double bpm = deck.track && std::isfinite(deck.track->bpm) ? deck.track->bpm : 0.0;
  const double beat = 60.0 / std::max(bpm, kMinBpm);
  std::shared_ptr<Lyrics> lyrics = DeckLyricsState[kDeckA].lyrics;
  const double first = LyricsLineStart(*lyrics, 0);
  SeekA(first - kTitleLeadSeconds);
  DrawShot(L"03-title.png", Settings.Karaoke);
  SeekA(first - kCountInBeats * beat);
  DrawShot(L"04-count-in.png", Settings.Karaoke);

  const auto k = static_cast<int32_t>(lyrics->lines.size() / 3);
  const double mid = (LyricsLineStart(*lyrics, k) + LyricsLineEnd(*lyrics, k)) / 2.0;
  const double sung = LyricsSungChars(*lyrics, k, mid);
  const size_t length = lyrics->lines[static_cast<size_t>(k)].text.size();
  SelfTestCheck(sung > 0.0 && sung < static_cast<double>(length), L"the wipe is part way through a line mid-line",
                fmt::format(L"line {} has {:.1f} of {} characters sung half way through", k, sung, length));
  SeekA(mid);
  DrawShot(L"05-singing.png", Settings.Karaoke);
  KaraokeSettings gold = Settings.Karaoke;
  gold.Background = 1;
  gold.BackgroundFile = OutPath(kGoldPictureName);
  gold.Palette = 1;
  gold.TextSize = 2;
  std::wstring error;
  if (!WriteGoldPicture(gold.BackgroundFile, &error))
    SelfTestCheck(false, L"wrote the GOLD background picture", error);
  DrawShot(L"06-picture-gold-large.png", gold);

  NudgeLyrics(kDeckA, kNudgeSeconds);
  const double offset = DeckLyricsState[kDeckA].lyrics->offset;
  const int32_t before = LyricsLineAt(*DeckLyricsState[kDeckA].lyrics,
                                      LyricsLineStart(*DeckLyricsState[kDeckA].lyrics, k) - kNudgeProbeSeconds);
  SelfTestCheck(std::fabs(offset - kNudgeSeconds) < 1e-9 && before == k - 1,
                L"WORDS LATER moves the lines half a second",
                fmt::format(L"offset {:.3f} s, line {} just before line {}", offset, before, k));
  NudgeLyrics(kDeckA, -kNudgeSeconds);
  SeekA(TrackSeconds(DeckA()) - kNextUpFromEnd);
  DrawShot(L"07-next-up.png", Settings.Karaoke);

  StartTapSync(kDeckA);
  SeekA(kTapAtSeconds);
  SnapshotDecks();
  TapSyncLine();
  const double tapped = LyricsLineStart(*DeckLyricsState[kDeckA].lyrics, 0);
  SelfTestCheck(TapSyncIndex == 1 && std::fabs(tapped - kTapAtSeconds) <= kTapTolerance,
                L"tap sync times the first line",
                fmt::format(L"tap sync expects line {}, line 0 starts at {:.3f} s", TapSyncIndex, tapped));
  StopTapSync();
  SeekA(TrackSeconds(DeckA()) - kPlayOutFromEnd);
  if (!DeckA().playing) ClickDeckAction(kDeckA, kPlayOffset);
  return true;
}

bool SongEnd(double now) {
  if (!Stage.ended && now - Run.stepStart < kSongEndWaitSeconds) return false;
  const KaraokeSinger& first = Rotation.singers[0];
  SelfTestCheck(Stage.ended && !first.songs.empty() && first.songs[0].sung,
                L"the song ends by itself and is ticked off",
                L"the song did not end by itself within 5 s, or was not marked sung");
  const auto next = KaraokeUpNext(kUpNextTurns);
  const bool order = next.size() == 2 && next[0].first == 1 && next[1].first == 2;
  SelfTestCheck(order, fmt::format(L"{} is up next, then {}", kSingerNames[1], kSingerNames[2]),
                fmt::format(L"{} turns come next", next.size()));
  DrawShot(L"08-up-next.png", Settings.Karaoke);

  auto cdg = std::make_shared<Lyrics>();
  cdg->kind = LyricsKind::CdgGraphics;
  cdg->cdg = MakeTestCdg();
  cdg->source = L"CD+G graphics (test)";
  DeckLyricsState[kDeckA].lyrics = cdg;
  Stage.singing = true;
  Stage.ended = false;
  SeekA(kCdgAtSeconds);
  DrawShot(L"09-cdg.png", Settings.Karaoke);

  UiText message;
  const Lyrics online = LookUpLrclib(kLookupArtist, kLookupTitle, kLookupSeconds, &message);
  if (IsTimedLyrics(online.kind) && !online.lines.empty())
    SelfTestCheck(true, fmt::format(L"LRCLIB found timed words ({} lines)", online.lines.size()));
  else
    Warn(L"LRCLIB: " + (message.empty() ? std::wstring(L"no timed words") : EnglishText(message)));

  if (!VideoFile().empty()) {
    if (!LyricsFile().empty()) InstallLyricsFile();
    SeekA(kVideoLoopAt);
    KaraokeSettings loop = Settings.Karaoke;
    loop.Background = 2;
    loop.BackgroundFile = VideoFile();
    DrawShot(L"12-video-loop.png", loop);
    KaraokeScreenInfo video = DefaultKaraokeScreenInfo();
    auto words = std::make_shared<Lyrics>();
    words->kind = LyricsKind::KaraokeVideo;
    video.lyrics = words;
    video.path = VideoFile();
    video.position = kVideoAt;
    video.mode = 2;
    DrawInfoShot(L"13-karaoke-video.png", video, Settings.Karaoke);
  }
  SettingsPage = kSettingsPageKaraoke;
  SettingsOpen = true;
  return true;
}

bool ScreenOpens(double now) {
  if (now - Run.stepStart < kSettingsWaitSeconds) return false;
  // Closed after the capture: the picture must still show the page.
  QueueCapture(MainFrameWindow(), L"11-settings.png", L"captured 11-settings.png", [] { SettingsOpen = false; });
  ToggleKaraokeScreen();
  SelfTestCheck(IsKaraokeScreenOpen(), L"F9 opens the karaoke screen", L"no karaoke window after F9");
  return true;
}

bool ScreenShot(double now) {
  if (now - Run.stepStart < kScreenWaitSeconds) return false;
  QueueCapture(KaraokeScreenWindow(), L"14-screen-window.png", L"captured the karaoke screen window",
               [] { CloseKaraokeWindow(); });
  return true;
}

bool ScreenCloses(double) {
  SelfTestCheck(!IsKaraokeScreenOpen(), L"the karaoke screen closes", L"the karaoke window is still open");
  Finish();
  return true;
}

bool (*const kSteps[kKaraokeSteps])(double) = {SetUp, Ready, Stems, Muted, Guide, SongEnd, ScreenOpens,
                                               ScreenShot, ScreenCloses};

}  // namespace

void KaraokeTestTick(double nowSeconds) {
  if (Run.capturing || TestProgress.finished) return;
  if (TestProgress.start == 0.0) {
    TestProgress.start = Run.stepStart = nowSeconds;
    Run.folder = SelfTest.outputPath;
    SetKaraokeShotFolder(Run.folder);
    if (!CreateFolderTree(Run.folder)) {
      SelfTestCheck(false, L"output folder made", fmt::format(L"{} could not be made", Run.folder));
      FinishSelfTest();
      return;
    }
  }
  if (nowSeconds - TestProgress.start > kKaraokeStuckSeconds) {
    SelfTestCheck(false, fmt::format(L"finished within 5 minutes (stuck at step {})", TestProgress.nextStep),
                  L"the run was stuck");
    Finish();
    return;
  }
  if (TestProgress.nextStep >= static_cast<size_t>(kKaraokeSteps)) return;
  TestProgress.where = fmt::format(L"at step {}", TestProgress.nextStep);
  if (!kSteps[TestProgress.nextStep](nowSeconds) || TestProgress.finished) return;
  ++TestProgress.nextStep;
  Run.stepStart = nowSeconds;
}
