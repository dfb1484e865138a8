#include "base/settings.h"
#include "app/load_settings.h"

#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "base/test_mode.h"
#include "engine/deck_view.h"
#include "engine/sampler_bank.h"
#include "library/track_view.h"
#include "platform/ini.h"
#include "platform/text.h"
#include "support/temp_home.h"
#include "ui/language.h"

namespace {

namespace fs = std::filesystem;

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES"}) unsetenv(name);
    setenv("LANG", "C.UTF-8", 1);
    Settings = SettingsRecord{};
    MusicFolders.clear();
    ViewIndex = 0;
    ViewKind = kViewFolder;
    SamplerBank = 0;
    for (DeckView& v : LiveDeckViews) v = DeckView{};
    SetUiLanguage(0);
    TestMode = false;
  }
  void TearDown() override {
    TestMode = false;
    Settings = SettingsRecord{};
  }
  std::string Data() const { return home.path() + "/data/Veldmix"; }
  std::string File() const { return Data() + "/settings.ini"; }
  void WriteFile(const std::string& text) {
    fs::create_directories(Data());
    WriteRaw(File(), text);
  }
  IniDocument Saved() const { return ParseIni(ReadRaw(File())); }
  // Loads this text as the settings file, as a fresh start would.
  void LoadFrom(const std::string& text) {
    WriteFile(text);
    LoadSettings();
  }

  TempHome home;
};

TEST_F(SettingsTest, FirstRunTakesTheUsersFoldersLanguageAndANewPin) {
  fs::create_directories(home.path() + "/Music");
  fs::create_directories(home.path() + "/Desktop");
  setenv("LANG", "es_ES.UTF-8", 1);
  LoadSettings();
  EXPECT_EQ(MusicFolders, (std::vector<std::wstring>{home.wpath() + L"/Music", home.wpath() + L"/Desktop"}));
  EXPECT_FALSE(Settings.TourDone);
  EXPECT_EQ(Settings.Language, 1);
  EXPECT_EQ(UiLanguage(), 1);
  ASSERT_EQ(Settings.Pin.size(), 4u);
  EXPECT_GE(std::stoi(WideToUtf8(Settings.Pin)), 1000);
  EXPECT_FLOAT_EQ(Settings.MicGain, 0.7f);
  EXPECT_FLOAT_EQ(Settings.Vol[31], 1.0f);
  EXPECT_EQ(Settings.RecordFormat, 1);
  EXPECT_EQ(Settings.Karaoke.Message, L"Want to sing? Ask the DJ!");
  EXPECT_TRUE(LiveDeckViews[3].vinylMode);
}

TEST_F(SettingsTest, AnExistingFileChangesTheFirstRunDefaults) {
  setenv("LANG", "de_DE.UTF-8", 1);
  LoadFrom("[Audio]\nBufferMs=20\n");
  EXPECT_FALSE(Settings.TourDone) << "a file from before the tour existed still gets the tour";
  EXPECT_EQ(Settings.Language, 0);
  EXPECT_EQ(Settings.BufferMs, 20);

  unsetenv("LANG");
  EXPECT_EQ(DefaultUiLanguage(), 0);
  setenv("LANG", "fr_CA.UTF-8", 1);
  EXPECT_EQ(DefaultUiLanguage(), 4);
  setenv("LC_ALL", "de_AT@euro", 1);
  EXPECT_EQ(DefaultUiLanguage(), 2);
  setenv("LANGUAGE", "pt_BR:en", 1);
  EXPECT_EQ(DefaultUiLanguage(), 3);
}

TEST_F(SettingsTest, NumbersAreClampedOnLoad) {
  LoadFrom(
      "[Audio]\nBufferMs=500\n[Video]\nHeight=1000\n[LiveVideo]\nHeight=2160\n[Mic]\nGain=250\n"
      "[Sampler]\nBank=9\nVol4=-3\n[Remote]\nPort=80\n[Midi]\nJogTicks=99999\nVinyl=0\n"
      "[Karaoke]\nGuide=1\n[Broadcast]\nBitrate=100000\nPort=0\n[Options]\nLanguage=7\nColorFx=9\n");
  EXPECT_EQ(Settings.BufferMs, 50);
  EXPECT_EQ(Settings.VideoHeight, 720);
  EXPECT_EQ(Settings.LiveVideoHeight, 1080);
  EXPECT_FLOAT_EQ(Settings.MicGain, 1.0f);
  EXPECT_EQ(SamplerBank, 3);
  EXPECT_FLOAT_EQ(Settings.Vol[4], 0.0f);
  EXPECT_EQ(Settings.RemotePort, 1024);
  EXPECT_EQ(Settings.JogTicks, 4096);
  EXPECT_EQ(Settings.Guide, 5);
  EXPECT_EQ(Settings.Stream.Bitrate, 100000);
  EXPECT_EQ(Settings.Stream.Port, 1);
  EXPECT_EQ(Settings.Language, 4);
  EXPECT_EQ(UiLanguage(), 4);
  for (const DeckView& v : LiveDeckViews) {
    EXPECT_FALSE(v.vinylMode);
    EXPECT_EQ(v.colorFx, 5);
  }
  LoadFrom("[Audio]\nBufferMs=1\n[Video]\nHeight=1080\n");
  EXPECT_EQ(Settings.BufferMs, 2);
  EXPECT_EQ(Settings.VideoHeight, 1080);
}

