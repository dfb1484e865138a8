#pragma once
// The program side of the phone remote: the state document phones poll and the commands they
// send, carried out through the control dispatcher as a controller's would be. UI thread.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "control/dispatcher.h"
#include "control/remote_server.h"

// Once per tick: releases what abandoned phones hold (below), then, while the remote server runs,
// renews its state document at most every 200 ms.
void BuildRemoteState();
// Releases each control a phone holds down (CUE) whose phone has sent nothing for 2 s, and every
// held control once the server has stopped: a page that closed or lost its network in the middle
// of a press never leaves a deck playing from its cue.
void ReleaseAbandonedRemoteHolds(uint64_t nowMs);
// BuildRemoteState's document, made now (the decks on the two sides, the mixer, the clock and the
// browser rows around the selection).
std::string RemoteStateJson();
// The text as a JSON string, quotes included: UTF-8, '"' and '\' escaped, control bytes as spaces.
std::string JsonEscape(std::wstring_view text);

// One call of the control dispatcher.
struct RemoteControlStep {
  uint16_t target = 0;
  ControlEvent event;
};
// The dispatcher calls a command makes, in order: none for a name no table knows; a press then a
// release for a pressed button; one call otherwise.
std::vector<RemoteControlStep> RemoteControlSteps(const RemoteCommand& command);
// Carries out a command posted by the server through ApplyMappedControl and frees it.
void DispatchRemoteCommand(RemoteCommand* command);
