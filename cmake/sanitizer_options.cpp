// Linked into every program of the sanitized build (VELDMIX_SANITIZE), so that the unit tests,
// the tool they start and CTest's test discovery all run with the same settings, whoever starts
// them. Settings in ASAN_OPTIONS / UBSAN_OPTIONS / LSAN_OPTIONS still override these.
//
// Every report ends the program with a failing exit status: ASan stops at the first error, and
// UBSan is compiled with -fno-sanitize-recover so it cannot go on either.
//
// Leaks: LeakSanitizer runs at exit and fails the run on any leak, with one exception:
// fontconfig keeps its configuration and font sets for the whole process and never frees them,
// and since Pango holds on to them too, no call of ours can release them. Its reports say nothing
// about our code, so it is the one library suppressed. A leak whose allocation stack does not
// pass through fontconfig is still reported.
extern "C" {

const char* __asan_default_options() {
  return "halt_on_error=1:abort_on_error=0:detect_leaks=1:detect_stack_use_after_return=0:"
         "strict_string_checks=0:check_initialization_order=1:print_summary=1";
}

const char* __ubsan_default_options() { return "halt_on_error=1:print_stacktrace=1"; }

const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
}
