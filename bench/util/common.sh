# What the command benches share; sourced from the repository root.
#   bench_build BUILD: builds VelmarUtil in the release preset when BUILD has none.
#   timed CMD...: the wall time of CMD in seconds, the disk synced first.
#   ratio A B: A / B with two decimals.
bench_build() {
  if [ ! -x "$1/util/VelmarUtil" ]; then
    cmake --preset release >/dev/null
    cmake --build --preset release -j3 --target VelmarUtil
  fi
}
now() { date +%s.%N; }
timed() {
  sync
  local start end
  start=$(now)
  "$@" >/dev/null
  end=$(now)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f", b - a }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
