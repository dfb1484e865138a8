#!/usr/bin/env bash
# suite_ctest.sh BINARY DIR [COSTS]: writes DIR/CTestTestfile.cmake with one CTest test per gtest
# suite of BINARY, run in BINARY's folder, so `ctest --test-dir DIR -j N` runs each suite in one
# process: a sanitized test process takes about half a second just to start, which one process
# per test pays 1200 times. The suites below that must not share a process stay one process per
# test. COSTS (a CTestCostData.txt of a per-test run, e.g. the plain build's) orders the longest
# suites first. A failing suite's output names the failing test; a crash ends at its "[ RUN ]".
set -euo pipefail
binary="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
dir=$2
costs=${3:-}
[ -x "$binary" ] || { echo "suite_ctest: no test program at $binary" >&2; exit 1; }
# Suites that stay one process per test: their drains drop the completions they do not handle
# (a cover picture, a lyrics reply) that an earlier test's worker posts late, which the leak check
# then reports at the suite's exit.
isolated=(DeckPanel PitchJog DeckLyricsFlow)
# Where COSTS has no times for them, the suites that take longest (a sanitized stem separation takes over a minute)
# start first all the same, so none is left running alone at the end.
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
        echo "set_tests_properties([=[$suite.$test]=] PROPERTIES WORKING_DIRECTORY \"$(dirname "$binary")\" TIMEOUT 300 SKIP_REGULAR_EXPRESSION [==[\\[  SKIPPED \\]]==])"
        ;;
      *)
        suite=${line%%.*}
        case "$suite" in DISABLED_*) suite=""; continue ;; esac
        case " ${isolated[*]} " in *" $suite "*) continue ;; esac
        echo "add_test([=[$suite]=] \"$binary\" [=[--gtest_filter=$suite.*]=])"
        echo "set_tests_properties([=[$suite]=] PROPERTIES WORKING_DIRECTORY \"$(dirname "$binary")\" TIMEOUT 600${cost[$suite]:+ COST ${cost[$suite]}})"
        ;;
    esac
  done <<<"$list"
} >"$out"
