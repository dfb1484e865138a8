#include "engine/render_script.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <string_view>
#include <utility>

#include "base/text_parse.h"
#include "engine/audio_file.h"
#include "engine/render.h"
#include "engine/stem_controls.h"
#include "engine/stems.h"
#include "platform/folders.h"
#include "platform/text.h"

namespace {

// Script limits.
constexpr size_t kMaxScriptLines = 100000;
constexpr int32_t kMinRate = 8000, kMaxRate = 192000;         // Hz
constexpr int32_t kMinPeriod = 16, kMaxPeriod = 8192;         // frames
constexpr double kMaxTempoPercent = 50.0;
constexpr double kMaxKeyShift = 24.0;                         // semitones
constexpr double kMaxEffectBeats = 64.0;
constexpr double kMaxRenderFrames = 600.0 * 48000.0;          // bounds the in-memory result

using Tokens = std::vector<std::string_view>;

std::string LineError(int line, const std::string& what) { return "line " + std::to_string(line) + ": " + what; }

bool ParseNumber(std::string_view text, double& out) { return ::ParseNumber(text, &out); }

Tokens Split(std::string_view line) {
  Tokens tokens;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    size_t j = i;
    while (j < line.size() && line[j] != ' ' && line[j] != '\t') ++j;
    if (j > i) tokens.push_back(line.substr(i, j - i));
    i = j;
  }
  return tokens;
}

