# Sourced by the VelmarUtil bench scripts.
now() { date +%s.%N; }
# Wall time of "$@", the disk synced first.
timed() {
  sync
  local start end
  start=$(now)
  "$@" >/dev/null
  end=$(now)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f", b - a }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
