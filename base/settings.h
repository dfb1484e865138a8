#pragma once
// Every user preference: one global object, one field per settings.ini key. Fields carry the
// key's name; where two sections share a key the section is prefixed (MicDevice, DvsDevice).
#include <array>
#include <cstdint>
#include <string>

#include "base/karaoke_settings.h"
#include "base/phones_mode.h"
#include "base/stream_config.h"
#include "base/ui_text.h"

constexpr int kSamplerSlots = 32;
constexpr int kMacroSlots = 8;
constexpr int kLiveVideoServices = 4;

struct SettingsRecord {
  // [Audio]
  std::wstring Master, Phones, Booth;  // device ids, empty for the default
  int32_t PhonesMode = kPhonesNone;  // a PhonesMode
  int32_t MasterPair = 0;
  int32_t PhonesPair = 1;
  int32_t BoothPair = 0;
  int32_t Latency = 0;
  int32_t BufferMs = 10;
  bool ExternalMixer = false;
  // [Options]
  int32_t XfCurve = 0;
  bool AutoGain = true;
  bool Camelot = true;
  bool Quantize = false;
  bool AutoCue = true;
  bool RestoreSession = true;
  bool XfReverse = false;
  int32_t RecordFormat = 1;  // 0 WAV only, 1 MP3, 2 FLAC
  int32_t MixLen = 8;
  // [Sampler]
  std::array<std::wstring, kSamplerSlots> Slot{};
  std::array<bool, kSamplerSlots> Loop{};
  std::array<float, kSamplerSlots> Vol = MakeFilled(1.0f);
  // [Mic]
  std::wstring MicDevice;
  float MicGain = 0.7f;
  bool MicDuck = true;
  int32_t MicFx = 0;
  // [Automix]
  int32_t AutomixStyle = 1;
  bool AutomixShuffle = false;
  // [Audio]
  bool Limiter = true;
  // [Options]
  bool FourDecks = false;
  // [Look]
  int32_t Theme = 0;  // CLASSIC, NEON, SUNSET, ICE, MONO
  std::wstring Skin = L"Veldmix";
  int32_t Layout = 0;  // 0 full, 1 library, 2 performance
  bool Vertical = false;
  bool Art = true;
  bool DeckArt = true;
  // [Midi]
  bool Leds = true;
  int32_t LedOn = 127;
  int32_t LedOff = 0;
  std::wstring ClockOut;
  std::wstring MidiLayout;
  bool AutoLayouts = true;
  bool Vinyl = true;
  int32_t JogTicks = 720;
  int32_t JogFeel = 1;
  bool FlipPitch = false;
  // [Options]
  int32_t ColorFx = 0;
  // [Video]
  int32_t Transition = 0;
  int32_t Effect = 0;
  bool Overlay = true;
  bool Record = false;
  int32_t VideoHeight = 720;
  // [Visualiser]
  int32_t VisualiserStyle = 0;
  bool VisualiserAuto = false;
  bool VisualiserTrack = true;
  // [Tour]
  bool TourDone = false;
  // [Options]
  int32_t Language = 0;  // 0 English, 1 Spanish, 2 German, 3 Portuguese, 4 French
  // [Macros]
  std::array<std::wstring, kMacroSlots> MacroName = BuiltinMacroNames();
  std::array<std::wstring, kMacroSlots> MacroScript = BuiltinMacroScripts();
  // [Dvs]
  bool DvsOn = false;
  std::wstring DvsDevice;
  int32_t PairA = 0;
  int32_t PairB = 1;
  bool Traktor = false;
  bool FlipA = false;
  bool FlipB = false;
  // [Remote]
  bool RemoteOn = false;
  std::wstring Pin;  // four decimal digits; a new one is made on load when it is not
  int32_t RemotePort = 8750;
  // [LiveVideo]
  int32_t Service = 0;
  std::wstring LiveVideoUrl = L"rtmp://";
  std::array<std::wstring, kLiveVideoServices> Key{};  // plain in memory, protected in the file
  int32_t LiveVideoHeight = 720;
  // [Stems]
  bool StemsAuto = true;
  // [AI]
  std::wstring AiUrl = L"http://localhost:11434";
  std::wstring AiModel = L"llama3.2";
  // [Broadcast]
  StreamConfig Stream;
  // [Karaoke]
  KaraokeSettings Karaoke;
  int32_t KaraokeVocals = 0;
  int32_t Guide = 15;
  std::wstring BreakList;
  bool KaraokeOnline = false;
  // [Camera]
  bool CameraOn = false;
  std::wstring CameraDevice;
  int32_t CameraShow = 0;
  bool CameraMirror = true;
  // [Updates]
  bool UpdatesCheck = true;
  int64_t Installed = 0;
  int64_t Dismissed = 0;
  int64_t Pending = 0;
  int64_t PendingBuild = 0;

  static std::array<float, kSamplerSlots> MakeFilled(float v) {
    std::array<float, kSamplerSlots> a{};
    a.fill(v);
    return a;
  }
  static std::array<std::wstring, kMacroSlots> BuiltinMacroNames();
  static std::array<std::wstring, kMacroSlots> BuiltinMacroScripts();
};

extern SettingsRecord Settings;

// data folder + "settings.ini"
std::wstring SettingsPath();
// What the settings file keeps for the parts above the record: the sampler's bank ([Sampler]
// Bank), the library's music folders ([Library]) and the language a first start takes. The shell
// sets them; a part left unset is neither read nor written.
struct IniDocument;
struct SettingsFileHookSet {
  int32_t* samplerBank = nullptr;
  int32_t samplerBanks = 1;
  void (*loadFolders)(const IniDocument& ini) = nullptr;
  void (*storeFolders)(IniDocument* ini) = nullptr;
  int32_t (*firstRunLanguage)() = nullptr;
};
extern SettingsFileHookSet SettingsFileHooks;

// Reads the whole file into Settings (and the parts' keys) once at start and clamps every
// number; LoadSettings (app/load_settings.h) then applies it. UI thread.
void ReadSettings();
// Set by ReadSettings when something stands at the settings file's place that can't be read (a
// link that leads nowhere, a folder): the defaults apply and nothing will be saved there. Says so
// with the file and the cause; empty otherwise.
UiText SettingsNotSaved();
// Rewrites the whole file (".tmp", then rename), keeping sections it does not own. Nothing in
// test mode. False (a log line, NoteFailedWrite, and the file and cause on the status line unless
// SettingsNotSaved said it at start) when the file could not be written. UI thread.
bool SaveSettings();
// Protects a secret for this user: lowercase hex, empty for an empty text or a failure.
std::wstring ProtectSecret(const std::wstring& text);
// The reverse; empty for damaged hex or another user's key.
std::wstring UnprotectSecret(const std::wstring& hex);
