#pragma once
// The phone remote's view of the program. UI thread.

// Once per tick: keeps the remote's state document current; nothing until the remote exists.
void BuildRemoteState();