std::string Upper(std::string_view text) {
  std::string s(text);
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// Effect names compare without case, spaces, dashes or underscores ("dub_echo" = "DUB ECHO").
std::string EffectKey(std::string_view text) {
  std::string key;
  for (char c : text)
    if (c != ' ' && c != '-' && c != '_' && c != '\t') key.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  return key;
}

int FindEffect(std::string_view name) {
  const std::string key = EffectKey(name);
  for (int i = 0; i < kEffectCount; ++i) {
    std::string own;
    for (const wchar_t* p = kEffects[i].name; *p; ++p) own.push_back(static_cast<char>(*p));
    if (EffectKey(own) == key) return i;
  }
  return -1;
}

// vocals, drums, bass, melody (any case) as the part number 0..3; -1 for anything else.
int StemPart(std::string_view token) {
  const std::string w = Upper(token);
  for (int i = 0; i < kStemNameCount; ++i) {
    std::string name;
    for (const wchar_t* p = StemNames[static_cast<size_t>(i)]; *p; ++p) name.push_back(static_cast<char>(*p));
    if (w == name) return i;
  }
  return -1;
}

// A relative path is taken from the script's folder.
std::wstring ScriptPath(const std::wstring& folder, const std::wstring& path) {
  if (path.empty() || path.front() == L'/') return path;
  return JoinPath(folder, path);
}

class ScriptParser {
 public:
  ScriptParser(const std::wstring& baseFolder, RenderScript& script) : baseFolder_(baseFolder), script_(script) {}

  bool Line(int number, std::string_view text, std::string& error) {
    line_ = number;
    if (const size_t hash = text.find('#'); hash != std::string_view::npos) text = text.substr(0, hash);
    // The path of a load is the rest of the line: keep the raw text for it.
    raw_ = text;
    Tokens t = Split(text);
    if (t.empty()) return true;
    const std::string word = Upper(t[0]);
    if (word == "RATE" || word == "PERIOD" || word == "DURATION") return Setting(word, t, error);
    double seconds = 0.0;
    size_t first = 0;
    if (word == "AT") {
      if (t.size() < 3) return Fail("\"at\" needs a time and a command", error);
      if (!ParseNumber(t[1], seconds) || seconds < 0.0) return Fail("the time must be a number of seconds, 0 or more", error);
      first = 2;
    }
    ScriptCommand command;
    command.line = number;
    command.seconds = seconds;
    if (!Command(Tokens(t.begin() + first, t.end()), command, error)) return false;
    script_.commands.push_back(std::move(command));
    return true;
  }

  bool Finish(std::string& error) {
    if (script_.duration <= 0.0) {
      error = "the script gives no duration (add a line \"duration SECONDS\")";
      return false;
    }
    if (script_.duration * script_.rate > kMaxRenderFrames) {
      error = "the render would be longer than 600 seconds at 48000 Hz (28800000 frames)";
      return false;
    }
    for (const ScriptCommand& c : script_.commands)
      if (c.seconds >= script_.duration) {
        error = LineError(c.line, "the time lies at or past the end of the render (duration " + Format(script_.duration) + " s)");
        return false;
      }
    std::stable_sort(script_.commands.begin(), script_.commands.end(),
                     [](const ScriptCommand& a, const ScriptCommand& b) { return a.seconds < b.seconds; });
    return true;
  }

 private:
  static std::string Format(double v) {
    char buffer[32];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
    return ec == std::errc() ? std::string(buffer, end) : std::string("?");
  }

  bool Fail(const std::string& what, std::string& error) {
    error = LineError(line_, what);
    return false;
  }

  bool Setting(const std::string& word, const Tokens& t, std::string& error) {
    if (t.size() != 2) return Fail("\"" + std::string(t[0]) + "\" takes one number", error);
    double v = 0.0;
    if (!ParseNumber(t[1], v)) return Fail("\"" + std::string(t[1]) + "\" is not a number", error);
    if (word == "RATE") {
      if (v != std::floor(v) || v < kMinRate || v > kMaxRate) return Fail("the rate must be a whole number from 8000 to 192000", error);
      script_.rate = static_cast<int32_t>(v);
    } else if (word == "PERIOD") {
      if (v != std::floor(v) || v < kMinPeriod || v > kMaxPeriod) return Fail("the period must be a whole number of frames from 16 to 8192", error);
      script_.period = static_cast<int32_t>(v);
    } else {
      if (v <= 0.0 || v > kScriptMaxSeconds) return Fail("the duration must be above 0 and at most 600 seconds", error);
      script_.duration = v;
    }
    return true;
  }

  bool Deck(std::string_view token, int& deck, std::string& error) {
    const std::string d = Upper(token);
    if (d.size() != 1 || d[0] < 'A' || d[0] > 'D') return Fail("\"" + std::string(token) + "\" is not a deck (A, B, C or D)", error);
    deck = d[0] - 'A';
    return true;
  }

  bool Value(std::string_view token, double lo, double hi, double& out, std::string& error) {
    if (!ParseNumber(token, out)) return Fail("\"" + std::string(token) + "\" is not a number", error);
    if (out < lo || out > hi) return Fail("the value " + std::string(token) + " lies outside " + Format(lo) + ".." + Format(hi), error);
    return true;
  }

  bool OnOff(std::string_view token, bool& on, std::string& error) {
    const std::string w = Upper(token);
    if (w == "ON") on = true;
    else if (w == "OFF") on = false;
    else return Fail("expected on or off, not \"" + std::string(token) + "\"", error);
    return true;
  }

  bool Count(const Tokens& t, size_t n, const char* usage, std::string& error) {
    if (t.size() == n) return true;
    return Fail(std::string("usage: ") + usage, error);
  }

  bool Command(const Tokens& t, ScriptCommand& c, std::string& error) {
    const std::string verb = Upper(t[0]);
    if (verb == "LOAD") {
      if (t.size() < 3) return Fail("usage: load DECK FILE", error);
      if (!Deck(t[1], c.deck, error)) return false;
      c.op = ScriptOp::Load;
      // The file is everything after the deck letter, so paths may hold spaces.
      std::string_view rest = raw_.substr(static_cast<size_t>(t[1].data() + t[1].size() - raw_.data()));
      while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) rest.remove_prefix(1);
      while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t' || rest.back() == '\r')) rest.remove_suffix(1);
      const std::wstring path = ScriptPath(baseFolder_, Utf8ToWide(rest));
      if (auto known = loaded_.find(path); known != loaded_.end()) {
        c.track = known->second;
        return true;
      }
      if (!FileExists(path)) return Fail(std::string(rest) + ": no such file", error);
      std::wstring why;
      c.track = DecodeFile(path, nullptr, &why, false);
      if (!c.track) return Fail(std::string(rest) + ": " + WideToUtf8(why), error);
      loaded_[path] = c.track;
      return true;
    }
    if (verb == "PLAY" || verb == "PAUSE") {
      if (!Count(t, 2, "play DECK, pause DECK", error) || !Deck(t[1], c.deck, error)) return false;
      c.op = verb == "PLAY" ? ScriptOp::Play : ScriptOp::Pause;
      return true;
    }
    struct DeckValue {
      const char* verb;
      ScriptOp op;
      double lo, hi;
      const char* usage;
    };
    static const DeckValue kDeckValues[] = {
        {"SEEK", ScriptOp::Seek, 0.0, 1e9, "seek DECK SECONDS"},
        {"TEMPO", ScriptOp::Tempo, -kMaxTempoPercent, kMaxTempoPercent, "tempo DECK PERCENT"},
        {"KEYSHIFT", ScriptOp::KeyShift, -kMaxKeyShift, kMaxKeyShift, "keyshift DECK SEMITONES"},
        {"GAIN", ScriptOp::Gain, 0.0, 1.0, "gain DECK VALUE"},
        {"FILTER", ScriptOp::Filter, -1.0, 1.0, "filter DECK VALUE"},
        {"FADER", ScriptOp::Fader, 0.0, 1.0, "fader DECK VALUE"},
    };
    for (const DeckValue& row : kDeckValues) {
      if (verb != row.verb) continue;
      if (!Count(t, 3, row.usage, error) || !Deck(t[1], c.deck, error)) return false;
      c.op = row.op;
      return Value(t[2], row.lo, row.hi, c.value, error);
    }
    if (verb == "KEYLOCK") {
      bool on = false;
      if (!Count(t, 3, "keylock DECK on|off", error) || !Deck(t[1], c.deck, error) || !OnOff(t[2], on, error)) return false;
      c.op = ScriptOp::KeyLock;
      c.value = on ? 1.0 : 0.0;
      return true;
    }
    if (verb == "EQ") {
      if (!Count(t, 4, "eq DECK high|mid|low VALUE", error) || !Deck(t[1], c.deck, error)) return false;
      const std::string band = Upper(t[2]);
      if (band == "HIGH") c.op = ScriptOp::EqHigh;
      else if (band == "MID") c.op = ScriptOp::EqMid;
      else if (band == "LOW") c.op = ScriptOp::EqLow;
      else return Fail("the EQ band is high, mid or low, not \"" + std::string(t[2]) + "\"", error);
      return Value(t[3], 0.0, 1.0, c.value, error);
    }
    if (verb == "FX") {
      if (t.size() < 4) return Fail("usage: fx DECK on|off EFFECT, fx DECK amount|param EFFECT VALUE, fx DECK target PART", error);
      if (!Deck(t[1], c.deck, error)) return false;
      const std::string action = Upper(t[2]);
      if (action == "TARGET") {
        if (!Count(t, 4, "fx DECK target vocals|drums|bass|melody|all", error)) return false;
        c.op = ScriptOp::FxTarget;
        if (Upper(t[3]) == "ALL") c.index = -1;
        else if ((c.index = StemPart(t[3])) < 0)
          return Fail("the effects target is vocals, drums, bass, melody or all, not \"" + std::string(t[3]) + "\"", error);
        return true;
      }
      const bool takesValue = action == "AMOUNT" || action == "PARAM";
      if (!takesValue && action != "ON" && action != "OFF")
        return Fail("the effect action is on, off, amount or param, not \"" + std::string(t[2]) + "\"", error);
      const size_t nameEnd = takesValue ? t.size() - 1 : t.size();
      if (nameEnd <= 3) return Fail("usage: fx DECK " + Upper(t[2]) + " EFFECT" + (takesValue ? " VALUE" : ""), error);
      const std::string_view name(t[3].data(), static_cast<size_t>(t[nameEnd - 1].data() + t[nameEnd - 1].size() - t[3].data()));
      c.index = FindEffect(name);
      if (c.index < 0) return Fail("no effect is called \"" + std::string(name) + "\"", error);
      if (action == "ON") c.op = ScriptOp::FxOn;
      else if (action == "OFF") c.op = ScriptOp::FxOff;
      else if (action == "AMOUNT") c.op = ScriptOp::FxAmount;
      else c.op = ScriptOp::FxParam;
      if (!takesValue) return true;
      return Value(t.back(), 0.0, c.op == ScriptOp::FxAmount ? 1.0 : kMaxEffectBeats, c.value, error);
    }
    if (verb == "STEMS") {
      if (!Count(t, 2, "stems DECK", error) || !Deck(t[1], c.deck, error)) return false;
      c.op = ScriptOp::Stems;
      return true;
    }
    if (verb == "STEMGAIN") {
      if (!Count(t, 4, "stemgain DECK vocals|drums|bass|melody VALUE", error) || !Deck(t[1], c.deck, error)) return false;
      c.op = ScriptOp::StemGain;
      if ((c.index = StemPart(t[2])) < 0)
        return Fail("the stem is vocals, drums, bass or melody, not \"" + std::string(t[2]) + "\"", error);
      return Value(t[3], 0.0, 1.0, c.value, error);
    }
    if (verb == "KICK" || verb == "HAT") {
      if (!Count(t, 3, verb == "KICK" ? "kick DECK VALUE" : "hat DECK VALUE", error) || !Deck(t[1], c.deck, error)) return false;
      c.op = verb == "KICK" ? ScriptOp::Kick : ScriptOp::Hat;
      return Value(t[2], 0.0, 1.0, c.value, error);
    }
    if (verb == "STEMPRESET") {
      if (!Count(t, 3, "stempreset DECK none|vocals|instrumental", error) || !Deck(t[1], c.deck, error)) return false;
      static const char* const kPresets[] = {"NONE", "VOCALS", "INSTRUMENTAL"};  // kStemPreset* order
      const std::string w = Upper(t[2]);
      c.op = ScriptOp::StemPreset;
      for (int i = 0; i < 3; ++i)
        if (w == kPresets[i]) c.index = i, c.hasValue = true;
      if (!c.hasValue) return Fail("the preset is none, vocals or instrumental, not \"" + std::string(t[2]) + "\"", error);
      return true;
    }
    if (verb == "XFADER" || verb == "MASTER") {
      if (!Count(t, 2, verb == "XFADER" ? "xfader VALUE" : "master VALUE", error)) return false;
      c.op = verb == "XFADER" ? ScriptOp::XFader : ScriptOp::Master;
      return Value(t[1], 0.0, 1.0, c.value, error);
    }
    if (verb == "XFCURVE") {
      if (!Count(t, 2, "xfcurve linear|cut|power", error)) return false;
      static const char* const kCurves[] = {"LINEAR", "CUT", "POWER"};
      const std::string w = Upper(t[1]);
      c.op = ScriptOp::XFCurve;
      for (int i = 0; i < 3; ++i)
        if (w == kCurves[i]) c.index = i, c.hasValue = true;
      if (!c.hasValue) return Fail("the curve is linear, cut or power, not \"" + std::string(t[1]) + "\"", error);
      return true;
    }
    if (verb == "XFASSIGN") {
      if (!Count(t, 3, "xfassign DECK left|through|right", error) || !Deck(t[1], c.deck, error)) return false;
      static const char* const kSides[] = {"LEFT", "THROUGH", "RIGHT"};
      const std::string w = Upper(t[2]);
      c.op = ScriptOp::XFAssign;
      for (int i = 0; i < 3; ++i)
        if (w == kSides[i]) c.index = i, c.hasValue = true;
      if (!c.hasValue) return Fail("the side is left, through or right, not \"" + std::string(t[2]) + "\"", error);
      return true;
    }
    if (verb == "LOOP") {
      if (t.size() < 3 || t.size() > 4) return Fail("usage: loop DECK in|out [SECONDS], loop DECK on|off", error);
      if (!Deck(t[1], c.deck, error)) return false;
      const std::string action = Upper(t[2]);
      if (action == "IN" || action == "OUT") {
        c.op = action == "IN" ? ScriptOp::LoopIn : ScriptOp::LoopOut;
        if (t.size() == 4) {
          if (!Value(t[3], 0.0, 1e9, c.value, error)) return false;
          c.hasValue = true;
        }
        return true;
      }
      if (t.size() != 3 || (action != "ON" && action != "OFF")) return Fail("usage: loop DECK in|out [SECONDS], loop DECK on|off", error);
      c.op = action == "ON" ? ScriptOp::LoopOn : ScriptOp::LoopOff;
      return true;
    }
    return Fail("unknown command \"" + std::string(t[0]) + "\"", error);
  }

  const std::wstring& baseFolder_;
  RenderScript& script_;
  int line_ = 0;
  std::string_view raw_;
  std::map<std::wstring, TrackPtr> loaded_;
};

