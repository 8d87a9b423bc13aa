#!/usr/bin/env bash
# The index file behind every command, in fresh processes on installations of
# 1k, 10k and 100k assets (made by index_bench_tool through the program's own
# index code; SIZES overrides the list):
# - `version` against `version` on an empty installation;
# - `commit` of one asset (installed by installfrompath) against the same in
#   the 1k installation;
# - the index's load and save of 2k, 20k and 200k records (twice the assets)
#   against `cat` + `cp` of the same assets.tdx.
# Each figure is the best of $runs runs; x = reference time / ours.
#   bench/assetdb/index.sh [build folder, default build/release]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/release}
. bench/common.sh
ensure_built "$build" VelmarUtil index_bench_tool
tool=$build/bench/index_bench_tool
sizes=${SIZES:-"1000 10000 100000"}
runs=${RUNS:-3}

make_work index-bench
label() { awk -v n="$1" 'BEGIN { if (n % 1000 == 0) printf "%dk", n / 1000; else printf "%d", n }'; }
report() {  # what, reference, reference time, our time
  local x
  x=$(ratio "$3" "$4")
  printf '%-44s %8.3f s   %-36s %8.3f s   x %s\n' "$1" "$4" "$2" "$3" "$x" >&2
  printf 'RATIO\t%s\t%s\t%s\n' "$1" "$2" "$x"
}

scripts/sample-install "$work/empty" "$build" >/dev/null
"$work/empty/bin/VelmarUtil" version >/dev/null
empty=$(best "$work/empty/bin/VelmarUtil" version)

# One small asset to install and commit, numbered $2, in folder $1.
one_asset() {
  mkdir -p "$1"
  printf 'kuid <kuid:414141:%d>\r\nkind "scenery"\r\nusername "commit bench %d"\r\nvelmar-build 3.5\r\n' \
    "$2" "$2" > "$1/config.txt"
}
# The best of $runs commits of a fresh asset in installation $1.
commit_time() {
  local util=$1/bin/VelmarUtil best="" n
  for n in $(seq "$runs"); do
    one_asset "$work/one-$n" "$n"
    "$util" installfrompath "$work/one-$n" >/dev/null
    best=$(least "$best" "$(timed "$util" commit "<kuid:414141:$n>")")
  done
  echo "$best"
}

commit_base=""
for n in $sizes; do
  inst=$work/inst-$n
  scripts/sample-install "$inst" "$build" >/dev/null
  "$tool" make "$inst" "$n"
  "$inst/bin/VelmarUtil" version >/dev/null
  report "version, $(label "$n") assets" "version, empty installation" "$empty" \
    "$(best "$inst/bin/VelmarUtil" version)"
  ours=$(commit_time "$inst")
  [ -n "$commit_base" ] || commit_base=$ours
  report "commit of one asset, $(label "$n") assets" "commit, $(label "${sizes%% *}") assets" "$commit_base" "$ours"

  records=$((2 * n))
  big=$work/records-$records
  mkdir -p "$big"
  "$tool" records "$big" "$records"
  rm -rf "$inst-samples"
  loadsave=$(best "$tool" loadsave "$big/assets.tdx" "$work/out.tdx")
  # Each save draws a new scrambling seed: the sizes must agree.
  [ "$(stat -c %s "$big/assets.tdx")" = "$(stat -c %s "$work/out.tdx")" ] ||
    { echo "load + save changed the file's size" >&2; exit 1; }
  catcp=$(best sh -c "cat '$big/assets.tdx' >/dev/null && cp '$big/assets.tdx' '$work/copy.tdx'")
  report "index load + save, $(label "$records") records" "cat + cp of assets.tdx" "$catcp" "$loadsave"
  rm -rf "$big" "$inst"
done
