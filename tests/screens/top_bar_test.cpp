#include "screens/top_bar.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "app/publish_controls.h"
#include "base/settings.h"
#include "broadcast/audio_stream.h"
#include "broadcast/live_video.h"
#include "broadcast/mix_recording.h"
#include "control/midi_learn.h"
#include "engine/audio_input.h"
#include "engine/audio_output.h"
#include "engine/automix.h"
#include "engine/control_input.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/mixer_controls.h"
#include "engine/output_loss.h"
#include "engine/recorder.h"
#include "engine/sandbox.h"
#include "karaoke/karaoke_panel.h"
#include "library/now_playing.h"
#include "library/track_lists.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "platform/ui_post.h"
#include "screens/main_screen.h"
#include "settings/help_screen.h"
#include "settings/settings_screen.h"
#include "support/audio_server.h"
#include "support/temp_home.h"
#include "support/wav_probe.h"
#include "ui/draw.h"
#include "ui/glow.h"
#include "ui/language.h"
#include "ui/modal.h"
#include "ui/offscreen.h"
#include "ui/status_line.h"
#include "ui/text_log.h"
#include "ui/widgets.h"

namespace fs = std::filesystem;

namespace {

constexpr int kBarWidth = 2200;    // wide enough for the spectrum and the output status
constexpr int kFrameHeight = 120;  // room below the bar for the error bubble
constexpr float kBarHeight = 40;

// The right group as the bar lays it out: ids and widths from the right edge leftwards, 6 apart.
struct RightSlot {
  int32_t id;
  float width;
};
constexpr RightSlot kRightGroup[] = {{1, 30},  {2, 34}, {26, 56}, {6, 56}, {33, 50},   {34, 74},
                                     {47, 84}, {3, 84}, {5, 56},  {4, 92}, {4000, 80}, {35, 92}};

void ResetGlobals() {
  Input = UiInput{};
  ActiveControlId = kNoActiveControl;
  pressedIds.clear(), releasedIds.clear(), heldIds.clear(), absolutePositions.clear();
  midiLearnOn = false, midiLearnTarget = 0;
  ControllerShiftHeld = false;
  MasterFx = MasterFxSelection{};
  Sandbox = SandboxState{};
  Automix = AutomixState{};
  HelpOpen = false, SettingsOpen = false, SettingsPage = 0;
  KaraokePanelShown = false;
  Meters = MixMeters{};
  Engine.dropouts.store(0);
  Engine.renderLockMisses.store(0);
  Engine.serverUnderruns.store(0);
  Status = StatusLine{};
  DeferredActions.clear();
  Tooltip = FrameTooltip{};
  TrackLists.clear();
  Settings.Stream = StreamConfig{};
  Settings.Key = {};
  Settings.Service = 0;
  Settings.RecordFormat = kRecordFormatMp3;
  Settings.MicDevice.clear();
  RecordingTracklist.clear();
  NowPlaying = NowPlayingState{};
  for (DeckSnapshot& shot : DeckSnapshots) shot = DeckSnapshot{};
  CrossfaderPosition = 0.5f;
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  Engine.phonesMode = kPhonesNone;
  Engine.externalMixer = false;
}

class TopBar : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetGlobals();
    ASSERT_TRUE(CreateDevice(kBarWidth, kFrameHeight, 1.0f));
  }
  void TearDown() override {
    ReleaseDevice();
    ResetGlobals();
  }

  static Rc Bar() { return Rc{0, 0, kBarWidth, kBarHeight}; }
  // One frame of the bar, finished like a window frame.
  static void Frame() {
    ResetGlowLayer();
    BeginDraw();
    Clear(ColorOf(Pal.Background));
    DrawTopBar(Bar());
    EndFrame();
    EndFrameInput();
  }
  // A right-group button's rectangle (SKIP's place is kept while Automix is off).
  static Rc RightButton(int32_t id) {
    float x = kBarWidth - 8.0f;
    for (const RightSlot& slot : kRightGroup) {
      x -= slot.width;
      if (slot.id == id) return Rc{x, 7, slot.width, kBarHeight - 14};
      x -= 6;
    }
    ADD_FAILURE() << "no button " << id;
    return Rc{};
  }
  // Where the master-effect buttons start: after the translated "MASTER FX" label.
  static float MasterFxStart() { return 236 + TextWidth(L"MASTER FX", 8.5f, true, kFontBahnschrift) + 10; }
  // A mouse click on the rectangle's centre: the press frame, then the release frame.
  static void Click(Rc r, bool shift = false) {
    Input.x = r.CenterX(), Input.y = r.CenterY();
    Input.held = Input.pressed = true;
    Input.shiftHeld = shift;
    Frame();
    Input.held = false, Input.released = true;
    Frame();
    Input.shiftHeld = false;
  }
  // A key or controller press of the id, as the mapping table delivers it.
  static void PressId(int32_t id) {
    pressedIds.insert(id);
    Frame();
  }
  static void Hover(Rc r) {
    Input.x = r.CenterX(), Input.y = r.CenterY();
    Frame();
  }
  static uint32_t Pixel(int x, int y) {
    const PixelView v = FrameImage();
    return v.pixels[static_cast<size_t>(y) * v.stride + x] & 0xFFFFFF;
  }
  static int Channel(uint32_t rgb, int shift) { return static_cast<int>((rgb >> shift) & 0xFF); }
};

