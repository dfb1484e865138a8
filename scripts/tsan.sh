#!/usr/bin/env bash
# Builds the unit tests with ThreadSanitizer in a folder of their own (build-tsan/, or
# $VELDMIX_TSAN_BUILD): the whole project, tests and the programs they start included, so that every
# atomic and lock of ours is seen. Then runs them one process per suite (or batch of small suites)
# on the test sound server and prints what it covered (the processes that ran to the end, their
# tests, what was left out and why), the processes that failed, every race report's summary line,
# and a count.
# Ends with 1 when a suite failed or was cut off by its time limit (named: it was not measured), or
# any report was left standing. Not part of test.sh: the build
# and the run take the better part of an hour on two cores.
# Usage: scripts/tsan.sh [-j JOBS] [GTEST_FILTER]   (JOBS defaults to 4; a filter runs one process)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
jobs=4
case "${1:-}" in
  -j) jobs=$2; shift 2 ;;
  -j*) jobs=${1#-j}; shift ;;
esac
filter=${1:-}
build="${VELDMIX_TSAN_BUILD:-$root/build-tsan}"
# -O1 and line tables only: a report needs no more, and full debug information doubles the compile.
flags="-fsanitize=thread -O1 -g1 -DNDEBUG"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$flags" -DCMAKE_C_FLAGS_RELWITHDEBINFO="$flags" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=thread" \
    -DVELDMIX_PRECOMPILED_HEADERS=ON -DVELDMIX_UNITY_BUILD=ON >/dev/null
fi
cmake --build "$build" -j "$jobs" --target veldmix_tests

# Reports go to one file per process; the run goes on after a report, so that one run lists them all.
# Tests that fork a child which starts threads (the display-loss and death tests) would otherwise
# be ended by ThreadSanitizer itself, which cannot follow a multi-threaded fork.
reports="$build/tsan-reports"
rm -rf "$reports"
mkdir -p "$reports"
export TSAN_OPTIONS="halt_on_error=0 second_deadlock_stack=1 history_size=4 die_after_fork=0 \
suppressions=$root/scripts/tsan.supp log_path=$reports/report ${TSAN_OPTIONS:-}"

eval "$(VELDMIX_AUDIO_OWNER=$$ "$root/scripts/test_audio_server.sh" start)"
trap '"$root/scripts/test_audio_server.sh" stop "$VELDMIX_AUDIO_DIR"' EXIT

status=0
if [ -n "$filter" ]; then
  (cd "$build" && ./veldmix_tests --gtest_filter="$filter") || status=$?
  # 66 is ThreadSanitizer's own exit status once it reported, whether or not a test failed.
  echo "tsan.sh: ran veldmix_tests --gtest_filter=$filter; exit status $status"
else
  suites="$build/suites"
  # A sanitized stem separation runs for many minutes on two cores: no suite is cut off by the
  # plain run's limit, so that every one is measured.
  VELDMIX_SUITE_SECONDS=5400 "$root/tests/support/suite_ctest.sh" "$build/veldmix_tests" "$suites" || status=1
  # Left out, as ThreadSanitizer cannot follow them: the crash report's child, forked in the signal
  # handler without the fork handlers its runtime needs, hangs until its time limit; a display-loss
  # test forks a process that already runs threads and starts more in the child.
  sed -i 's/\(--gtest_filter=[^]]*\)\]=\]/\1-CrashReportDeathTest.*:DisplayLost.*]=]/' "$suites/CTestTestfile.cmake"
  (cd "$suites" && ctest --output-on-failure -j "$jobs" -E '^CrashReportDeathTest$') 2>&1 | tee "$build/tsan-ctest.log" ||
    status=1
  # What was measured: a suite counts once its process ran to the end; one cut off by its limit
  # was never measured, so it is named rather than counted race-free.
  finished=$(grep -cP '^\s*\d+/\d+ Test\s+#\d+: \S+ \.+\s*(Passed|\*\*\*Failed)' "$build/tsan-ctest.log" || true)
  total=$(grep '^add_test' "$suites/CTestTestfile.cmake" | grep -vc '^add_test(\[=\[CrashReportDeathTest\]=\]' || true)
  tests=$(cd "$build" && ./veldmix_tests --gtest_list_tests --gtest_filter='*-CrashReportDeathTest.*:DisplayLost.*' |
    grep -v DISABLED_ | grep -c '^  ' || true)
  failed=$(grep -oP '^\s*\d+/\d+ Test\s+#\d+: \K\S+(?=.*\*\*\*Failed)' "$build/tsan-ctest.log" || true)
  echo "tsan.sh: $finished of $total processes ran to the end ($tests tests);" \
    "left out: CrashReportDeathTest.* and DisplayLost.* (forks ThreadSanitizer cannot follow)"
  echo "tsan.sh: failed: ${failed:-none}" | paste -sd ' '
  unfinished=$(grep -oP '^\s*\d+/\d+ Test\s+#\d+: \K\S+(?=.*\*\*\*Timeout)' "$build/tsan-ctest.log" || true)
  if [ -n "$unfinished" ]; then
    echo "tsan.sh: not measured (cut off by the time limit): ${unfinished//$'\n'/ }"
    status=1
  fi
fi

# Each report's summary names the race's first frame of ours, or the library it lies in.
count=0
for file in "$reports"/report*; do
  [ -e "$file" ] || continue
  grep -h '^SUMMARY: ThreadSanitizer' "$file" || true
  count=$((count + $(grep -c '^WARNING: ThreadSanitizer' "$file" || true)))
done
echo "tsan.sh: $count report(s); full reports in $reports"
[ "$count" = 0 ] || status=1
exit "$status"
