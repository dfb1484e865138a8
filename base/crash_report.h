#pragma once
// The crash reporter. On a fatal error (a fault signal, abort(), std::terminate, a pure virtual
// call) the first failing thread writes its stack into the log, a crash report file and the
// "last-crash" marker into the support folder, then ends the process; a thread that fails
// meanwhile waits for that end. Exit code: 128 + the signal number for a fault, else 3.
#include <cstdint>
#include <string>

#include "platform/clock.h"

// Arms the reporter; reports go to supportFolder (nothing is written when it is empty).
// Called by StartLog on the UI thread before any other thread exists.
void InstallCrashHandlers(const std::wstring& supportFolder);

// "module+0xOFFSET (function, file:line)", shorter when less is known; at most 600 characters.
// Looks up debug information, so it allocates: never in a signal handler.
std::wstring DescribeAddress(uintptr_t address, bool isReturnAddress);
// "Veldmix 1.0.10 crash YYYY-MM-DD HHMMSS-pid.dmp": the report file of a crash at that time.
std::wstring CrashDumpName(const LocalTime& time, unsigned long processId);
