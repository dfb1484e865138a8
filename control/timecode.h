#pragma once
// Timecode vinyl. UI thread.

// Once per tick: applies the decoded record speed to the decks that follow a record; nothing
// until the timecode input exists.
void ApplyTimecodeSpeed();
