#include "base/settings.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <utility>
#include <variant>
#include <vector>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "base/files.h"
#include "base/log.h"
#include "base/status_message.h"
#include "base/test_mode.h"
#include "base/text_parse.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/ini.h"
#include "platform/secret.h"
#include "platform/text.h"

namespace {

UiText settingsNotSaved;  // see SettingsNotSaved

constexpr size_t kPinLength = 4;
constexpr uint32_t kPinSpan = 9000;  // PINs run from 1000 to 9999
constexpr uint32_t kPinBase = 1000;
constexpr int32_t kHeightHd = 1080;
constexpr int32_t kHeightSd = 720;
constexpr int32_t kPercentMax = 100;
constexpr int32_t kNoMin = std::numeric_limits<int32_t>::min();
constexpr int32_t kNoMax = std::numeric_limits<int32_t>::max();

struct BuiltinMacro {
  const wchar_t* name;
  const wchar_t* script;
};
constexpr BuiltinMacro kBuiltinMacros[kMacroSlots] = {
    {L"ECHO OUT", L"fx 1 echo & fx 1 amount 90 & fx 1 on & wait 2 beats & pause & wait 4 beats & fx 1 off"},
    {L"BRAKE", L"brake"},
    {L"BASS SWAP", L"deck left & eq low 0 over 1 beat & deck right & eq low 50 over 1 beat"},
    {L"FILTER RISE", L"filter 70 over 16 beats & wait 16 beats & filter 0"},
    {L"ROLL 8", L"loop 1 & wait 8 beats & loop off"},
    {L"ACAPELLA", L"stems acapella"},
    {L"GLIDE OVER", L"glide"},
    {L"RESET DECK",
     L"eq high 50 & eq mid 50 & eq low 50 & filter 0 & fx 1 off & fx 2 off & fx 3 off & key 0 & stems all"},
};

// How a key's text maps to its field.
enum class Kind {
  Int,      // decimal, clamped to lo..hi on load
  Bool,     // "0" or "1"
  Text,     // as it is
  Secret,   // ProtectSecret hex in the file, plain in memory
  Percent,  // float 0..1 stored as whole percent 0..100
  Height,   // 720 or 1080
  Int64,    // read as text, signed decimal
};

struct SettingRow {
  const wchar_t* section;
  std::wstring key;
  Kind kind;
  std::variant<int32_t*, bool*, std::wstring*, float*, int64_t*> field;
  int32_t lo = kNoMin;
  int32_t hi = kNoMax;
};

SettingRow Int(const wchar_t* s, std::wstring k, int32_t* f, int32_t lo, int32_t hi) {
  return {s, std::move(k), Kind::Int, f, lo, hi};
}
SettingRow Flag(const wchar_t* s, std::wstring k, bool* f) { return {s, std::move(k), Kind::Bool, f}; }
SettingRow Text(const wchar_t* s, std::wstring k, std::wstring* f) { return {s, std::move(k), Kind::Text, f}; }
SettingRow Secret(const wchar_t* s, std::wstring k, std::wstring* f) { return {s, std::move(k), Kind::Secret, f}; }
SettingRow Percent(const wchar_t* s, std::wstring k, float* f) { return {s, std::move(k), Kind::Percent, f}; }
SettingRow Height(const wchar_t* s, std::wstring k, int32_t* f) { return {s, std::move(k), Kind::Height, f}; }
SettingRow Int64(const wchar_t* s, std::wstring k, int64_t* f) { return {s, std::move(k), Kind::Int64, f}; }

std::wstring Indexed(const wchar_t* stem, int i) { return fmt::format(L"{}{}", stem, i); }

// Every key of the record (and [Sampler] Bank) in the order the load reads them. Load and save
// both walk this one table, so a key cannot be read under one name and written under another.
std::vector<SettingRow> SettingRows(SettingsRecord& s) {
  std::vector<SettingRow> rows = {
      Text(L"Audio", L"Master", &s.Master),
      Text(L"Audio", L"Phones", &s.Phones),
      Text(L"Audio", L"Booth", &s.Booth),
      Int(L"Audio", L"PhonesMode", &s.PhonesMode, 0, 2),
      Int(L"Audio", L"MasterPair", &s.MasterPair, 0, 7),
      Int(L"Audio", L"PhonesPair", &s.PhonesPair, 0, 7),
      Int(L"Audio", L"BoothPair", &s.BoothPair, 0, 7),
      Int(L"Audio", L"Latency", &s.Latency, 0, 2),
      Int(L"Audio", L"BufferMs", &s.BufferMs, 2, 50),
      Flag(L"Audio", L"ExternalMixer", &s.ExternalMixer),
      Flag(L"Audio", L"Limiter", &s.Limiter),
      Int(L"Options", L"XfCurve", &s.XfCurve, 0, 2),
      Flag(L"Options", L"AutoGain", &s.AutoGain),
      Flag(L"Options", L"Camelot", &s.Camelot),
      Flag(L"Options", L"Quantize", &s.Quantize),
      Int(L"Options", L"MixLen", &s.MixLen, 2, 60),
  };
  if (SettingsFileHooks.samplerBank)
    rows.push_back(Int(L"Sampler", L"Bank", SettingsFileHooks.samplerBank, 0, SettingsFileHooks.samplerBanks - 1));
  for (int i = 0; i < kSamplerSlots; ++i) {
    rows.push_back(Text(L"Sampler", Indexed(L"Slot", i), &s.Slot[i]));
    rows.push_back(Flag(L"Sampler", Indexed(L"Loop", i), &s.Loop[i]));
    rows.push_back(Percent(L"Sampler", Indexed(L"Vol", i), &s.Vol[i]));
  }
  rows.insert(rows.end(), {
      Flag(L"Options", L"AutoCue", &s.AutoCue),
      Flag(L"Options", L"RestoreSession", &s.RestoreSession),
      Flag(L"Options", L"XfReverse", &s.XfReverse),
      Int(L"Options", L"RecordFormat", &s.RecordFormat, 0, 2),
      Flag(L"Options", L"FourDecks", &s.FourDecks),
      Int(L"Look", L"Theme", &s.Theme, 0, 4),
      Text(L"Look", L"Skin", &s.Skin),
      Int(L"Look", L"Layout", &s.Layout, 0, 2),
      Flag(L"Look", L"Vertical", &s.Vertical),
      Flag(L"Look", L"Art", &s.Art),
      Flag(L"Look", L"DeckArt", &s.DeckArt),
      Flag(L"Camera", L"On", &s.CameraOn),
      Text(L"Camera", L"Device", &s.CameraDevice),
      Int(L"Camera", L"Show", &s.CameraShow, 0, 1),
      Flag(L"Camera", L"Mirror", &s.CameraMirror),
      Flag(L"Midi", L"Leds", &s.Leds),
      Int(L"Midi", L"LedOn", &s.LedOn, 0, 127),
      Int(L"Midi", L"LedOff", &s.LedOff, 0, 127),
      Text(L"Midi", L"Layout", &s.MidiLayout),
      Flag(L"Midi", L"AutoLayouts", &s.AutoLayouts),
      Flag(L"Midi", L"Vinyl", &s.Vinyl),
      Int(L"Midi", L"JogTicks", &s.JogTicks, 32, 4096),
      Int(L"Midi", L"JogFeel", &s.JogFeel, 0, 2),
      Flag(L"Midi", L"FlipPitch", &s.FlipPitch),
      Int(L"Options", L"ColorFx", &s.ColorFx, 0, 5),
      Int(L"Video", L"Transition", &s.Transition, 0, 5),
      Int(L"Video", L"Effect", &s.Effect, 0, 8),
      Flag(L"Video", L"Overlay", &s.Overlay),
      Flag(L"Video", L"Record", &s.Record),
      Height(L"Video", L"Height", &s.VideoHeight),
      Int(L"Visualiser", L"Style", &s.VisualiserStyle, 0, 9),
      Flag(L"Visualiser", L"Auto", &s.VisualiserAuto),
      Flag(L"Visualiser", L"Track", &s.VisualiserTrack),
      Flag(L"Tour", L"Done", &s.TourDone),
      Int(L"Options", L"Language", &s.Language, 0, 4),
  });
  for (int i = 0; i < kMacroSlots; ++i) {
    rows.push_back(Text(L"Macros", Indexed(L"Name", i), &s.MacroName[i]));
    rows.push_back(Text(L"Macros", Indexed(L"Script", i), &s.MacroScript[i]));
  }
  rows.insert(rows.end(), {
      Flag(L"Dvs", L"On", &s.DvsOn),
      Text(L"Dvs", L"Device", &s.DvsDevice),
      Int(L"Dvs", L"PairA", &s.PairA, 0, 7),
      Int(L"Dvs", L"PairB", &s.PairB, 0, 7),
      Flag(L"Dvs", L"Traktor", &s.Traktor),
      Flag(L"Dvs", L"FlipA", &s.FlipA),
      Flag(L"Dvs", L"FlipB", &s.FlipB),
      Flag(L"Remote", L"On", &s.RemoteOn),
      Text(L"Remote", L"Pin", &s.Pin),
      Int(L"Remote", L"Port", &s.RemotePort, 1024, 65000),
      Int(L"LiveVideo", L"Service", &s.Service, 0, kLiveVideoServices - 1),
      Text(L"LiveVideo", L"Url", &s.LiveVideoUrl),
  });
  for (int i = 0; i < kLiveVideoServices; ++i) rows.push_back(Secret(L"LiveVideo", Indexed(L"Key", i), &s.Key[i]));
  rows.insert(rows.end(), {
      Height(L"LiveVideo", L"Height", &s.LiveVideoHeight),
      Text(L"Mic", L"Device", &s.MicDevice),
      Percent(L"Mic", L"Gain", &s.MicGain),
      Flag(L"Mic", L"Duck", &s.MicDuck),
      Int(L"Mic", L"Fx", &s.MicFx, 0, 3),
      Int(L"Automix", L"Style", &s.AutomixStyle, 0, 3),
      Flag(L"Automix", L"Shuffle", &s.AutomixShuffle),
      Text(L"Midi", L"ClockOut", &s.ClockOut),
      Flag(L"Stems", L"Auto", &s.StemsAuto),
      Text(L"AI", L"Url", &s.AiUrl),
      Text(L"AI", L"Model", &s.AiModel),
      Text(L"Broadcast", L"Host", &s.Stream.Host),
      Int(L"Broadcast", L"Port", &s.Stream.Port, 1, 65534),
      Text(L"Broadcast", L"Mount", &s.Stream.Mount),
      Text(L"Broadcast", L"User", &s.Stream.User),
      Secret(L"Broadcast", L"Password", &s.Stream.Password),
      Int(L"Broadcast", L"Type", &s.Stream.Type, 0, 1),
      Int(L"Broadcast", L"Bitrate", &s.Stream.Bitrate, kNoMin, kNoMax),
      Text(L"Broadcast", L"Name", &s.Stream.Name),
      Int(L"Karaoke", L"Background", &s.Karaoke.Background, 0, 2),
      Text(L"Karaoke", L"BackgroundFile", &s.Karaoke.BackgroundFile),
      Int(L"Karaoke", L"Dim", &s.Karaoke.Dim, 0, 90),
      Flag(L"Karaoke", L"Blur", &s.Karaoke.Blur),
      Int(L"Karaoke", L"Palette", &s.Karaoke.Palette, 0, 4),
      Int(L"Karaoke", L"TextSize", &s.Karaoke.TextSize, 0, 2),
      Flag(L"Karaoke", L"Countdown", &s.Karaoke.Countdown),
      Flag(L"Karaoke", L"ShowNext", &s.Karaoke.ShowNext),
      Text(L"Karaoke", L"Message", &s.Karaoke.Message),
      Int(L"Karaoke", L"Vocals", &s.KaraokeVocals, 0, 2),
      Int(L"Karaoke", L"Guide", &s.Guide, 5, 40),
      Text(L"Karaoke", L"BreakList", &s.BreakList),
      Flag(L"Karaoke", L"Online", &s.KaraokeOnline),
      Flag(L"Updates", L"Check", &s.UpdatesCheck),
      Int64(L"Updates", L"Installed", &s.Installed),
      Int64(L"Updates", L"Dismissed", &s.Dismissed),
      Int64(L"Updates", L"Pending", &s.Pending),
      Int64(L"Updates", L"PendingBuild", &s.PendingBuild),
  });
  return rows;
}

int32_t PercentOf(float value) {
  if (!std::isfinite(value)) return 0;
  // Keeps lround defined for absurd values; load clamps to 0..100 in any case.
  return static_cast<int32_t>(std::lround(std::clamp(double(value) * kPercentMax, -1e9, 1e9)));
}

// Reads one key into its field with the field's current value as the default.
void ReadRow(const IniDocument& ini, const SettingRow& row) {
  switch (row.kind) {
    case Kind::Int: {
      int32_t* f = std::get<int32_t*>(row.field);
      *f = std::clamp(IniInt(ini, row.section, row.key, *f), row.lo, row.hi);
      break;
    }
    case Kind::Bool: {
      bool* f = std::get<bool*>(row.field);
      *f = IniInt(ini, row.section, row.key, *f ? 1 : 0) != 0;
      break;
    }
    case Kind::Text: {
      std::wstring* f = std::get<std::wstring*>(row.field);
      *f = IniString(ini, row.section, row.key, *f);
      break;
    }
    case Kind::Secret: {
      std::wstring stored = IniString(ini, row.section, row.key, L"");
      *std::get<std::wstring*>(row.field) = stored.empty() ? std::wstring() : UnprotectSecret(stored);
      break;
    }
    case Kind::Percent: {
      float* f = std::get<float*>(row.field);
      *f = float(std::clamp(IniInt(ini, row.section, row.key, PercentOf(*f)), 0, kPercentMax)) / kPercentMax;
      break;
    }
    case Kind::Height: {
      int32_t* f = std::get<int32_t*>(row.field);
      *f = IniInt(ini, row.section, row.key, *f) >= kHeightHd ? kHeightHd : kHeightSd;
      break;
    }
    case Kind::Int64:
      *std::get<int64_t*>(row.field) = LeadingInteger(IniString(ini, row.section, row.key, L"0"));
      break;
  }
}

// The text a field is stored as.
std::wstring RowText(const SettingRow& row) {
  switch (row.kind) {
    case Kind::Int:
    case Kind::Height:
      return fmt::format(L"{}", *std::get<int32_t*>(row.field));
    case Kind::Bool:
      return *std::get<bool*>(row.field) ? L"1" : L"0";
    case Kind::Text:
      return *std::get<std::wstring*>(row.field);
    case Kind::Secret:
      return ProtectSecret(*std::get<std::wstring*>(row.field));
    case Kind::Percent:
      return fmt::format(L"{}", PercentOf(*std::get<float*>(row.field)));
    case Kind::Int64:
      return fmt::format(L"{}", *std::get<int64_t*>(row.field));
  }
  return {};
}

std::wstring NewRemotePin() {
  uint32_t r = 0;
  if (!SystemRandomBytes(&r, sizeof r)) r = std::random_device{}();
  return fmt::format(L"{}", r % kPinSpan + kPinBase);
}

}  // namespace