// What the script sets for a deck's stems, published as the program's tick publishes a deck's
// view: part gains, preset, and whether stems that belong to the track are attached.
struct ScriptStems {
  float gains[kStemNameCount] = {1.0f, 1.0f, 1.0f, 1.0f};
  uint32_t preset = kStemPresetNone;
};

void PublishStems(DeckState& deck, const ScriptStems& stems) {
  const bool ready = deck.track && StemsBelongTo(deck.stems.get(), *deck.track);
  float gains[kStemNameCount];
  deck.vocalMode = StemPartGains(ready, stems.preset, stems.gains, gains);
  for (int part = 0; part < kStemNameCount; ++part) deck.stemGain[part].store(gains[part]);
}

// Applies one command under the engine lock, as the program's deck and mixer commands do.
// `separated`: the stems of a stems command, made before the lock was taken. Old tracks and stems
// are released by the caller after the lock is dropped.
bool Apply(AudioEngine& engine, const ScriptCommand& c, ScriptStems* scriptStems, const StemDataPtr& separated,
           TrackPtr& released, StemDataPtr releasedStems[kEngineDecks], std::string& error) {
  std::lock_guard<RealtimeMutex> guard(engine.lock);
  DeckState* deck = c.deck >= 0 ? &engine.decks[c.deck] : nullptr;
  const char letter = static_cast<char>('A' + std::max(c.deck, 0));
  const auto needTrack = [&]() {
    if (deck->track) return true;
    error = LineError(c.line, std::string("deck ") + letter + " has no track");
    return false;
  };
  const double rate = deck && deck->track ? deck->track->sampleRate : 0.0;
  switch (c.op) {
    case ScriptOp::Load:
      if (deck->playing) {
        error = LineError(c.line, std::string("deck ") + letter + " is playing — pause it before loading");
        return false;
      }
      released = std::move(deck->track);
      deck->track = c.track;
      releasedStems[c.deck] = std::move(deck->stems);
      // A new track starts with every part, KICK and HI-HAT in and the effects on the whole deck.
      std::fill(std::begin(scriptStems[c.deck].gains), std::end(scriptStems[c.deck].gains), 1.0f);
      deck->kickTarget = deck->hatTarget = 1.0f;
      deck->stemFxTarget = -1;
      PublishStems(*deck, scriptStems[c.deck]);
      deck->cuePoint = 0.0;
      deck->position = 0.0;
      std::fill(std::begin(deck->hotCueStart), std::end(deck->hotCueStart), -1.0);
      std::fill(std::begin(deck->hotCueEnd), std::end(deck->hotCueEnd), -1.0);
      deck->slipOn = deck->reverse = deck->loopOn = deck->playing = deck->jogTouched = false;
      deck->stopMode = kStopNone;
      deck->fadeIn = 0.0f;
      deck->oldFade = 0.0f;
      deck->olderFade = 0.0f;
      deck->speed = 0.0;
      deck->keyShift = 0.0f;
      ResetStretch(deck->stretch);
      return true;
    case ScriptOp::Play:
      if (!needTrack()) return false;
      if (!deck->playing) {
        if (deck->position >= static_cast<double>(deck->track->frames) - 1.0) deck->position = 0.0;
        deck->playing = true;
      }
      return true;
    case ScriptOp::Pause:
      if (deck->playing) {
        StartDeclick(*deck);
        deck->stopMode = kStopNone;
        deck->playing = false;
      }
      return true;
    case ScriptOp::Seek:
      if (!needTrack()) return false;
      SeekDeck(engine, c.deck, c.value * rate);
      return true;
    case ScriptOp::Tempo: deck->tempo = static_cast<float>(c.value / 100.0); return true;
    case ScriptOp::KeyLock: deck->keyLock = c.value != 0.0; return true;
    case ScriptOp::KeyShift: deck->keyShift = static_cast<float>(c.value); return true;
    case ScriptOp::EqHigh: deck->eqHigh = static_cast<float>(c.value); return true;
    case ScriptOp::EqMid: deck->eqMid = static_cast<float>(c.value); return true;
    case ScriptOp::EqLow: deck->eqLow = static_cast<float>(c.value); return true;
    case ScriptOp::Gain: deck->gain = static_cast<float>(c.value); return true;
    case ScriptOp::Filter: deck->filter = static_cast<float>(c.value); return true;
    case ScriptOp::Fader: deck->fader = static_cast<float>(c.value); return true;
    case ScriptOp::FxOn: deck->fxMask |= EffectBit(c.index); return true;
    case ScriptOp::FxOff: deck->fxMask &= ~EffectBit(c.index); return true;
    case ScriptOp::FxAmount: deck->fxAmount[c.index].store(static_cast<float>(c.value)); return true;
    case ScriptOp::FxParam: deck->fxParam[c.index].store(static_cast<float>(c.value)); return true;
    case ScriptOp::XFader: engine.xfPosition = static_cast<float>(c.value); return true;
    case ScriptOp::XFCurve: engine.xfCurve = c.index; return true;
    case ScriptOp::XFAssign: deck->xfAssign = c.index; return true;
    case ScriptOp::Master: engine.masterVolume = static_cast<float>(c.value); return true;
    case ScriptOp::LoopIn:
      if (!needTrack()) return false;
      deck->loopOn = false;
      deck->loopIn = c.hasValue ? c.value * rate : deck->position;
      deck->loopOut = 0.0;
      return true;
    case ScriptOp::LoopOut: {
      if (!needTrack()) return false;
      const double out = c.hasValue ? c.value * rate : deck->position;
      if (out <= deck->loopIn) {
        error = LineError(c.line, "the loop must end after it starts (set loop in first)");
        return false;
      }
      deck->loopOut = out;
      deck->loopOn = true;
      return true;
    }
    case ScriptOp::LoopOn:
      if (!needTrack()) return false;
      deck->loopOn = deck->loopOut > deck->loopIn;
      return true;
    case ScriptOp::LoopOff: deck->loopOn = false; return true;
    case ScriptOp::Stems:
      // Every deck holding the same track takes them, as in the program.
      for (int d = 0; d < kEngineDecks; ++d) {
        if (engine.decks[d].track != deck->track) continue;
        releasedStems[d] = std::exchange(engine.decks[d].stems, separated);
        PublishStems(engine.decks[d], scriptStems[d]);
      }
      return true;
    case ScriptOp::StemGain:
      scriptStems[c.deck].gains[c.index] = static_cast<float>(c.value);
      PublishStems(*deck, scriptStems[c.deck]);
      return true;
    case ScriptOp::StemPreset:
      scriptStems[c.deck].preset = static_cast<uint32_t>(c.index);
      PublishStems(*deck, scriptStems[c.deck]);
      return true;
    case ScriptOp::Kick: deck->kickTarget = static_cast<float>(c.value); return true;
    case ScriptOp::Hat: deck->hatTarget = static_cast<float>(c.value); return true;
    case ScriptOp::FxTarget: deck->stemFxTarget = c.index; return true;
  }
  return true;
}