// A loopback port with nobody listening.
int ClosedPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

std::vector<fs::path> FilesIn(const fs::path& folder) {
  std::vector<fs::path> files;
  if (fs::exists(folder))
    for (const auto& entry : fs::directory_iterator(folder)) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

// ---- master effect ----------------------------------------------------------------------------------

TEST_F(TopBar, MasterFxStepsRoundTheEffectsWithoutBrakeOrBackspin) {
  const float g = MasterFxStart();
  MasterFx.effect = kFxDubEcho;
  Click(Rc{g + 92, 7, 18, 26});  // ▸
  EXPECT_EQ(MasterFx.effect, kFxEcho);
  EXPECT_FLOAT_EQ(MasterFx.beats, 0.5f);

  MasterFx.effect = kFxTremolo;
  Click(Rc{g, 7, 18, 26});  // ◂
  EXPECT_EQ(MasterFx.effect, kFxAutoWah);
  EXPECT_FLOAT_EQ(MasterFx.beats, 1.0f) << "AUTO-WAH's own beat length";

  // The name button steps forwards too; a whole round visits the sixteen master effects once.
  MasterFx.effect = kFxEcho;
  std::set<int32_t> seen;
  for (int i = 0; i < 16; ++i) {
    PressId(kMasterFxNameId);
    seen.insert(MasterFx.effect);
    EXPECT_NE(MasterFx.effect, kFxBrake);
    EXPECT_NE(MasterFx.effect, kFxBackspin);
  }
  EXPECT_EQ(seen.size(), 16u);
  EXPECT_EQ(MasterFx.effect, kFxEcho);
  PressId(kMasterFxPrevId);
  EXPECT_EQ(MasterFx.effect, kFxDubEcho);
}

TEST_F(TopBar, BeatButtonStepsTheLengthOnlyForEffectsThatHaveOne) {
  const Rc beat{MasterFxStart() + 112, 7, 34, 26};
  MasterFx.effect = kFxEcho;
  MasterFx.beats = 0.3f;
  EXPECT_EQ(MasterFxBeatLabel(MasterFx.effect, MasterFx.beats), L"1/4");
  Click(beat);
  EXPECT_FLOAT_EQ(MasterFx.beats, 0.375f);
  MasterFx.beats = 0.125f;
  Click(beat, /*shift=*/true);
  EXPECT_FLOAT_EQ(MasterFx.beats, 16.0f) << "Shift steps back from 1/8 to 16";
  Click(beat);
  EXPECT_FLOAT_EQ(MasterFx.beats, 0.125f) << "and forwards from 16 to 1/8";

  // Stepping to REVERB (no beat length) shows a dash, sets 0.5 and the button does nothing.
  MasterFx.effect = kFxEcho;
  MasterFx.beats = 4.0f;
  PressId(kMasterFxNextId);
  ASSERT_EQ(MasterFx.effect, kFxReverb);
  EXPECT_FLOAT_EQ(MasterFx.beats, 0.5f);
  EXPECT_EQ(MasterFxBeatLabel(MasterFx.effect, MasterFx.beats), L"\u2014");
  Click(beat);
  EXPECT_FLOAT_EQ(MasterFx.beats, 0.5f);

  // Halfway between two lengths the earlier one is shown.
  EXPECT_EQ(MasterFxBeatLabel(kFxEcho, 0.1875f), L"1/8");
  EXPECT_EQ(MasterFxBeatLabel(kFxEcho, 100.0f), L"16");
}

TEST_F(TopBar, OnButtonAndAmountKnobEditTheSelection) {
  const Rc on{MasterFxStart() + 148, 7, 32, 26};
  Click(on);
  EXPECT_TRUE(MasterFx.on);
  EXPECT_TRUE(controlLights[kMasterFxOnId]);
  Click(on);
  EXPECT_FALSE(MasterFx.on);
  EXPECT_FALSE(controlLights[kMasterFxOnId]);

  absolutePositions[kMasterFxAmountId] = 0.8f;
  Frame();
  EXPECT_FLOAT_EQ(MasterFx.amount, 0.8f);
  EXPECT_EQ(controlKinds[kMasterFxAmountId], kControlKindAbsolute);
}

// ---- recording -------------------------------------------------------------------------------------

class TopBarRecording : public TopBar {
 protected:
  void SetUp() override {
    TopBar::SetUp();
    std::string why;
    ASSERT_TRUE(EnsureAudioServer(&why)) << why;
    sink_ = std::make_unique<TestSink>("topbar", 2);
    ASSERT_TRUE(sink_->ok());
    OutputConfig config;
    config.masterDevice = sink_->wname();
    StartOutput(Engine, config);
    ASSERT_TRUE(WaitFor([] { return Engine.outputRunning.load(); }, kOpenWaitMs));
    OpenUiPosts(nullptr);
  }
  void TearDown() override {
    if (Engine.recording.load()) StopRecording();
    StopOutputs(Engine);
    Engine.sampleRate.store(0);
    DrainUiPosts([](const UiPost& post) {
      if (post.message == kRecordingStatusPost) delete static_cast<UiText*>(post.lparam);
    });
    LiveDeckViews[1] = DeckView{};
    TopBar::TearDown();
  }
  fs::path RecordingsFolder() const { return fs::path(home_.path()) / "Music" / "Veldmix Recordings"; }
  // Waits until the recorder has taken this much of the real mix.
  static bool RecordFor(double seconds) {
    return WaitFor(
        [&] { return Engine.recordFrames.load() >= static_cast<uint64_t>(seconds * Engine.recordRate.load()); },
        kOpenWaitMs + static_cast<int>(seconds * 1000));
  }
  TempHome home_;
  std::unique_ptr<TestSink> sink_;
};

TEST_F(TopBarRecording, RecRecordsTheMixAndWritesTheTracklistBesideIt) {
  // Deck B is announced as now playing when the recording starts: it opens the tracklist at 0:00.
  auto heard = std::make_shared<Track>();
  heard->path = home_.wpath() + L"/Opening Tune.mp3";
  DeckSnapshots[1].track = heard;
  DeckSnapshots[1].playing = true;
  LiveDeckViews[1].fader = 1.0f;
  NowPlaying.announcedPath = heard->path;
  NowPlaying.announcedDeck = 1;
  // Deck A plays along, fader up, but is not announced: it comes in only once it is.
  DeckSnapshots[0].track = std::make_shared<Track>();
  DeckSnapshots[0].track->path = home_.wpath() + L"/Playing Along.mp3";
  DeckSnapshots[0].playing = true;
  LiveDeckViews[0].fader = 1.0f;
  Settings.RecordFormat = kRecordFormatWav;
  // A German desktop: the music folder is ~/Musik, and the messages say so.
  fs::create_directories(home_.path() + "/config");
  WriteRaw(home_.path() + "/config/user-dirs.dirs", "XDG_MUSIC_DIR=\"$HOME/Musik\"\n");

  Click(RightButton(kRecButtonId));
  ASSERT_TRUE(Engine.recording.load()) << WideToUtf8(Status.text);
  const std::vector<fs::path> files = FilesIn(fs::path(home_.path()) / "Musik" / "Veldmix Recordings");
  ASSERT_EQ(files.size(), 1u);
  const std::string name = files[0].filename().string();
  EXPECT_EQ(name.rfind("Veldmix mix ", 0), 0u) << name;
  EXPECT_EQ(files[0].extension(), ".wav");
  EXPECT_EQ(WideToUtf8(RecordingPath), files[0].string());
  EXPECT_EQ(WideToUtf8(Status.text), "Recording to " + name);
  ASSERT_EQ(RecordingTracklist.size(), 1u);
  EXPECT_EQ(RecordingTracklist[0].path, heard->path);
  EXPECT_EQ(RecordingTracklist[0].seconds, 0.0);

  ASSERT_TRUE(RecordFor(1.2));
  EXPECT_EQ(RecButtonLabel(true, Engine.recordFrames.load(), Engine.recordRate.load()), L"\u25CF  0:01");
  const std::string png = ::testing::TempDir() + "topbar-recording.png";
  ASSERT_TRUE(RenderFrameToPng(
      kBarWidth, 60, [] { DrawTopBar(Bar()); }, Utf8ToWide(png)));
  std::printf("recording top bar: %s\n", png.c_str());
  // The now-playing step adds the next track as it is heard.
  RecordingTracklist.push_back({65.4, home_.wpath() + L"/Second.flac"});

  Click(RightButton(kRecButtonId));
  EXPECT_FALSE(Engine.recording.load());
  EXPECT_EQ(Status.text, L"Recording saved to ~/Musik/Veldmix Recordings");
  EXPECT_TRUE(RecordingTracklist.empty());
  const WavProbe probe = ProbeWithSoxi(files[0].string());
  EXPECT_EQ(probe.frames, static_cast<long long>(Engine.recordFrames.load()));
  EXPECT_GE(probe.frames, static_cast<long long>(1.2 * probe.rate));
  EXPECT_EQ(probe.rate, Engine.sampleRate.load());
  EXPECT_EQ(probe.channels, 2);

  const fs::path tracklist = WideToUtf8(TracklistPathFor(files[0].wstring()));
  EXPECT_EQ(tracklist.filename().string(), files[0].stem().string() + " tracklist.txt");
  EXPECT_EQ(ReadRaw(tracklist.string()),
            "\xEF\xBB\xBF"
            "0:00  Opening Tune.mp3\r\n1:05  Second.flac\r\n");
}

TEST_F(TopBarRecording, StoppingSavesAnMp3CopyAndNoTracklistWhenNothingWasHeard) {
  Click(RightButton(kRecButtonId));
  ASSERT_TRUE(Engine.recording.load());
  const fs::path wav = WideToUtf8(RecordingPath);
  EXPECT_EQ(WideToUtf8(Status.text), "Recording to " + wav.stem().string() + ".mp3") << "the file it ends as";
  ASSERT_TRUE(RecordFor(0.5));
  Click(RightButton(kRecButtonId));
  EXPECT_EQ(Status.text, L"Saving your mix as MP3\u2026");

  std::wstring message;
  ASSERT_TRUE(WaitFor(
      [&] {
        DrainUiPosts([&](const UiPost& post) {
          std::unique_ptr<UiText> text(static_cast<UiText*>(post.lparam));
          if (post.message == kRecordingStatusPost && text) message = EnglishText(*text);
        });
        return !message.empty();
      },
      20000));
  EXPECT_EQ(message, L"Mix saved as MP3 in ~/Music/Veldmix Recordings");
  EXPECT_FALSE(fs::exists(wav)) << "the WAV goes once its copy is whole";
  const fs::path mp3 = fs::path(wav).replace_extension(".mp3");
  ASSERT_TRUE(fs::exists(mp3));
  EXPECT_EQ(ProbeWithFfprobe(mp3.string()).codec, "mp3");
  EXPECT_FALSE(fs::exists(WideToUtf8(TracklistPathFor(wav.wstring()))));
}

TEST_F(TopBar, RecWithoutAnAudioOutputStartsNothing) {
  TempHome home;
  Engine.sampleRate.store(0);
  Click(RightButton(kRecButtonId));
  EXPECT_FALSE(Engine.recording.load());
  EXPECT_EQ(Status.text, L"Couldn't start recording \u2014 is an audio output available?");
  EXPECT_TRUE(FilesIn(fs::path(home.path()) / "Music" / "Veldmix Recordings").empty());
}

// ---- going live -------------------------------------------------------------------------------------

TEST_F(TopBar, GoLiveWithoutADestinationOpensTheBroadcastPage) {
  Settings.Stream.Host = L"radio.example";  // a host alone is not enough
  Settings.Key[1] = L"twitch-key";          // a key for another service neither
  Click(RightButton(kGoLiveButtonId));
  EXPECT_TRUE(SettingsOpen);
  EXPECT_EQ(SettingsPage, kSettingsPageBroadcast);
  EXPECT_EQ(Status.text, L"Set up your stream first (Settings \u25B8 BROADCAST)");
  EXPECT_EQ(LiveStreamState(), kStreamOff);

  // A key for the chosen service is enough for live video alone.
  SettingsOpen = false;
  Settings.Service = 1;
  Click(RightButton(kGoLiveButtonId));
  EXPECT_FALSE(SettingsOpen);
  EXPECT_EQ(Status.text, L"Going live on Twitch\u2026");
  EXPECT_EQ(LiveStreamState(), kStreamOff) << "no audio stream without a password";
  // The live-video worker runs now; with no output it fails before connecting. Stopped here, it
  // never retries against the real service.
  EXPECT_NE(StopLiveVideo(), kStreamOff);
}

TEST_F(TopBar, GoLiveStartsTheStreamShowsItsErrorAndStopsAfterTheFrame) {
  Settings.Stream.Host = L"127.0.0.1";
  Settings.Stream.Port = ClosedPort();
  Settings.Stream.Password = L"hackme";
  const Rc goLive = RightButton(kGoLiveButtonId);
  // With no output running the stream fails at once, and the status line never claims to connect.
  Click(goLive);
  ASSERT_TRUE(WaitFor([] { return LiveStreamState() == kStreamFailed; }, kOpenWaitMs));
  EXPECT_EQ(EnglishText(LiveStreamError()), L"No audio output is running");
  EXPECT_NE(Status.text, L"Connecting to 127.0.0.1\u2026");
  StopLiveStream();

  Engine.outputRunning.store(true);  // published as running: the stream tries the server
  Engine.sampleRate.store(48000);
  Click(goLive);
  EXPECT_NE(LiveStreamState(), kStreamOff);
  EXPECT_EQ(Status.text, L"Connecting to 127.0.0.1\u2026");

  // Nobody listens: the stream fails and waits to retry; hovering GO LIVE shows why.
  ASSERT_TRUE(WaitFor([] { return LiveStreamState() == kStreamFailed; }, kOpenWaitMs));
  ASSERT_FALSE(LiveStreamError().empty());
  Input.x = Input.y = -100;
  Frame();
  const int bubbleY = static_cast<int>(goLive.Bottom()) + 6 + 11;
  const uint32_t without = Pixel(static_cast<int>(goLive.x) + 4, bubbleY);
  Hover(goLive);
  const uint32_t with = Pixel(static_cast<int>(goLive.x) + 4, bubbleY);
  EXPECT_NE(with, without);
  EXPECT_EQ(with, Pal.Panel3) << std::hex << with;

  // A click queues the stop; nothing is joined inside the frame.
  Click(goLive);
  ASSERT_EQ(DeferredActions.size(), 1u);
  EXPECT_NE(LiveStreamState(), kStreamOff);
  RunDeferredActions();
  EXPECT_EQ(LiveStreamState(), kStreamOff);
  EXPECT_EQ(Status.text, L"Stream stopped");
  Engine.outputRunning.store(false);
  Engine.sampleRate.store(0);
}

TEST(TopBarTexts, RecAndGoLiveLabels) {
  EXPECT_EQ(RecButtonLabel(false, 999999, 48000), L"\u25CF  REC");
  EXPECT_EQ(RecButtonLabel(true, 48000 * 725 + 47999, 48000), L"\u25CF  12:05");
  EXPECT_EQ(RecButtonLabel(true, 90, 0), L"\u25CF  1:30") << "an unknown rate counts as 1";

  EXPECT_EQ(GoLiveAppearance(kStreamOff, kStreamOff, 0, 0).label, L"GO LIVE");
  const GoLiveLook onAir = GoLiveAppearance(kStreamOnAir, kStreamConnecting, 65.9, 0);
  EXPECT_EQ(onAir.label, L"LIVE 1:05");
  EXPECT_EQ(onAir.colour, Pal.Red);
  EXPECT_TRUE(onAir.blinks);
  EXPECT_EQ(GoLiveAppearance(kStreamOnAir, kStreamOnAir, 600, 12).label, L"LIVE 0:12") << "video time wins";
  EXPECT_EQ(GoLiveAppearance(kStreamOnAir, kStreamOff, -4, 0).label, L"LIVE 0:00");
  const GoLiveLook waiting = GoLiveAppearance(kStreamOff, kStreamFailed, 0, 0);
  EXPECT_EQ(waiting.label, L"LIVE\u2026");
  EXPECT_EQ(waiting.colour, Pal.Yellow);
  EXPECT_TRUE(waiting.lit && !waiting.blinks);
}

// ---- audio status -----------------------------------------------------------------------------------

TEST(TopBarTexts, OutputStatusNamesRateBufferAndHeadphones) {
  EXPECT_EQ(OutputStatusText({.running = false, .sampleRate = 48000, .bufferFrames = 480}), L"NO AUDIO OUTPUT");
  OutputStatusFacts facts{.running = true, .sampleRate = 44100, .bufferFrames = 441, .headphoneMode = kPhonesNone};
  const std::wstring base = L"44.1 kHz  \u2022  10 ms";
  EXPECT_EQ(OutputStatusText(facts), base);
  facts.headphoneMode = kPhonesOwnOutput;
  EXPECT_EQ(OutputStatusText(facts), base + L"  \u2022  NO CUE");
  facts.headphoneRunning = true;
  EXPECT_EQ(OutputStatusText(facts), base + L"  \u2022  CUE OK");
  facts.externalMixer = true;
  EXPECT_EQ(OutputStatusText(facts), base + L"  \u2022  EXT MIXER");
  facts.micLost = true;
  EXPECT_EQ(OutputStatusText(facts), base + L"  \u2022  MIC LOST");
  facts.masterLost = true;
  EXPECT_EQ(OutputStatusText(facts), L"MASTER LOST  \u2022  MIC LOST");
}

TEST_F(TopBar, LoadMeterTooltipAndClickReset) {
  const uint64_t now = MonotonicMs();
  Engine.dropouts.store(997);
  Engine.renderLockMisses.store(1);
  Engine.serverUnderruns.store(2);
  Meters.dropouts = 1000;
  Meters.dropoutsLogged = 997;
  Meters.dropoutRiseMs = now - 5000;
  Meters.load = 0.3f;
  Meters.loadHighest = 0.9f;
  const Rc meter = RightButton(kLoadMeterId);
  Hover(meter);
  EXPECT_EQ(Tooltip.text.rfind(L"Audio load 30%  (highest 90%)\n1000 dropouts, the last 0:0", 0), 0u)
      << WideToUtf8(Tooltip.text);
  EXPECT_NE(Tooltip.text.find(L" ago (997 late wake-ups, 1 repeated block, 2 server underruns)\n"), std::wstring::npos)
      << WideToUtf8(Tooltip.text);
  EXPECT_EQ(std::count(Tooltip.text.begin(), Tooltip.text.end(), L'\n'), 3) << "three lines and the hint";
  EXPECT_EQ(Tooltip.anchor.x, meter.x);
  EXPECT_EQ(Tooltip.anchor.w, 92);
  EXPECT_EQ(Tooltip.anchor.y, 7);
  EXPECT_TRUE(controlLights.count(kLoadMeterId));

  Tooltip = FrameTooltip{};
  Click(meter);
  EXPECT_EQ(Engine.dropouts.load(), 0u);
  EXPECT_EQ(Engine.renderLockMisses.load(), 0u);
  EXPECT_EQ(Engine.serverUnderruns.load(), 0u);
  EXPECT_EQ(Meters.dropouts, 0u);
  EXPECT_EQ(Meters.dropoutsLogged, 0u);
  EXPECT_FLOAT_EQ(Meters.loadHighest, 0.3f);
  EXPECT_EQ(Status.text, L"Dropout count and highest load reset");

  Input.x = Input.y = -100;
  Tooltip = FrameTooltip{};
  Frame();
  EXPECT_TRUE(Tooltip.text.empty()) << "no tooltip away from the meter";

  EXPECT_EQ(LoadMeterTooltip({.shownLoad = 0.124f, .highestLoad = 0.5f, .bufferFrames = 480, .sampleRate = 48000}),
            L"Audio load 12%  (highest 50%)\nNo dropouts since Veldmix started\n"
            L"480-frame buffer (10.0 ms)  \u2022  click to reset");
  const std::wstring one =
      LoadMeterTooltip({.dropouts = 1, .serverUnderruns = 1, .secondsSinceLastDropout = 75.5, .bufferFrames = 256,
                        .sampleRate = 44100});
  EXPECT_NE(one.find(L"\n1 dropout, the last 1:15 ago (1 server underrun)\n256-frame buffer (5.8 ms)"),
            std::wstring::npos)
      << WideToUtf8(one);
  // In German a single late wake-up and several repeated blocks, each in its own number.
  SetUiLanguage(kUiGerman);
  const std::wstring german = LoadMeterTooltip({.dropouts = 3, .lateWakeups = 1, .repeatedBlocks = 2,
                                                .secondsSinceLastDropout = 5, .bufferFrames = 480,
                                                .sampleRate = 48000});
  SetUiLanguage(kUiEnglish);
  EXPECT_NE(german.find(L"3 Aussetzer, der letzte vor 0:05 (1 versp\u00e4teter Weckruf, 2 wiederholte Bl\u00f6cke)\n"),
            std::wstring::npos)
      << WideToUtf8(german);
  EXPECT_NE(one.find(L"\nDropouts? Try a bigger buffer: Settings \u25B8 AUDIO \u25B8 Latency"), std::wstring::npos);
  EXPECT_NE(LoadMeterTooltip({.highestLoad = 0.8f}).find(L"Try a bigger buffer"), std::wstring::npos);
}

TEST_F(TopBar, TheLoadColourFollowsTheLoadNotItsRoundedFill) {
  const Rc meter = RightButton(kLoadMeterId);
  const int x = static_cast<int>(meter.x) + 37, y = 20;  // inside the fill at any visible load
  // The fill's colour by its red and green: Green, Yellow or Red.
  auto fill = [&](float load) -> std::string {
    Meters.load = load;
    Frame();
    const uint32_t p = Pixel(x, y);
    return Channel(p, 16) < 128 ? "green" : Channel(p, 8) > 128 ? "yellow" : "red";
  };
  // 0.49 fills as much as 0.5 (13 of 26 units) and 0.74 as much as 0.75, yet each is below its step.
  EXPECT_EQ(fill(0.49f), "green");
  EXPECT_EQ(fill(0.5f), "yellow");
  EXPECT_EQ(fill(0.74f), "yellow");
  EXPECT_EQ(fill(0.75f), "red");
}

// At the widths of laptop screens and beyond: turning Automix on shows SKIP in a place kept for it
// and moves no other control; the master effect's knob lies wholly left of the load meter.
TEST_F(TopBar, NoControlMovesWhenAutomixTurnsOnAndTheMasterFxKnobStaysClear) {
  for (const float width : {1280.0f, 1366.0f, 1500.0f, 1920.0f}) {
    auto draw = [&] {
      std::vector<std::pair<int, Rc>> drawn;
      WidgetRectLog = &drawn;
      ResetGlowLayer();
      BeginDraw();
      DrawTopBar(Rc{0, 0, width, kBarHeight});
      EndFrame();
      EndFrameInput();
      WidgetRectLog = nullptr;
      return drawn;
    };
    Automix.on = false;
    const auto off = draw();
    Automix.on = true;
    const auto on = draw();
    Automix.on = false;
    EXPECT_EQ(on.size(), off.size() + 1) << width << ": SKIP is added";
    auto find = [](const std::vector<std::pair<int, Rc>>& drawn, int id) {
      for (const auto& [i, r] : drawn)
        if (i == id) return r;
      return Rc{-1, -1, 0, 0};
    };
    for (const auto& [id, r] : off) {
      const Rc same = find(on, id);
      EXPECT_TRUE(same.x == r.x && same.w == r.w) << width << ": control " << id << " moved";
    }
    const Rc knob = find(off, kMasterFxAmountId), meter = find(off, kLoadMeterId), skip = find(on, kSkipButtonId);
    ASSERT_GT(knob.w, 0);
    EXPECT_LT(knob.Right(), meter.x) << width << ": the knob runs under the load meter";
    EXPECT_GT(skip.x, meter.Right()) << width;
    EXPECT_LT(skip.Right(), find(off, kRecButtonId).x) << width;
  }
}

// The output status is read, not only its dot: with the room a 1500 and a 1920 unit wide bar leave,
// the rate and buffer show, and a lost master shows at least that.
TEST_F(TopBar, TheOutputStatusGetsRoomForItsText) {
  auto shown = [](float width) {
    std::vector<DrawnText> texts;
    DrawnTextLog = &texts;
    ResetGlowLayer();
    BeginDraw();
    DrawTopBar(Rc{0, 0, width, kBarHeight});
    EndFrame();
    EndFrameInput();
    DrawnTextLog = nullptr;
    std::wstring all;
    for (const DrawnText& t : texts) all += t.text + L"|";
    return all;
  };
  Engine.outputRunning.store(true);
  Engine.sampleRate.store(48000);
  Engine.bufferFrames.store(2400);
  const std::wstring wide = shown(1920), narrower = shown(1500);
  Engine.outputRunning.store(false);
  EXPECT_NE(wide.find(L"|48.0 kHz  \u2022  50 ms|"), std::wstring::npos) << WideToUtf8(wide);
  EXPECT_NE(narrower.find(L"|48.0 kHz"), std::wstring::npos) << WideToUtf8(narrower);
  EXPECT_NE(shown(1500).find(L"|NO AUDIO OUTPUT|"), std::wstring::npos) << WideToUtf8(shown(1500));
  MarkOutputPlaying(OutputKind::kMaster, L"test-card");
  MarkOutputLost(OutputKind::kMaster);
  const std::wstring lostWide = shown(1920), lostNarrower = shown(1500);
  ForgetLostOutput(OutputKind::kMaster);
  EXPECT_NE(lostWide.find(L"|MASTER LOST  \u2022  REOPENING|"), std::wstring::npos) << WideToUtf8(lostWide);
  EXPECT_NE(lostNarrower.find(L"|MASTER LOST"), std::wstring::npos) << WideToUtf8(lostNarrower);
  Engine.sampleRate.store(0);
  Engine.bufferFrames.store(0);
}

TEST_F(TopBar, SpectrumBarsFollowTheMixBands) {
  // Centred with room to spare: the middle of bar 8 of 16 lies half a bar step right of centre.
  const int cx = kBarWidth / 2 + 9, above = 20 - 12;
  Frame();
  const uint32_t silent = Pixel(cx, above);
  Meters.spectrum.fill(1.0f);
  Frame();
  const uint32_t loud = Pixel(cx, above);
  EXPECT_GT(Channel(loud, 16) + Channel(loud, 8) + Channel(loud, 0),
            Channel(silent, 16) + Channel(silent, 8) + Channel(silent, 0) + 150)
      << std::hex << silent << " " << loud;
  // The middle bars sit between deck A's colour and deck B's, around Purple: more blue than green.
  const uint32_t low = Pixel(cx, 30);
  EXPECT_GT(Channel(low, 0), Channel(low, 8)) << std::hex << low;
}

// ---- the toggles -------------------------------------------------------------------------------------

TEST_F(TopBar, HelpSettingsAndKaraokeToggle) {
  Click(RightButton(kHelpButtonId));
  EXPECT_TRUE(HelpOpen);
  EXPECT_TRUE(controlLights[kHelpButtonId]);
  Click(RightButton(kHelpButtonId));
  EXPECT_FALSE(HelpOpen);

  std::string why;
  ASSERT_TRUE(EnsureAudioServer(&why)) << why;
  TestSink sink("settings", 2);
  ASSERT_TRUE(sink.ok());
  SettingsOutputDevices.clear();
  Click(RightButton(kSettingsButtonId));
  EXPECT_TRUE(SettingsOpen);
  EXPECT_TRUE(std::any_of(SettingsOutputDevices.begin(), SettingsOutputDevices.end(),
                          [&](const AudioDevice& d) { return d.id == sink.wname(); }));
  EXPECT_TRUE(std::any_of(SettingsInputDevices.begin(), SettingsInputDevices.end(),
                          [&](const AudioDevice& d) { return d.id == sink.wname() + L".monitor"; }));
  Click(RightButton(kSettingsButtonId));
  EXPECT_FALSE(SettingsOpen);

  PressId(kKaraokeButtonId);
  EXPECT_TRUE(KaraokePanelShown);
  EXPECT_EQ(Status.text, L"Karaoke: add singers, drag songs onto them, then SING.  F9 opens the screen");
  Click(RightButton(kKaraokeButtonId));
  EXPECT_FALSE(KaraokePanelShown);
  EXPECT_EQ(Status.text, L"Karaoke panel closed");
}

TEST_F(TopBar, MidiButtonEntersAndLeavesLearnMode) {
  midiLearnTarget = 17;
  Click(RightButton(kMidiButtonId));
  EXPECT_TRUE(midiLearnOn);
  EXPECT_EQ(midiLearnTarget, 0);
  EXPECT_EQ(Status.text, L"MIDI learn: no controller detected \u2014 plug one in (it's picked up straight away)");

  // In learn mode other buttons only become the target ...
  Click(RightButton(kHelpButtonId));
  EXPECT_FALSE(HelpOpen);
  EXPECT_EQ(midiLearnTarget, kHelpButtonId);
  // ... but MIDI itself takes the user out again.
  Click(RightButton(kMidiButtonId));
  EXPECT_FALSE(midiLearnOn);
  EXPECT_EQ(midiLearnTarget, 0);
}

TEST_F(TopBar, AutomixSkipAndSandbox) {
  TrackLists = {TrackList{.name = L"Automix", .paths = {L"/a.mp3", L"/b.mp3"}, .builtIn = true}};
  PressId(kSkipButtonId);
  EXPECT_FALSE(Automix.skipRequest) << "SKIP is not there while Automix is off";
  Click(RightButton(kAutomixButtonId));
  ASSERT_TRUE(Automix.on);
  EXPECT_TRUE(controlLights[kAutomixButtonId]);
  Click(RightButton(kSkipButtonId));
  EXPECT_TRUE(Automix.skipRequest);
  Click(RightButton(kAutomixButtonId));
  EXPECT_FALSE(Automix.on);

  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.phonesMode = kPhonesSplit;  // the sandbox needs headphones apart from the master
  }
  Click(RightButton(kSandboxButtonId));
  EXPECT_TRUE(Sandbox.on);
  Click(RightButton(kSandboxButtonId));
  EXPECT_FALSE(Sandbox.on);
}

