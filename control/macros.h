#pragma once
// The macro language: short scripts of deck, mixer, sampler, library and video commands, joined
// with "&", run step by step once per frame, pausing at "wait" steps, with values set at once or
// glided over beats, bars, seconds or milliseconds. Several macros run at once. UI thread.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One step: its words, keywords lower-cased, quoted texts as they were written; never empty.
using MacroStep = std::vector<std::wstring>;

struct RunningMacro {
  int32_t slot = 0;              // 0..7
  std::vector<MacroStep> steps;
  uint64_t next = 0;             // index of the next step
  int32_t deck = 0;              // the current deck, 0..3
  double waitUntil = 0.0;        // seconds on MacroClockHook
};

// A value moving from start to end between startTime and startTime + duration.
struct ValueGlide {
  float* target = nullptr;       // owned by a deck view, the mixer or the settings
  float start = 0.0f;
  float end = 0.0f;
  double startTime = 0.0;        // seconds on MacroClockHook
  double duration = 0.01;        // seconds, at least kMinGlideSeconds
};

inline constexpr double kMinGlideSeconds = 0.01;
inline constexpr int kMacroStatusMs = 2800;
inline constexpr int kMacroErrorMs = 5000;

// In start order; a macro leaves the list after its last step or a step it does not know.
extern std::vector<RunningMacro> RunningMacros;
// At most one per target.
extern std::vector<ValueGlide> ValueGlides;
// The clock macros read (seconds, monotonic): the shell sets MonotonicSeconds, tests their own.
extern double (*MacroClockHook)();

// --- Parsing ---
// Splits a script into steps at "&", ";" and line breaks and into words at white space; text in
// double quotes is one word kept as written, "" is an empty word; everything else is lower-cased.
std::vector<MacroStep> ParseMacro(std::wstring_view text);
// Seconds of `count` units on the deck: "beat…" beats at the deck's tempo (120 BPM without a
// track, never under 20 BPM), "bar…" four beats, "ms" milliseconds, anything else seconds.
double ParseMacroLength(int deck, double count, std::wstring_view unit);

// --- Running ---
// Runs one step on the macro's current deck; false when its keyword, a required sub-word or a
// number (one that is not finite) is not understood, with nothing changed by it.
bool RunMacroCommand(RunningMacro& running, const MacroStep& words);
// Sets *target to value at once, or, with "over N [unit]" from word `from` on, glides it there
// from its current value; either way an earlier glide of the same target ends. False (nothing
// changed) when the length after "over" is not finite.
bool ParseOverBeats(int deck, float* target, float value, const MacroStep& words, size_t from);
// Once per frame: runs every macro's steps up to its next wait, reports and drops a macro at a
// step it does not know, and moves the glides (ending those whose time is over).
void TickMacros();
// True while a copy of slot (0..7) runs.
bool MacroSlotRunning(int32_t slot);
// Ends every macro and glide (a new session, the tests).
void ClearMacros();
