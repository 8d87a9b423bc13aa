#!/usr/bin/env bash
# The download station's costs a user sees:
# - an asset list of N lines (10,000 and 100,000) merged into an index of N
#   records (bench/net/StationListTool.cpp, the work alone) against
#   `gzip -dc` of the same file; best of five each;
# - the wall time of `VelmarUtil version` (its station's worker running to
#   the end) against the same program with the worker stopped before the
#   command (velmarutil_noworker): what the worker costs at shutdown; best of
#   twenty each.
#   bench/net/station.sh [build folder, default build/release]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/release}
. bench/common.sh
ensure_built "$build" station_list_tool velmarutil_noworker VelmarUtil
build=$(cd "$build" && pwd)
tool=$build/bench/station_list_tool
need_tool gzip gzip

make_work station-bench
work=$(cd "$work" && pwd)
runs=5
for count in 10000 100000; do
  list="$work/list$count.gz"
  "$tool" make "$list" "$count"
  ours=""
  for _ in $(seq "$runs"); do
    rm -rf "$work/db" && mkdir -p "$work/db"
    ours=$(least "$ours" "$("$tool" load "$work/db" "$list" "$count")")
  done
  theirs=$(best gzip -dc "$list")
  echo "asset list of $count lines into $count records: LoadAssetList ${ours}s, gzip -dc ${theirs}s"
  print_ratio "LoadAssetList $count lines (merge into $count records)" "gzip -dc" "$ours" "$theirs"
done

scripts/sample-install "$work/inst" "$build" >/dev/null
cp "$build/bench/velmarutil_noworker" "$work/inst/bin/"
"$work/inst/bin/VelmarUtil" version >/dev/null
runs=20
with=$(best "$work/inst/bin/VelmarUtil" version)
without=$(best "$work/inst/bin/velmarutil_noworker" version)
cost=$(awk -v a="$with" -v b="$without" 'BEGIN { printf "%.1f", (a - b) * 1000 }')
echo "VelmarUtil version: worker running ${with}s, worker stopped at the start ${without}s (shutdown cost ${cost} ms)"
print_ratio "VelmarUtil version with the station worker" "the same without it" "$with" "$without"
