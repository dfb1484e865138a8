#include "engine/render_script.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <string_view>

#include "app/text_parse.h"
#include "engine/render.h"
#include "platform/files.h"
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

// WAV limits.
constexpr size_t kMaxWavBytes = size_t(1) << 30;
constexpr uint32_t kMinWavRate = 1000, kMaxWavRate = 384000;  // Hz
constexpr uint16_t kWavFormatPcm = 1, kWavFormatFloat = 3, kWavFormatExtensible = 0xFFFE;
constexpr uint32_t kFmtMinBytes = 16, kFmtExtensibleBytes = 40;
constexpr float kPcm16Scale = 1.0f / 32768.0f;

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

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

std::wstring JoinPath(const std::wstring& folder, const std::wstring& path) {
  if (path.empty() || path.front() == L'/' || folder.empty()) return path;
  return folder.back() == L'/' ? folder + path : folder + L"/" + path;
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
      const std::wstring path = JoinPath(baseFolder_, Utf8ToWide(rest));
      if (auto known = loaded_.find(path); known != loaded_.end()) {
        c.track = known->second;
        return true;
      }
      std::string why;
      if (!ReadWavTrack(path, c.track, why)) return Fail(std::string(rest) + ": " + why, error);
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
      if (t.size() < 4) return Fail("usage: fx DECK on|off EFFECT, fx DECK amount|param EFFECT VALUE", error);
      if (!Deck(t[1], c.deck, error)) return false;
      const std::string action = Upper(t[2]);
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

// Applies one command under the engine lock, as the program's deck and mixer commands do.
// Old tracks are released by the caller after the lock is dropped.
bool Apply(AudioEngine& engine, const ScriptCommand& c, TrackPtr& released, std::string& error) {
  std::lock_guard<std::recursive_mutex> guard(engine.lock);
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
      deck->stems.reset();
      deck->cuePoint = 0.0;
      deck->position = 0.0;
      std::fill(std::begin(deck->hotCueStart), std::end(deck->hotCueStart), -1.0);
      std::fill(std::begin(deck->hotCueEnd), std::end(deck->hotCueEnd), -1.0);
      deck->slipOn = deck->reverse = deck->loopOn = deck->playing = deck->jogTouched = false;
      deck->stopMode = 0;
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
        deck->stopMode = 0;
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
  }
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
  for (uint64_t start = 0; start < total; start += static_cast<uint64_t>(script.period)) {
    while (next < script.commands.size() &&
           script.commands[next].seconds * script.rate <= static_cast<double>(start)) {
      TrackPtr released;
      if (!Apply(engine, script.commands[next], released, error)) return false;
      ++next;
    }
    const int32_t frames = static_cast<int32_t>(std::min<uint64_t>(script.period, total - start));
    RenderMix(engine, out.data() + start * 2, frames, script.rate);
  }
  return true;
}

bool ReadWavTrack(const std::wstring& path, TrackPtr& track, std::string& error) {
  std::string bytes;
  switch (ReadBytes(path, &bytes, kMaxWavBytes)) {
    case ReadStatus::Missing: error = "no such file"; return false;
    case ReadStatus::Unreadable: error = "cannot be read (or is larger than 1 GiB)"; return false;
    case ReadStatus::Ok: break;
  }
  const uint8_t* data = reinterpret_cast<const uint8_t*>(bytes.data());
  const size_t size = bytes.size();
  if (size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WAVE", 4) != 0) {
    error = "not a RIFF/WAVE file";
    return false;
  }
  uint16_t format = 0, channels = 0, bits = 0;
  uint32_t rate = 0;
  bool haveFormat = false;
  const uint8_t* samples = nullptr;
  size_t sampleBytes = 0;
  size_t at = 12;
  while (at + 8 <= size) {
    const uint8_t* chunk = data + at;
    const uint32_t length = Le32(chunk + 4);
    if (length > size - at - 8) {
      error = "a chunk runs past the end of the file";
      return false;
    }
    const uint8_t* body = chunk + 8;
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      if (length < kFmtMinBytes) {
        error = "the format chunk is too short";
        return false;
      }
      format = Le16(body);
      channels = Le16(body + 2);
      rate = Le32(body + 4);
      bits = Le16(body + 14);
      if (format == kWavFormatExtensible) {
        if (length < kFmtExtensibleBytes) {
          error = "the extensible format chunk is too short";
          return false;
        }
        format = Le16(body + 24);  // the sub-format GUID starts with the plain format code
      }
      haveFormat = true;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      samples = body;
      sampleBytes = length;
    }
    at += 8 + static_cast<size_t>(length) + (length & 1u);
  }
  if (!haveFormat || samples == nullptr) {
    error = haveFormat ? "the file has no data chunk" : "the file has no format chunk";
    return false;
  }
  const bool pcm16 = format == kWavFormatPcm && bits == 16;
  const bool float32 = format == kWavFormatFloat && bits == 32;
  if (!pcm16 && !float32) {
    error = "only 16-bit PCM and 32-bit float WAV files can be read";
    return false;
  }
  if (channels != 1 && channels != 2) {
    error = "only mono and stereo WAV files can be read";
    return false;
  }
  if (rate < kMinWavRate || rate > kMaxWavRate) {
    error = "the sample rate " + std::to_string(rate) + " Hz is out of range";
    return false;
  }
  const size_t frameBytes = static_cast<size_t>(channels) * (bits / 8);
  const size_t frames = sampleBytes / frameBytes;
  if (frames == 0) {
    error = "the file holds no samples";
    return false;
  }
  auto result = std::make_shared<Track>();
  result->path = path;
  result->sampleRate = static_cast<int32_t>(rate);
  result->frames = frames;
  result->samples.resize(frames * 2);
  for (size_t i = 0; i < frames; ++i) {
    float v[2];
    for (int c = 0; c < channels; ++c) {
      const uint8_t* p = samples + i * frameBytes + static_cast<size_t>(c) * (bits / 8);
      if (pcm16) {
        v[c] = static_cast<float>(static_cast<int16_t>(Le16(p))) * kPcm16Scale;
      } else {
        const uint32_t raw = Le32(p);
        std::memcpy(&v[c], &raw, sizeof raw);
        if (!std::isfinite(v[c])) {
          error = "the samples include a value that is not a finite number";
          return false;
        }
      }
    }
    result->samples[2 * i] = v[0];
    result->samples[2 * i + 1] = channels == 2 ? v[1] : v[0];
  }
  track = std::move(result);
  return true;
}