TEST_F(SettingsTest, TheOlderMp3KeyIsOnlyADefault) {
  LoadFrom("[Options]\nRecordMp3=0\n[Session]\nDeck0=/music/a.mp3\n");
  EXPECT_EQ(Settings.RecordFormat, 0);
  ASSERT_TRUE(SaveSettings());
  std::wstring value;
  EXPECT_EQ(IniString(Saved(), L"Options", L"RecordFormat", L"missing"), L"0");
  EXPECT_FALSE(IniLookup(Saved(), L"Options", L"RecordMp3", &value));
  EXPECT_EQ(IniString(Saved(), L"Session", L"Deck0", L""), L"/music/a.mp3");
  LoadFrom("[Options]\nRecordMp3=0\nRecordFormat=2\n");
  EXPECT_EQ(Settings.RecordFormat, 2);
}

TEST_F(SettingsTest, MusicFoldersAndTheShownFolder) {
  LoadFrom("[Library]\nCount=4\nSelected=9\nFolder0=/a\nFolder1=\nFolder2=/c\nFolder3=/d\nFolder4=/beyond\n");
  EXPECT_EQ(MusicFolders, (std::vector<std::wstring>{L"/a", L"/c", L"/d"}));
  EXPECT_EQ(ViewIndex, 2);
  MusicFolders.pop_back();
  ViewIndex = 1;
  ASSERT_TRUE(SaveSettings());
  std::wstring value;
  EXPECT_FALSE(IniLookup(Saved(), L"Library", L"Folder2", &value)) << "the old list must go";
  EXPECT_EQ(IniString(Saved(), L"Library", L"Count", L""), L"2");
  EXPECT_EQ(IniString(Saved(), L"Library", L"Selected", L""), L"1");
  ViewKind = kViewList;
  ASSERT_TRUE(SaveSettings());
  EXPECT_EQ(IniString(Saved(), L"Library", L"Selected", L""), L"0");

  // A damaged count neither hangs the load nor invents folders.
  LoadFrom("[Library]\nCount=2000000000\nFolder999=/x\nFolder1000=/y\n");
  EXPECT_EQ(MusicFolders, std::vector<std::wstring>{L"/x"});
}

TEST_F(SettingsTest, OnlyAFourCharacterPinIsKept) {
  for (const char* pin : {"12345", ""}) {
    LoadFrom(std::string("[Remote]\nPin=") + pin + "\n");
    ASSERT_EQ(Settings.Pin.size(), 4u) << pin;
    const int value = std::stoi(WideToUtf8(Settings.Pin));
    EXPECT_TRUE(value >= 1000 && value <= 9999) << value;
  }
  LoadFrom("[Remote]\nPin=0123\n");
  EXPECT_EQ(Settings.Pin, L"0123");
}

TEST_F(SettingsTest, SecretsAreHexThatOnlyThisUserCanRead) {
  EXPECT_EQ(ProtectSecret(L""), L"");
  EXPECT_EQ(UnprotectSecret(L"a"), L"");
  const std::wstring text = L"p\u00e4ss \u2713";
  const std::wstring hex = ProtectSecret(text);
  EXPECT_EQ(hex.size(), 2 * (WideToUtf8(text).size() + 28));
  EXPECT_EQ(hex.find_first_not_of(L"0123456789abcdef"), std::wstring::npos);
  EXPECT_EQ(UnprotectSecret(hex), text);
  EXPECT_EQ(UnprotectSecret(hex + L"7"), text) << "a last odd digit is ignored";
  EXPECT_EQ(UnprotectSecret(L"zz" + hex.substr(2)), L"");

  setenv("XDG_CONFIG_HOME", (home.path() + "/another-user").c_str(), 1);
  LoadFrom("[Broadcast]\nPassword=" + WideToUtf8(hex) + "\n[LiveVideo]\nKey1=" + WideToUtf8(hex) + "\n");
  EXPECT_EQ(Settings.Stream.Password, L"");
  EXPECT_EQ(Settings.Key[1], L"");
}

