#!/usr/bin/env bash
# Times `VelmarUtil compile` on a fresh installation against `luac5.4 -o`,
# on generated scripts of 10,000, 100,000 and 1,000,000 lines (SIZES) and a
# Lua script of the same line count and shape, best of RUNS each (default
# 3). Prints lines per second, the growth from one size to the next, and one
# RATIO line per size (luac time / our time; 1 or more is at or ahead).
#
# The generated script has one function per 11 lines; past about 360,000
# lines it holds more functions than a library can number, so the compile
# checks the whole script and stops in code generation with its error. Both
# ways of compiling must then stop alike.
#   bench/gscompiler/compile.sh [build folder, default build/release]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/release}
runs=${RUNS:-3}
sizes=${SIZES:-10000 100000 1000000}
generator=$build/bench/gsparse_bench_tool
tool=$build/bench/gscompile_bench_tool
. bench/common.sh
ensure_built "$build" gsparse_bench_tool gscompile_bench_tool VelmarUtil
need_tool luac5.4 lua5.4

make_work gscompile-bench
scripts/sample-install "$work/inst" "$build" >/dev/null
program=$work/inst/bin/VelmarUtil

# The compile's exit code tells whether the library could be numbered.
compile() { "$program" compile "$1" || true; }
rate() { awk -v n="$1" -v t="$2" 'BEGIN { printf "%.0f", n / t }'; }

previous=""
for lines in $sizes; do
  "$generator" generate script "$lines" "$work/bench.gs"
  "$generator" generate lua "$lines" "$work/bench.lua"
  # The library call and the program must agree, and luac must accept its script.
  rm -f "$work/bench.gsl" "$work/call.gsl"
  call_out=$("$tool" "$work/bench.gs" || true)
  [ -f "$work/bench.gsl" ] && mv "$work/bench.gsl" "$work/call.gsl"
  program_out=$(compile "$work/bench.gs")
  if [ -f "$work/call.gsl" ]; then
    cmp "$work/call.gsl" "$work/bench.gsl"
    library="library $(stat -c %s "$work/bench.gsl") bytes"
  else
    [ ! -f "$work/bench.gsl" ] && [ -n "$program_out" ] && [ -n "$call_out" ]
    library="no library: $(echo "$program_out" | tr -s '\n' ' ')"
  fi
  luac5.4 -o "$work/bench.luac" "$work/bench.lua"

  ours=$(best compile "$work/bench.gs")
  luac=$(best luac5.4 -o "$work/bench.luac" "$work/bench.lua")
  printf 'lines %d: script %d bytes, %s; lua %d bytes\n' "$lines" "$(stat -c %s "$work/bench.gs")" "$library" \
    "$(stat -c %s "$work/bench.lua")"
  printf '  VelmarUtil compile %.3f s, %s lines/s; luac5.4 -o %.3f s, %s lines/s\n' "$ours" "$(rate "$lines" "$ours")" \
    "$luac" "$(rate "$lines" "$luac")"
  if [ -n "$previous" ]; then
    read -r plines pours pluac <<<"$previous"
    printf '  from %d lines: ours %sx the time, luac %sx\n' "$plines" "$(ratio "$ours" "$pours")" "$(ratio "$luac" "$pluac")"
  fi
  previous="$lines $ours $luac"
  print_ratio "compile of $lines lines" "luac5.4 -o" "$ours" "$luac"
done
