#pragma once
// The desktop's real-time service (RealtimeKit on the system bus), which lends the real-time
// class to a thread of a user who may not take it directly, as the sound server itself asks it.
#include <string>

// Asks the service to run the calling thread under the real-time FIFO scheduler at `priority`
// (lowered to the service's ceiling). False with the service's answer or why it could not be
// asked (no system bus, no service). Blocks at most about a second.
bool AskRealtimeKit(int priority, std::string& reason);
