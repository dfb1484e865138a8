#!/usr/bin/env bash
# Key accuracy of Veldmix beside Essentia's KeyExtractor (temperley, krumhansl, edma and bgate
# profiles), in one run on two corpora: the synthetic key corpus, then the real-music corpus
# (tunes written by people, rendered from MIDI with two soundfonts by bench/real_corpus.py into a
# cache folder, built once), where the beat phase is scored beside Essentia's RhythmExtractor2013
# and aubio too. Installs essentia.js next to its scripts when missing. Prints the tables of exact,
# relative, fifth above and below, parallel and other answers and the MIREX score.
#   bench/key_corpus.sh BUILD_DIR      (VELDMIX_KEY_VERBOSE=1 lists every piece;
#                                       VELDMIX_REAL_CORPUS names the cache folder)
set -euo pipefail
build="$(cd "${1:?build folder}" && pwd)"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
peers="$here/key_peers"
cache="${VELDMIX_REAL_CORPUS:-${XDG_CACHE_HOME:-$HOME/.cache}/veldmix-real-corpus}"
if [[ ! -d "$peers/node_modules/essentia.js" ]]; then
  (cd "$peers" && npm install --no-audit --no-fund --loglevel=error)
fi
echo "== synthetic key corpus"
VELDMIX_KEY_PEERS="$peers/essentia_keys.js" "$build/bench/veldmix_bench" --benchmark_filter=KeyCorpusBesideEssentia
echo "== real-music corpus ($cache)"
python3 "$here/real_corpus.py" "$cache"
python3 "$here/real_corpus_score.py" "$cache" "$build/veldmix-tool" "$peers"