std::array<std::wstring, kMacroSlots> SettingsRecord::BuiltinMacroNames() {
  std::array<std::wstring, kMacroSlots> names;
  for (int i = 0; i < kMacroSlots; ++i) names[i] = kBuiltinMacros[i].name;
  return names;
}

std::array<std::wstring, kMacroSlots> SettingsRecord::BuiltinMacroScripts() {
  std::array<std::wstring, kMacroSlots> scripts;
  for (int i = 0; i < kMacroSlots; ++i) scripts[i] = kBuiltinMacros[i].script;
  return scripts;
}

std::wstring SettingsPath() { return JoinPath(AppDataDir(), L"settings.ini"); }

SettingsFileHookSet SettingsFileHooks;

void ReadSettings() {
  const std::wstring path = SettingsPath();
  std::string bytes;
  const ReadStatus status = ReadBytes(path, &bytes, kIniMaxBytes);
  const bool firstRun = status == ReadStatus::Missing;
  settingsNotSaved = UiText();
  if (status == ReadStatus::Unreadable) {
    WriteLog(L"Couldn't read {}; the default settings apply", path);
    WritePlan plan;
    std::wstring why = L"it couldn't be read";
    PlanWrite(path, SpecialTarget::Refuse, &plan, &why);
    settingsNotSaved = UiFormat(L"Your settings won't be saved this time: {} ({})", path, FailureCause(why));
  }
  const IniDocument ini = status == ReadStatus::Ok ? ParseIni(bytes) : IniDocument{};

  if (SettingsFileHooks.loadFolders) SettingsFileHooks.loadFolders(ini);
  SettingsRecord loaded;
  loaded.Language = firstRun && SettingsFileHooks.firstRunLanguage ? SettingsFileHooks.firstRunLanguage() : 0;
  // The older yes/no MP3 key is the default of the format choice that replaced it.
  loaded.RecordFormat = IniInt(ini, L"Options", L"RecordMp3", loaded.RecordFormat);
  for (const SettingRow& row : SettingRows(loaded)) ReadRow(ini, row);
  if (loaded.Pin.size() != kPinLength) loaded.Pin = NewRemotePin();
  Settings = std::move(loaded);
}

