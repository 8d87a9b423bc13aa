#!/usr/bin/env bash
# Times `validate` of installed scenery assets that each name one
# 10,000-vertex ".im" (written by mesh_assets_bench_tool through the tests'
# mesh builder), run from one batch file, against `cat` of their installed
# configs and meshes; best of three runs each, at each asset count, with the
# ratio (goal <= 3).
#   bench/util/validate-mesh.sh [build folder, default build/release] [counts, default "100 1000"]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/release}
counts=${2:-100 1000}
. bench/common.sh
ensure_built "$build" VelmarUtil mesh_assets_bench_tool
runs=3

make_work validate-mesh-bench
for count in $counts; do
  inst="$work/inst$count"
  scripts/sample-install "$inst" "$build" >/dev/null
  util="$inst/bin/VelmarUtil"
  "$build/bench/mesh_assets_bench_tool" "$work/assets$count" "$count" >/dev/null
  "$util" installfrompath "$work/assets$count" >/dev/null
  rm -rf "$work/assets$count"
  # Installed assets stay open for edit; validation takes committed ones.
  for n in $(seq "$count"); do printf 'commit <kuid:414141:%d>\n' "$n"; done > "$work/commit.txt"
  "$util" "@$work/commit.txt" >/dev/null || true
  for n in $(seq "$count"); do printf 'validate <kuid:414141:%d>\n' "$n"; done > "$work/validate.txt"
  find "$inst/local" -name config.txt -o -name body.im > "$work/files.txt"
  installed=$(wc -l < "$work/files.txt")
  [ "$installed" = $((2 * count)) ] || { echo "$installed of $((2 * count)) files installed locally"; exit 1; }

  cat_files() { xargs -d '\n' cat < "$work/files.txt"; }

  "$util" "@$work/validate.txt" > "$work/validate.out"
  clean=$(grep -c '^OK (0 Errors, 0 Warnings)$' "$work/validate.out" || true)
  [ "$clean" = "$count" ] || { grep -m5 '^- ' "$work/validate.out"; echo "$clean of $count validated clean"; exit 1; }
  validate=$(best "$util" "@$work/validate.txt")
  reference=$(best cat_files)
  printf 'validate x%d with meshes (one batch)   %.3f s   cat of configs and meshes %.3f s   ratio %s (goal <= 3)\n' \
    "$count" "$validate" "$reference" "$(ratio "$validate" "$reference")"
  print_ratio "validate of $count assets with meshes" "cat" "$validate" "$reference"
  rm -rf "$inst" "$inst-samples"
done
