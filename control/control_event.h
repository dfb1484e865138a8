#pragma once
// What a controller, a key binding, the phone remote or a macro does to one control: the event the
// dispatcher (control/dispatcher.h) and the action table (control/action_table.h) pass on.
#include <cstdint>

// One physical change of a control. A button event sets press or release, an absolute one
// hasValue and value, a relative one delta.
struct ControlEvent {
  bool press = false;
  bool release = false;
  bool hasValue = false;
  float value = 0.0f;  // 0..1
  int32_t delta = 0;   // steps, positive = clockwise / forward
};

inline ControlEvent PressEvent() { return {.press = true}; }
inline ControlEvent ReleaseEvent() { return {.release = true}; }
inline ControlEvent ValueEvent(float value) { return {.hasValue = true, .value = value}; }
inline ControlEvent DeltaEvent(int32_t delta) { return {.delta = delta}; }