// Separates the track on the command's deck with the models beside the program, outside the
// engine lock; a track already separated in this render is not separated again.
bool Separate(AudioEngine& engine, const ScriptCommand& c, std::map<const Track*, StemDataPtr>& separations,
              StemDataPtr& stems, std::string& error) {
  TrackPtr track;
  {
    std::lock_guard<RealtimeMutex> guard(engine.lock);
    track = engine.decks[c.deck].track;
  }
  const std::string deck(1, static_cast<char>('A' + c.deck));
  if (!track) {
    error = LineError(c.line, "deck " + deck + " has no track");
    return false;
  }
  if (auto known = separations.find(track.get()); known != separations.end()) {
    stems = known->second;
    return true;
  }
  std::atomic<float> progress{0.0f};
  const std::atomic<bool> cancel{false};
  std::wstring why;
  stems = SeparateStems(*track, progress, cancel, why, nullptr);
  if (!stems) {
    error = LineError(c.line, "stems for deck " + deck + ": " + WideToUtf8(why));
    return false;
  }
  separations[track.get()] = stems;
  return true;
}

}  // namespace

bool ParseRenderScript(const std::string& text, const std::wstring& baseFolder, RenderScript& script,
                       std::string& error) {
  script = RenderScript();
  ScriptParser parser(baseFolder, script);
  size_t start = 0;
  int number = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (++number > static_cast<int>(kMaxScriptLines)) {
      error = "the script has more than 100000 lines";
      return false;
    }
    if (!parser.Line(number, line, error)) {
      script = RenderScript();
      return false;
    }
    start = end + 1;
  }
  if (!parser.Finish(error)) {
    script = RenderScript();
    return false;
  }
  return true;
}

