#!/usr/bin/env bash
# suite_ctest.sh BINARY DIR [COSTS]: writes DIR/CTestTestfile.cmake with one CTest test per gtest
# suite, or per batch of small suites, of BINARY, run in BINARY's folder, so `ctest --test-dir DIR
# -j N` runs them in few processes: a sanitized test process takes about half a second just to
# start, which one process per test pays 1200 times. The suites below that must not share a
# process stay one process per test. COSTS (a CTestCostData.txt of a per-test run, e.g. the plain build's) orders the longest
# suites first. A failing suite's output names the failing test; a crash ends at its "[ RUN ]".
# VELDMIX_SUITE_SECONDS sets each process's time limit (600 s; a test alone, 300 s): a property of
# each test, which `ctest --timeout` does not lift.
set -euo pipefail
suite_seconds=${VELDMIX_SUITE_SECONDS:-600}
test_seconds=${VELDMIX_SUITE_SECONDS:-300}
binary="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
dir=$2
costs=${3:-}
[ -x "$binary" ] || { echo "suite_ctest: no test program at $binary" >&2; exit 1; }
# Suites that stay one process per test: their drains drop the completions they do not handle
# (a cover picture, a lyrics reply) that an earlier test's worker posts late, which the leak check
# then reports at the suite's exit.
isolated=(DeckPanel PitchJog DeckLyricsFlow)
# Where COSTS has no times for them, the suites that take longest (a sanitized stem separation
# takes over a minute) start first all the same, so none is left running alone at the end.
long=(StemSeparation UndoAndCues StemControlJobs OutputDevice WindowCapture TempoCorpus KeyCorpus)

declare -A cost=()
if [ -f "$costs" ]; then
  # "NAME RUNS SECONDS" lines, then "---" and the failed tests.
  while read -r name _ seconds; do
    [ "$name" = --- ] && break
    suite=${name%%.*}
    cost[$suite]=$(awk -v a="${cost[$suite]:-0}" -v b="$seconds" 'BEGIN { print a + b }')
  done <"$costs"
fi
for suite in "${long[@]}"; do cost[$suite]=${cost[$suite]:-60}; done

# Suites share a process in batches of up to kBatchSuites or kBatchSeconds of known cost: with one
# process per suite the starts alone cost a sanitized run half a minute on two cores. The long
# suites, and death tests (they fork, so they want a process without other suites' threads), stay
# alone.
readonly kBatchSuites=8
readonly kBatchSeconds=8
batch=()
batch_cost=0
flush() {
  [ ${#batch[@]} -gt 0 ] || return 0
  local name="${batch[0]}" filter=""
  [ ${#batch[@]} -eq 1 ] || name="${batch[0]}..${batch[-1]}"
  for s in "${batch[@]}"; do filter+="${filter:+:}$s.*"; done
  echo "add_test([=[$name]=] \"$binary\" [=[--gtest_filter=$filter]=])"
  echo "set_tests_properties([=[$name]=] PROPERTIES WORKING_DIRECTORY \"$(dirname "$binary")\" TIMEOUT $suite_seconds COST $batch_cost)"
  batch=()
  batch_cost=0
}
alone() {
  case "$1" in *DeathTest) return 0 ;; esac
  case " ${long[*]} " in *" $1 "*) return 0 ;; esac
  return 1
}
add_suite() {
  local suite=$1 known=${cost[$1]:-1}
  if alone "$suite"; then flush; batch=("$suite"); batch_cost=$known; flush; return; fi
  batch+=("$suite")
  batch_cost=$(awk -v a="$batch_cost" -v b="$known" 'BEGIN { print a + b }')
  if [ ${#batch[@]} -ge $kBatchSuites ] || awk -v a="$batch_cost" -v b=$kBatchSeconds 'BEGIN { exit !(a >= b) }'; then
    flush
  fi
}

mkdir -p "$dir"
out="$dir/CTestTestfile.cmake"
list="$("$binary" --gtest_list_tests)" || { echo "suite_ctest: $binary --gtest_list_tests failed" >&2; exit 1; }
{
  echo "# Written by tests/support/suite_ctest.sh for $binary"
  suite=""
  while IFS= read -r line; do
    case "$line" in
      "Running main()"*) continue ;;
      " "*)
        test=${line#  }
        test=${test%%  #*}
        [ -n "$suite" ] || continue
        case " ${isolated[*]} " in
          *" $suite "*) ;;
          *) continue ;;
        esac
        case "$test" in DISABLED_*) continue ;; esac
        echo "add_test([=[$suite.$test]=] \"$binary\" [=[--gtest_filter=$suite.$test]=])"
        echo "set_tests_properties([=[$suite.$test]=] PROPERTIES WORKING_DIRECTORY \"$(dirname "$binary")\" TIMEOUT $test_seconds SKIP_REGULAR_EXPRESSION [==[\\[  SKIPPED \\]]==])"
        ;;
      *)
        suite=${line%%.*}
        case "$suite" in DISABLED_*) suite=""; continue ;; esac
        case " ${isolated[*]} " in *" $suite "*) continue ;; esac
        add_suite "$suite"
        ;;
    esac
  done <<<"$list"
  flush
} >"$out"
