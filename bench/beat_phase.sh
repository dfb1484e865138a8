#!/usr/bin/env bash
# Where the first beat lands (on the beat, off-beat, on a sixteenth, elsewhere, and within 1 ms)
# on the generated dance grooves, beside Essentia's RhythmExtractor2013 and aubio; the real-music
# corpus's beat table is printed by bench/key_corpus.sh.
#   bench/beat_phase.sh BUILD_DIR
set -euo pipefail
build="$(cd "${1:?build folder}" && pwd)"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
peers="$here/key_peers"
if [[ ! -d "$peers/node_modules/essentia.js" ]]; then
  (cd "$peers" && npm install --no-audit --no-fund --loglevel=error)
fi
grooves=$(mktemp -d)
trap 'rm -rf "$grooves"' EXIT
VELDMIX_GROOVE_DIR="$grooves" "$build/bench/veldmix_bench" --benchmark_filter=WritePhaseGrooves >/dev/null
python3 "$here/real_corpus_score.py" "$grooves" "$build/veldmix-tool" "$peers"
