#!/usr/bin/env bash
# Measures how steadily the master output writes its periods: four decks play for SECONDS
# (default 60) on a null sink of a private sound server while a parallel build loads every core.
# Prints the spread of the intervals between device writes and the dropout count. A measurement,
# not a test: it fails only when something could not run.
#
#   scripts/measure_jitter.sh [SECONDS]      (VELDMIX_BUILD: the build folder, default build/)
#
# The write times come from a small preload library that stamps each call of the sound-server
# client's stream write, so the program under measurement is the unchanged veldmix-tool.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${VELDMIX_BUILD:-$root/build}"
seconds="${1:-60}"
tool="$build/veldmix-tool"
[ -x "$tool" ] || { echo "measure_jitter: build first ($tool is missing)" >&2; exit 1; }

work=$(mktemp -d /tmp/veldmix-jitter-XXXXXX)
server_dir=""
load_pid=""
cleanup() {
  if [ -n "$load_pid" ]; then kill -- -"$load_pid" 2>/dev/null || true; wait "$load_pid" 2>/dev/null || true; fi
  if [ -n "$server_dir" ]; then "$root/scripts/test_audio_server.sh" stop "$server_dir" || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

cat >"$work/write_times.c" <<'EOF'
#define _GNU_SOURCE
#include <dlfcn.h>
#include <pulse/stream.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#define MAX_STAMPS (1 << 20)
static double stamps[MAX_STAMPS];
static size_t sizes[MAX_STAMPS];
static long count;
typedef int (*write_fn)(pa_stream*, const void*, size_t, pa_free_cb_t, int64_t, pa_seek_mode_t);
int pa_stream_write(pa_stream* s, const void* data, size_t bytes, pa_free_cb_t free_cb, int64_t offset,
                    pa_seek_mode_t seek) {
  static write_fn real;
  if (!real) real = (write_fn)dlsym(RTLD_NEXT, "pa_stream_write");
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  long i = __atomic_fetch_add(&count, 1, __ATOMIC_RELAXED);
  if (i < MAX_STAMPS) { stamps[i] = ts.tv_sec + ts.tv_nsec * 1e-9; sizes[i] = bytes; }
  return real(s, data, bytes, free_cb, offset, seek);
}
__attribute__((destructor)) static void dump(void) {
  const char* path = getenv("VELDMIX_WRITE_TIMES");
  FILE* f = path ? fopen(path, "w") : NULL;
  if (!f) return;
  for (long i = 0; i < count && i < MAX_STAMPS; ++i) fprintf(f, "%.9f %zu\n", stamps[i], sizes[i]);
  fclose(f);
}
EOF
gcc -shared -fPIC -O2 -o "$work/write_times.so" "$work/write_times.c" -ldl

# Own sound server unless one is given.
if [ -z "${PULSE_SERVER:-}" ]; then
  server_dir="$work/pulse"
  eval "$("$root/scripts/test_audio_server.sh" start "$server_dir")"
fi

sox -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth "$((seconds + 5))" sine 440 vol 0.2

# The load: a clean build of the whole program on every core, without the compiler cache,
# started again whenever it finishes before the measurement does. Its own session, so that the
# whole build stops with it.
cat >"$work/load.sh" <<EOF
while :; do
  rm -rf "$work/load-build"
  cmake -S "$root" -B "$work/load-build" -G Ninja >/dev/null 2>&1
  CCACHE_DISABLE=1 cmake --build "$work/load-build" -j "$(nproc)" >/dev/null 2>&1
done
EOF
setsid bash "$work/load.sh" &
load_pid=$!
sleep 5  # let the build reach full load

export HOME="$work/home" XDG_DATA_HOME="$work/home/data" XDG_STATE_HOME="$work/home/state"
mkdir -p "$HOME"
load_before=$(cut -d' ' -f1 /proc/loadavg)
result=$(VELDMIX_WRITE_TIMES="$work/times.txt" LD_PRELOAD="$work/write_times.so" \
         "$tool" play "$work/tone.wav" --seconds "$seconds" --decks 4 --device veldmix_test)
load_after=$(cut -d' ' -f1 /proc/loadavg)

echo "veldmix master output, $seconds s, four decks, $(nproc) cores, load average $load_before -> $load_after"
echo "$result"
python3 - "$work/times.txt" <<'EOF'
import statistics, sys
rows = [line.split() for line in open(sys.argv[1])]
times = [float(r[0]) for r in rows]
sizes = [int(r[1]) for r in rows]
# The first writes fill the device buffer; intervals count from the third write on.
intervals = sorted((times[i + 1] - times[i]) * 1000.0 for i in range(2, len(times) - 1))
n = len(intervals)
def q(p): return intervals[min(n - 1, int(p * n))]
print(f"writes: {len(times)}, bytes per write (median): {statistics.median(sizes):.0f}")
print(f"interval between writes, ms: median {q(0.5):.3f}  p5 {q(0.05):.3f}  p95 {q(0.95):.3f}  "
      f"p99 {q(0.99):.3f}  max {intervals[-1]:.3f}  stdev {statistics.pstdev(intervals):.3f}")
print(f"intervals over 15 ms: {sum(1 for v in intervals if v > 15.0)}, over 21 ms: {sum(1 for v in intervals if v > 21.0)}")
EOF
