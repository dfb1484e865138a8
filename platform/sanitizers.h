#pragma once
// What the build is checked with. ThreadSanitizer runs every thread several times slower, starts
// processes slowly and cannot see synchronisation inside libraries built without it.

#if defined(__SANITIZE_THREAD__)  // GCC
inline constexpr bool kThreadSanitizerBuild = true;
#elif defined(__has_feature)  // Clang
inline constexpr bool kThreadSanitizerBuild = __has_feature(thread_sanitizer);
#else
inline constexpr bool kThreadSanitizerBuild = false;
#endif

// How many times longer a wait for another thread or process may take in this build: for the
// deadlines of waits, never for what a test measures.
inline constexpr int kSanitizerWaitScale = kThreadSanitizerBuild ? 10 : 1;