TEST_F(SettingsTest, EveryKeySurvivesLoadAndSave) {
  std::string text =
      "[Audio]\nMaster=out-a\nPhones=out-b\nBooth=out-c\nPhonesMode=2\nMasterPair=3\nPhonesPair=4\nBoothPair=5\n"
      "Latency=1\nBufferMs=33\nExternalMixer=1\nLimiter=0\n"
      "[Options]\nXfCurve=2\nAutoGain=0\nCamelot=0\nQuantize=1\nMixLen=17\nAutoCue=0\nRestoreSession=0\n"
      "XfReverse=1\nRecordFormat=2\nFourDecks=1\nColorFx=3\nLanguage=4\n"
      "[Look]\nTheme=3\nSkin=Midnight\nLayout=2\nVertical=1\nArt=0\nDeckArt=0\n"
      "[Camera]\nOn=1\nDevice=test-pattern\nShow=1\nMirror=0\n"
      "[Midi]\nLeds=0\nLedOn=100\nLedOff=3\nLayout=Pro 4\nAutoLayouts=0\nVinyl=0\nJogTicks=1024\nJogFeel=2\n"
      "FlipPitch=1\nClockOut=clock port\n"
      "[Video]\nTransition=4\nEffect=7\nOverlay=0\nRecord=1\nHeight=1080\n"
      "[Visualiser]\nStyle=8\nAuto=1\nTrack=0\n[Tour]\nDone=0\n"
      "[Dvs]\nOn=1\nDevice=dvs in\nPairA=6\nPairB=2\nTraktor=1\nFlipA=1\nFlipB=1\n"
      "[Remote]\nOn=1\nPin=0042\nPort=9001\n"
      "[LiveVideo]\nService=2\nUrl=rtmp://live.invalid/app\nHeight=1080\n"
      "[Mic]\nDevice=mic in\nGain=35\nDuck=0\nFx=3\n[Automix]\nStyle=0\nShuffle=1\n[Stems]\nAuto=0\n"
      "[AI]\nUrl=http://10.0.0.2:11434\nModel=mistral\n"
      "[Broadcast]\nHost=radio.invalid\nPort=8443\nMount=/mix\nUser=dj\nType=1\nBitrate=320\nName=Friday mix\n"
      "[Karaoke]\nBackground=2\nBackgroundFile=/tmp/bg.png\nDim=60\nBlur=0\nPalette=3\nTextSize=2\nCountdown=0\n"
      "ShowNext=0\nMessage=Sing!\nVocals=1\nGuide=22\nBreakList=a;b\nOnline=1\n"
      "[Updates]\nCheck=0\nInstalled=20250101\nDismissed=-5\nPending=9000000000\nPendingBuild=77\n"
      "[Sampler]\nBank=2\n";
  for (int i = 0; i < kSamplerSlots; ++i)
    text += "Slot" + std::to_string(i) + "=/s/" + std::to_string(i) + ".wav\nLoop" + std::to_string(i) + "=" +
            std::to_string(i % 2) + "\nVol" + std::to_string(i) + "=" + std::to_string(50 + i) + "\n";
  text += "[Macros]\n";
  for (int i = 0; i < kMacroSlots; ++i)
    text += "Name" + std::to_string(i) + "=M" + std::to_string(i) + "\nScript" + std::to_string(i) + "=brake & wait " +
            std::to_string(i) + " beats\n";
  const std::wstring secrets[] = {L"key zero", L"", L"key two", L"k\u00e9y three", L"s3cret"};
  // The protected values change with every save (a new nonce), so they are compared in plain.
  const IniDocument expected = ParseIni(text);
  std::string keys = "[LiveVideo]\n";
  for (int i = 0; i < 4; ++i) keys += "Key" + std::to_string(i) + "=" + WideToUtf8(ProtectSecret(secrets[i])) + "\n";
  text.replace(text.find("[LiveVideo]\n"), 12, keys);
  text.replace(text.find("[Broadcast]\n"), 12, "[Broadcast]\nPassword=" + WideToUtf8(ProtectSecret(secrets[4])) + "\n");
  LoadFrom(text);

  EXPECT_EQ(Settings.BufferMs, 33);
  EXPECT_EQ(Settings.MixLen, 17);
  EXPECT_EQ(SamplerBank, 2);
  EXPECT_EQ(Settings.Slot[31], L"/s/31.wav");
  EXPECT_TRUE(Settings.Loop[1]);
  EXPECT_FLOAT_EQ(Settings.Vol[7], 0.57f);
  EXPECT_FLOAT_EQ(Settings.MicGain, 0.35f);
  EXPECT_EQ(Settings.MacroScript[7], L"brake & wait 7 beats");
  EXPECT_EQ(Settings.MidiLayout, L"Pro 4");
  EXPECT_EQ(Settings.ClockOut, L"clock port");
  EXPECT_EQ(Settings.CameraDevice, L"test-pattern");
  EXPECT_EQ(Settings.DvsDevice, L"dvs in");
  EXPECT_EQ(Settings.MicDevice, L"mic in");
  EXPECT_EQ(Settings.RemotePort, 9001);
  EXPECT_EQ(Settings.Pin, L"0042");
  EXPECT_EQ(Settings.VisualiserStyle, 8);
  EXPECT_EQ(Settings.AutomixStyle, 0);
  EXPECT_EQ(Settings.Stream.Port, 8443);
  EXPECT_EQ(Settings.Stream.Password, secrets[4]);
  EXPECT_EQ(Settings.Key[3], secrets[3]);
  EXPECT_EQ(Settings.Karaoke.Dim, 60);
  EXPECT_EQ(Settings.Karaoke.Message, L"Sing!");
  EXPECT_EQ(Settings.KaraokeVocals, 1);
  EXPECT_EQ(Settings.Pending, 9000000000);
  EXPECT_EQ(Settings.Dismissed, -5);
  EXPECT_FALSE(Settings.TourDone);
  EXPECT_FALSE(Settings.UpdatesCheck);
  EXPECT_EQ(LiveDeckViews[0].colorFx, 3);

  ASSERT_TRUE(SaveSettings());
  const IniDocument saved = Saved();
  for (const IniSection& section : expected.sections)
    for (const IniEntry& entry : section.entries)
      EXPECT_EQ(IniString(saved, section.name, entry.key, L"<missing>"), entry.stored)
          << WideToUtf8(section.name) << " " << WideToUtf8(entry.key);
  EXPECT_EQ(UnprotectSecret(IniString(saved, L"Broadcast", L"Password", L"")), secrets[4]);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(UnprotectSecret(IniString(saved, L"LiveVideo", L"Key" + std::to_wstring(i), L"")), secrets[i]);
  }
  EXPECT_EQ(IniString(saved, L"LiveVideo", L"Key1", L"<missing>"), L"");
}

