#pragma once
// The controller auto-map wizard: it asks for one control at a time, recognises buttons, faders,
// knobs, encoders and jogs from the messages they send, extrapolates pads 3-8 from pads 1 and 2 and
// works out the right deck from three of its controls. Nothing reaches the mapping table until the
// result is applied. UI thread.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

inline constexpr int kAutoMapSteps = 26;

struct AutoMapPrompt {
  const wchar_t* prompt;
  int deck;    // 0 left, 1 right, -1 global
  int offset;  // deck offset, or global action index (5000 + offset)
  int kind;    // 0 press, 1 move to the end, -1 cross-fader to the left end
  int group;   // 0 deck buttons, 1 deck faders and knobs, 2 pads, 3 global
};
extern const AutoMapPrompt AutoMapPrompts[kAutoMapSteps];

struct AutoMapCaptureRecord {
  uint32_t key;
  uint32_t value;  // target control id, bit 16 when inverted
  int group;
  int step;
  bool derived;
};

struct AutoMapStats {
  int count = 0, first = -1, last = 0, minimum = 127, maximum = 0, relative = 0;
};

struct AutoMapStateRecord {
  bool active = false;
  int step = -1;  // -1 introduction, 0-25 prompts, 26 done
  std::vector<AutoMapCaptureRecord> captures;
  std::map<uint32_t, AutoMapStats> stats;
  double stepStart = 0.0;
  double lastCapture = 0.0;  // also the last jog movement on the jog row
  std::wstring lastText, warning;
};
extern AutoMapStateRecord AutoMapState;

// Set while the wizard runs (the screen draws it, MIDI goes to it).
extern bool AutoMapOpen;
// A MIDI message while the wizard is open (it takes every message).
void AutoMapMidiInput(uint32_t key, int type, int data1, int value);

void StartAutoMap();
// Ends the wizard; nothing is applied.
void CloseAutoMap();
void AutoMapGoToStep(int step);
void AutoMapBack();
// On the left jog row: 1.5 s after the wheel stopped, once a turn was captured, goes on.
void AutoMapCheckJogDone();
// Replaces every non-keyboard mapping with the captures and saves the table and the settings.
void ApplyAutoMap();
