#!/usr/bin/env bash
# The update download against curl: starts a loopback HTTPS update site (nginx-light, test CA)
# with 10 MB and 200 MB packages, runs BM_UpdateDownload, times `curl -s URL | sha256sum` on the
# 200 MB package, and reads the peak memory of `veldmix-tool update download` for each size.
#   bench/update_download.sh BUILD_DIR
set -euo pipefail
build="$(cd "${1:?build folder}" && pwd)"
source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
work="$(mktemp -d /tmp/veldmix-update-bench-XXXXXX)"
wait_for() {
  local limit=$(($1 * 10)); shift
  for _ in $(seq 1 "$limit"); do "$@" && return 0; sleep 0.1; done
  return 1
}
cleanup() { kill $(jobs -p) 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
source "$source_dir/tests/support/update_site.sh"
update_site_start "$work" >/dev/null
export SSL_CERT_FILE="$work/ca.crt" XDG_CACHE_HOME="$work/cache"
base="https://127.0.0.1:$update_port"
for mb in 10 200; do
  make_package "$work/p$mb.msi" $((mb * 1000000))
  update_manifest "$work" "p$mb" "p$mb.msi" $((mb * 1000000)) "$(sha256sum <"$work/p$mb.msi" | cut -c1-64)"
  mv "$work/p$mb.msi" "$work/site/p$mb/downloads/veldmix/p$mb.msi"
done

VELDMIX_BENCH_UPDATE_SITE="$base" "$build/bench/veldmix_bench" --benchmark_filter=BM_UpdateDownload
start=$(date +%s.%N)
curl -s --cacert "$work/ca.crt" "$base/p200/downloads/veldmix/p200.msi" | sha256sum >/dev/null
end=$(date +%s.%N)
python3 -c "print('curl | sha256sum, 200 MB: %.0f MB/s' % (200 / ($end - $start)))"
for mb in 10 200; do
  python3 - "$build/veldmix-tool" "$base/p$mb" "$mb" <<'PY'
import resource, subprocess, sys
subprocess.run([sys.argv[1], "update", "download", "--site", sys.argv[2]], check=True, stdout=subprocess.DEVNULL)
print("veldmix-tool update download, %s MB: peak memory %.1f MB"
      % (sys.argv[3], resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024))
PY
done
