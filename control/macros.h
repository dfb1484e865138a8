#pragma once
// User macros. UI thread.

// Once per tick: advances running macros (waits, glides); nothing until macros exist.
void TickMacros();