TEST_F(SettingsTest, FailedWritesAreReportedAndLeaveTheOldFile) {
  LoadFrom("[Session]\nDeck0=/old\n");
  Settings.BreakList = std::wstring(5000, L'b');
  {
    FileSizeLimit full(1024);
    EXPECT_FALSE(SaveSettings());
  }
  EXPECT_EQ(ReadRaw(File()), "[Session]\nDeck0=/old\n");
  ASSERT_TRUE(SaveSettings());
  Settings = SettingsRecord{};
  LoadSettings();
  EXPECT_EQ(Settings.BreakList, std::wstring(5000, L'b')) << "values are never cut";

  // A file that cannot be read is never replaced: what other parts keep there would be lost.
  const std::string huge = "[Session]\nDeck0=" + std::string(kIniMaxBytes, 'x') + "\n";
  WriteRaw(File(), huge);
  EXPECT_FALSE(SaveSettings());
  EXPECT_EQ(ReadRaw(File()).size(), huge.size());
  fs::remove(File());
  fs::create_directories(File());
  EXPECT_FALSE(SaveSettings());

  fs::remove_all(Data());
  WriteRaw(Data(), "a file where the data folder belongs");
  EXPECT_FALSE(SaveSettings());

  fs::remove(Data());
  TestMode = true;
  EXPECT_TRUE(SaveSettings());
  EXPECT_FALSE(fs::exists(File()));
}

// A settings file that is a link leading nowhere starts on the defaults and says, with the file and
// the cause, that nothing will be saved; the link is left as it is.
TEST_F(SettingsTest, ASettingsLinkThatLeadsNowhereIsSaid) {
  fs::create_directories(Data());
  fs::create_symlink(Data() + "/gone/settings.ini", File());
  LoadSettings();
  EXPECT_EQ(EnglishText(SettingsNotSaved()), L"Your settings won't be saved this time: " + Utf8ToWide(File()) +
                                                 L" (its symbolic link points at nothing; nothing was written)");
  EXPECT_FALSE(SaveSettings());
  EXPECT_TRUE(fs::is_symlink(File()));
  EXPECT_FALSE(fs::exists(Data() + "/gone"));
  fs::remove(File());
  LoadFrom("[Tour]\nDone=1\n");
  EXPECT_TRUE(SettingsNotSaved().empty());
}

}  // namespace
