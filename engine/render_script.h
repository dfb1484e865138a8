#pragma once
// The offline render: a small line-based script drives the real RenderMix period by period, as
// the output thread and the UI's deck commands would, and the result is kept in memory.
//
// Script syntax: one statement per line; "#" starts a comment; blank lines are skipped. Numbers
// use a "." decimal point. Decks are A, B, C, D. Times and positions are seconds.
//
//   rate HZ                     device rate, 8000..192000 (default 48000)
//   period FRAMES               frames per RenderMix call, 16..8192 (default 480)
//   duration SECONDS            length of the render, above 0 and at most 600 (required)
//   [at SECONDS] COMMAND ARGS   a command; it applies under the engine lock before the first
//                               period that starts at or after SECONDS (without "at": 0)
//
// Commands:
//   load DECK FILE              any audio file the program plays (decoded as on a deck); a
//                               relative path is taken from the script's folder; refused while
//                               the deck plays; the deck starts at 0 with key shift 0 and its
//                               stem settings back at their defaults, like a load in the program
//   play DECK, pause DECK       pause is de-clicked; play at the end restarts from 0
//   seek DECK SECONDS           clamped to the track; de-clicked while playing
//   tempo DECK PERCENT          -50..50 (0 = the track's own tempo)
//   keylock DECK on|off         keyshift DECK SEMITONES (-24..24)
//   eq DECK high|mid|low VALUE  0..1, 0.5 neutral, 0 removes the band
//   gain DECK VALUE             0..1, 0.5 = 0 dB (+-12 dB)
//   filter DECK VALUE           -1..1 (below 0 low-pass, above 0 high-pass, 0 off)
//   fader DECK VALUE            0..1 (channel fader)
//   fx DECK on|off EFFECT       EFFECT by name: ECHO, REVERB, ..., AUTO-WAH, DUB ECHO (any case)
//   fx DECK amount EFFECT VALUE 0..1
//   fx DECK param EFFECT VALUE  beats, 0..64 (0 = the effect's default)
//   xfader VALUE                cross-fader position 0..1
//   xfcurve linear|cut|power
//   xfassign DECK left|through|right
//   loop DECK in|out [SECONDS]  without SECONDS: the deck's position; out turns the loop on
//   loop DECK on|off
//   master VALUE                master volume 0..1 (0.8 = unity)
//   stems DECK                  separates the deck's track with the models in "Models" beside
//                               the program and attaches the stems to every deck holding that
//                               track; the render waits for it
//   stemgain DECK vocals|drums|bass|melody VALUE   0..1 (1 = the part as it is)
//   kick DECK VALUE, hat DECK VALUE                0..1: KICK and HI-HAT of the drums stem
//   fx DECK target vocals|drums|bass|melody|all    what the deck effects act on
//   stempreset DECK none|vocals|instrumental       vocals only or no vocals: through the stems
//                               once they are attached, through the voice band until then
//
// Errors name the line: "line N: ..." (parse errors, unreadable files, and commands the deck
// refuses when they run: a load while playing, play, seek or loop without a track).
#include <cstdint>
#include <string>
#include <vector>

#include "base/track.h"
#include "engine/engine.h"

inline constexpr int32_t kScriptDefaultRate = 48000;
inline constexpr int32_t kScriptDefaultPeriod = 480;
inline constexpr double kScriptMaxSeconds = 600.0;

enum class ScriptOp {
  Load, Play, Pause, Seek, Tempo, KeyLock, KeyShift, EqHigh, EqMid, EqLow, Gain, Filter, Fader,
  FxOn, FxOff, FxAmount, FxParam, XFader, XFCurve, XFAssign, LoopIn, LoopOut, LoopOn, LoopOff, Master,
  Stems, StemGain, Kick, Hat, FxTarget, StemPreset,
};

struct ScriptCommand {
  int line = 0;
  double seconds = 0.0;
  ScriptOp op = ScriptOp::Play;
  int deck = -1;         // 0..3, -1 for mixer commands
  int index = 0;         // effect number, curve, side, stem part, effects target or preset
  double value = 0.0;
  bool hasValue = false; // loop in/out: a time was given
  TrackPtr track;        // load: the decoded file
};

struct RenderScript {
  int32_t rate = kScriptDefaultRate;
  int32_t period = kScriptDefaultPeriod;
  double duration = 0.0;
  std::vector<ScriptCommand> commands;  // sorted by time, stable
};

// Parses a script and decodes the files it loads (relative to baseFolder). False with
// "line N: ..." in error and nothing usable in script. Allocates and reads files.
bool ParseRenderScript(const std::string& text, const std::wstring& baseFolder, RenderScript& script,
                       std::string& error);
// Renders the whole script through RenderMix on `engine` (which should be freshly built) into
// out (2 floats per frame). False with "line N: ..." when a command is refused while running or
// a separation fails.
bool RunRenderScript(AudioEngine& engine, const RenderScript& script, std::vector<float>& out, std::string& error);
