#pragma once
// The shell's wiring: where a lower layer must tell a higher one something, it calls a hook that
// the shell points at the higher layer here. Run once before anything else of the program.

// Sets every hook (again, harmlessly). UI thread.
void InstallShellHooks();
