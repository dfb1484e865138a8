#!/usr/bin/env bash
# Installs what is missing, builds everything, and runs every end-to-end test and layer check; then
# the unit tests, once, under AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/): an
# unsanitized second run of them would cost minutes on a small machine.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
started=$SECONDS
# "test.sh: WHAT (M:SS since the start)", so a slow part shows in the log.
mark() { printf 'test.sh: %s (%d:%02d)\n' "$1" $(((SECONDS - started) / 60)) $(((SECONDS - started) % 60)); }
"$root/scripts/setup.sh"
mark "building"
"$root/scripts/build.sh"
mark "built"
build="${VELDMIX_BUILD:-$root/build}"
sanitized="${VELDMIX_SANITIZED_BUILD:-$root/build-asan}"
export VELDMIX_BUILD="$build"
# The test sound server: null sinks for the outputs and the microphone, stopped on exit.
eval "$(VELDMIX_AUDIO_OWNER=$$ "$root/scripts/test_audio_server.sh" start)"
sanitized_log="$(mktemp /tmp/veldmix-sanitized-build-XXXXXX)"
alone_log="$(mktemp /tmp/veldmix-compile-alone-XXXXXX)"
builder=""
alone=""
cleanup() {
  if [ -n "$builder" ]; then kill -- "-$builder" 2>/dev/null || kill "$builder" 2>/dev/null || true; fi
  if [ -n "$alone" ]; then kill -- "-$alone" 2>/dev/null || kill "$alone" 2>/dev/null || true; fi
  "$root/scripts/test_audio_server.sh" stop "$VELDMIX_AUDIO_DIR"
  rm -f "$sanitized_log" "$alone_log"
}
trap cleanup EXIT
jobs=$(nproc 2>/dev/null || echo 2)
# The sanitized build starts beside the tests on the time they leave idle: as an idle-class task
# it gives way to any test that wants a core at once, so timing checks keep their machine (nice
# alone still takes a share on two cores). Its own process group, so it can be ended as a whole.
idle=(nice -n 19)
if chrt --idle 0 true 2>/dev/null; then idle=(chrt --idle 0 nice -n 19); fi
set -m
"${idle[@]}" "$root/scripts/build_sanitized.sh" >"$sanitized_log" 2>&1 &
builder=$!
# Every source compiled on its own (syntax only), beside everything else and in no test slot: it
# takes only the time the tests leave, so the end-to-end checks keep both their slots.
nice -n 19 /usr/bin/python3 "$root/scripts/compile_alone.py" "$build" >"$alone_log" 2>&1 &
alone=$!
set +m
status=0
# Scripts labelled "pending" check a goal this build does not reach yet (the README names it);
# `ctest -L pending` runs them.
(cd "$build" && ctest --output-on-failure --timeout 600 -j "$jobs" -LE 'pending|unit|alone') || status=$?
# The rest of the sanitized build at the normal priority (an idle-class one would wait for ever
# on a machine that others keep busy): the idle one is ended and the build picks up where it was.
mark "tests done; finishing the sanitized build"
kill -TERM -- "-$builder" 2>/dev/null || true
wait "$builder" 2>/dev/null || true
builder=""
built=0
"$root/scripts/build_sanitized.sh" >>"$sanitized_log" 2>&1 || built=$?
if [ "$built" -ne 0 ]; then
  cat "$sanitized_log" >&2
  echo "test.sh: the sanitized build failed" >&2
  exit 1
fi
mark "unit tests under AddressSanitizer and UndefinedBehaviorSanitizer"
# One process per test suite rather than per test (a sanitized process takes half a second to
# start), the longest suites first by the times of an earlier run, where there is one.
suites="$sanitized/suites"
"$root/tests/support/suite_ctest.sh" "$sanitized/veldmix_tests" "$suites" "$build/Testing/Temporary/CTestCostData.txt" ||
  status=1
# One more process than cores: the suites wait on sound servers, sockets and timers for about a
# fifth of their time, which a third process fills (on two cores: 4.5 minutes instead of 5.4).
(cd "$suites" && ctest --output-on-failure --timeout 600 -j "$((jobs + 1))") || status=$?
mark "every source compiled on its own"
if ! wait "$alone"; then
  cat "$alone_log" >&2
  echo "test.sh: a source does not compile on its own" >&2
  status=1
fi
alone=""
mark "done (status $status)"
exit "$status"
