#pragma once
// Every heap allocation of the bench process so far (malloc, calloc, realloc and the aligned
// ones, from any library); the counting hooks live in main_screen_bench.cpp.
#include <cstdint>

int64_t BenchAllocationCount();