TEST_F(TopBar, MicSwitchesTheRealInputAndShowsItsLevel) {
  std::string why;
  ASSERT_TRUE(EnsureAudioServer(&why)) << why;
  TestSink mic("topbarmic", 2);
  ASSERT_TRUE(mic.ok());
  Settings.MicDevice = mic.wname() + L".monitor";
  Settings.MicDuck = true;
  const Rc button = RightButton(kMicButtonId);
  Click(button);
  EXPECT_TRUE(Engine.inputOn.load());
  EXPECT_EQ(Status.text, L"Mic on \u2014 music ducks while you talk");
  EXPECT_TRUE(WaitFor([] { return Engine.inputCapturing.load(); }, kOpenWaitMs));

  // The level line: 48 units long at full level, along the button's bottom.
  const int lineY = static_cast<int>(button.Bottom()) - 3;
  Input.x = Input.y = -100;
  Meters.microphone = 0.0f;
  Frame();
  const uint32_t silent = Pixel(static_cast<int>(button.x) + 40, lineY);
  Meters.microphone = 1.0f;
  Frame();
  const uint32_t loud = Pixel(static_cast<int>(button.x) + 40, lineY);
  EXPECT_GT(Channel(loud, 8), Channel(silent, 8) + 80) << std::hex << silent << " " << loud;

  Settings.MicDuck = false;
  Click(button);
  EXPECT_FALSE(Engine.inputOn.load());
  EXPECT_EQ(Status.text, L"Mic off");
  Click(button);
  EXPECT_EQ(Status.text, L"Mic on");
  EnableInput(Engine, false, L"");
  Settings.MicDuck = true;
}

