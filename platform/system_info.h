#pragma once
// Facts about the machine for the log's start line.
#include <cstdint>
#include <string>

// The kernel release ("6.1.0-18-amd64"); empty when uname fails.
std::wstring KernelRelease();
// Logical processors online; at least 1.
unsigned LogicalProcessorCount();
// The processors the calling thread may run on (fewer than online when the process is held to
// some of them); at least 1.
unsigned UsableProcessorCount();
// Total physical memory in bytes; 0 when unknown.
uint64_t PhysicalMemoryBytes();

// The id of this process, and the kernel's id of the calling thread (as `ps -L` shows it).
unsigned long CurrentProcessId();
unsigned long CurrentThreadId();
