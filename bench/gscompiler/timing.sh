# Sourced by the script benches: `best CMD...` prints the shortest wall time,
# in seconds, of $runs runs of the command (its output dropped).
now() { date +%s.%N; }
best() {
  local best="" start end t
  for _ in $(seq "$runs"); do
    start=$(now); "$@" >/dev/null; end=$(now)
    t=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
    best=$(awk -v t="$t" -v b="$best" 'BEGIN { print (b == "" || t < b) ? t : b }')
  done
  echo "$best"
}
