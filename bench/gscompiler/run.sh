#!/usr/bin/env bash
# Times scanning and parsing a generated script of 100,000 lines against
# `luac5.4 -p` (parse only) on a Lua script of the same line count and shape
# from the same generator. Prints the time ratio (best of RUNS each, default
# 5) and the sizes of the two scripts.
#   bench/gscompiler/run.sh [build folder, default build/release]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/release}
runs=${RUNS:-5}
lines=${LINES_COUNT:-100000}
tool=$build/bench/gsparse_bench_tool
. bench/common.sh
ensure_built "$build" gsparse_bench_tool
command -v luac5.4 >/dev/null || { echo "luac5.4 is missing (Debian package lua5.4)" >&2; exit 1; }

make_work gsparse-bench
"$tool" generate script "$lines" "$work/bench.gs"
"$tool" generate lua "$lines" "$work/bench.lua"
[ "$(wc -l <"$work/bench.gs")" -eq "$lines" ] && [ "$(wc -l <"$work/bench.lua")" -eq "$lines" ]
# Both must accept their script, or the timing means nothing.
"$tool" parse "$work/bench.gs"
luac5.4 -p "$work/bench.lua"

ours=$(best "$tool" parse "$work/bench.gs")
theirs=$(best luac5.4 -p "$work/bench.lua")
printf 'lines %d: script %d bytes, lua %d bytes\n' "$lines" "$(stat -c %s "$work/bench.gs")" "$(stat -c %s "$work/bench.lua")"
printf 'parse %.3f s, luac5.4 -p %.3f s, ratio %s\n' "$ours" "$theirs" "$(ratio "$ours" "$theirs")"
