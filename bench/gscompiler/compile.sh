#!/usr/bin/env bash
# Times compiling the generated script of 100,000 lines into a library, once
# through the compiler's library call and once through `VelmarUtil compile`
# on a fresh installation, against `luac5.4 -o` on the Lua script of the same
# line count and shape. Prints lines per second and the time ratios against
# luac (best of RUNS each, default 3); the goal is at least luac's lines per
# second.
#   bench/gscompiler/compile.sh [build folder, default build/release]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/release}
runs=${RUNS:-3}
lines=${LINES_COUNT:-100000}
generator=$build/bench/gsparse_bench_tool
tool=$build/bench/gscompile_bench_tool
. bench/common.sh
ensure_built "$build" gsparse_bench_tool gscompile_bench_tool VelmarUtil
command -v luac5.4 >/dev/null || { echo "luac5.4 is missing (Debian package lua5.4)" >&2; exit 1; }

make_work gscompile-bench
"$generator" generate script "$lines" "$work/bench.gs"
"$generator" generate lua "$lines" "$work/bench.lua"
scripts/sample-install "$work/inst" "$build" >/dev/null

# Each must compile its script, and both ways must write the same library.
"$tool" "$work/bench.gs"
mv "$work/bench.gsl" "$work/call.gsl"
"$work/inst/bin/VelmarUtil" compile "$work/bench.gs" >/dev/null
cmp "$work/call.gsl" "$work/bench.gsl"
luac5.4 -o "$work/bench.luac" "$work/bench.lua"

call=$(best "$tool" "$work/bench.gs")
program=$(best "$work/inst/bin/VelmarUtil" compile "$work/bench.gs")
luac=$(best luac5.4 -o "$work/bench.luac" "$work/bench.lua")
rate() { awk -v n="$lines" -v t="$1" 'BEGIN { printf "%.0f", n / t }'; }
printf 'lines %d: script %d bytes, library %d bytes; lua %d bytes\n' "$lines" "$(stat -c %s "$work/bench.gs")" \
  "$(stat -c %s "$work/bench.gsl")" "$(stat -c %s "$work/bench.lua")"
printf 'library call      %.3f s, %s lines/s, time ratio to luac %s\n' "$call" "$(rate "$call")" "$(ratio "$call" "$luac")"
printf 'VelmarUtil compile %.3f s, %s lines/s, time ratio to luac %s\n' "$program" "$(rate "$program")" "$(ratio "$program" "$luac")"
printf 'luac5.4 -o        %.3f s, %s lines/s\n' "$luac" "$(rate "$luac")"