bool RunRenderScript(AudioEngine& engine, const RenderScript& script, std::vector<float>& out, std::string& error) {
  const uint64_t total = static_cast<uint64_t>(std::llround(script.duration * script.rate));
  out.assign(total * 2, 0.0f);
  engine.sampleRate.store(script.rate);
  PrepareRenderBuffers(engine, script.period, script.rate);
  size_t next = 0;
  ScriptStems scriptStems[kEngineDecks];
  std::map<const Track*, StemDataPtr> separations;  // one separation per track
  for (uint64_t start = 0; start < total; start += static_cast<uint64_t>(script.period)) {
    while (next < script.commands.size() &&
           script.commands[next].seconds * script.rate <= static_cast<double>(start)) {
      const ScriptCommand& command = script.commands[next];
      StemDataPtr separated;
      if (command.op == ScriptOp::Stems && !Separate(engine, command, separations, separated, error)) return false;
      TrackPtr released;
      StemDataPtr releasedStems[kEngineDecks];
      if (!Apply(engine, command, scriptStems, separated, released, releasedStems, error)) return false;
      ++next;
    }
    const int32_t frames = static_cast<int32_t>(std::min<uint64_t>(script.period, total - start));
    RenderMix(engine, out.data() + start * 2, frames, script.rate);
  }
  return true;
}