UiText SettingsNotSaved() { return settingsNotSaved; }

bool SaveSettings() {
  if (TestMode) return true;
  const std::wstring path = SettingsPath();
  // Other parts keep sections of their own in this file; they are read first and kept.
  std::wstring error;
  const IniUpdate result = UpdateIniFile(path, [](IniDocument* ini) {
    if (SettingsFileHooks.storeFolders) SettingsFileHooks.storeFolders(ini);
    for (const SettingRow& row : SettingRows(Settings)) IniSet(ini, row.section, row.key, RowText(row));
    IniErase(ini, L"Options", L"RecordMp3");
  }, &error);
  if (result == IniUpdate::Unreadable) {
    WriteLog(L"Couldn't read {} before saving; the settings were not saved", path);
    const std::wstring why = L"it couldn't be read, so it is left as it is";
    NoteFailedWrite(path, why);
    if (settingsNotSaved.empty()) ShowStatus(WriteFailedText(path, why));  // else said at start
    return false;
  }
  if (result == IniUpdate::WriteFailed) {
    WriteLog(L"Couldn't save the settings to {} ({})", path, error);
    NoteFailedWrite(path, error);
    ShowStatus(WriteFailedText(path, error));
    return false;
  }
  return true;
}

std::wstring ProtectSecret(const std::wstring& text) {
  if (text.empty()) return {};
  std::string plain = WideToUtf8(text);
  std::string blob;
  std::wstring error;
  const bool sealed = SealForUser(plain, &blob, &error);
  WipeBytes(&plain);
  if (!sealed) {
    WriteLog(L"Couldn't protect a secret ({})", error);
    return {};
  }
  return HexEncode(blob);
}

std::wstring UnprotectSecret(const std::wstring& hex) {
  if (hex.size() < 2) return {};
  // Whole pairs only: a last odd digit is ignored.
  std::string blob;
  if (!HexDecode(std::wstring_view(hex).substr(0, hex.size() / 2 * 2), &blob)) return {};
  std::string plain;
  if (!OpenForUser(blob, &plain)) return {};
  std::wstring text = Utf8ToWide(plain);
  WipeBytes(&plain);
  return text;
}
