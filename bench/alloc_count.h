#pragma once
// Every malloc of the benchmark process, counted by the allocator wrappers in
// main_screen_bench.cpp (whichever library allocates).
#include <atomic>
#include <cstdint>

extern std::atomic<int64_t> Allocations;
