#!/usr/bin/env bash
# Key accuracy of Veldmix beside Essentia's KeyExtractor (temperley, krumhansl, edma and bgate
# profiles) on the synthetic key corpus: installs essentia.js next to its script when missing, then
# prints the table of exact, relative, fifth above and below, parallel and other answers and the
# MIREX score.
#   bench/key_corpus.sh BUILD_DIR      (VELDMIX_KEY_VERBOSE=1 lists every piece)
set -euo pipefail
build="$(cd "${1:?build folder}" && pwd)"
peers="$(cd "$(dirname "${BASH_SOURCE[0]}")/key_peers" && pwd)"
if [[ ! -d "$peers/node_modules/essentia.js" ]]; then
  (cd "$peers" && npm install --no-audit --no-fund --loglevel=error)
fi
VELDMIX_KEY_PEERS="$peers/essentia_keys.js" exec "$build/bench/veldmix_bench" --benchmark_filter=KeyCorpusBesideEssentia