// ---- renders -----------------------------------------------------------------------------------------

// The bar as people see it, idle and busy, written where the test log says.
TEST_F(TopBar, RendersIdleAndBusyBars) {
  const std::string idle = ::testing::TempDir() + "topbar-idle.png";
  const std::string busy = ::testing::TempDir() + "topbar-busy.png";
  const auto draw = [] { DrawTopBar(Rc{0, 0, 1600, kBarHeight}); };
  ASSERT_TRUE(RenderFrameToPng(1600, 80, draw, Utf8ToWide(idle)));

  Engine.outputRunning.store(true);
  Engine.sampleRate.store(48000);
  Engine.bufferFrames.store(480);
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.phonesMode = kPhonesSplit;
  }
  Engine.dropouts.store(3);
  Meters.dropouts = 3;
  Meters.dropoutRiseMs = MonotonicMs();
  Meters.load = 0.42f;
  for (int i = 0; i < kSpectrumBands; ++i) Meters.spectrum[i] = 0.9f / (1 + i * 0.6f);
  Automix.on = true;
  TrackLists = {TrackList{.name = L"Automix", .paths = {L"/a.mp3", L"/b.mp3", L"/c.mp3"}, .builtIn = true}};
  KaraokePanelShown = true;
  MasterFx = MasterFxSelection{.effect = kFxFlanger, .on = true, .amount = 0.7f, .beats = 8.0f};
  BeatPulse[0] = 1.0f;
  ASSERT_TRUE(RenderFrameToPng(1600, 80, draw, Utf8ToWide(busy)));
  Engine.outputRunning.store(false);
  Engine.sampleRate.store(0);
  Engine.bufferFrames.store(0);
  BeatPulse[0] = 0.0f;
  std::printf("top bar renders: %s %s\n", idle.c_str(), busy.c_str());
  EXPECT_GT(fs::file_size(idle), 1000u);
  EXPECT_GT(fs::file_size(busy), fs::file_size(idle)) << "the busy bar has more to show";
  EXPECT_EQ(TargetWidth(), kBarWidth) << "the test's own frame is back";
}
