#pragma once
// The shell's wiring: where a lower layer must reach a higher one (or a test must stand in for
// something), it calls a hook, a function pointer named ...Hook (a set of them: ...Hooks) that it
// declares and that is null until set. Every hook is set here, and only here; the self-test's
// two (app/main_window.h) by InstallSelfTestHooks (selftest/selftest_tick.h). Tests and tools may
// point one elsewhere for a while.

// Sets every hook (again, harmlessly). Run first by the program, the tool and the test binaries,
// before any other thread exists.
void InstallShellHooks();
