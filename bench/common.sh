# Sourced by the script benches, from the repository root.

# Builds the release targets named (VelmarUtil, VAConverter, VArchiveDriver or
# a bench tool) into BUILD unless each is there already.
ensure_built() {
  local build=$1 target path missing=()
  shift
  for target in "$@"; do
    case $target in
      VelmarUtil) path=$build/util/VelmarUtil ;;
      VAConverter | VArchiveDriver) path=$build/tools/$target ;;
      *) path=$build/bench/$target ;;
    esac
    [ -x "$path" ] || missing+=("$target")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    cmake --preset release >/dev/null
    cmake --build --preset release -j3 --target "${missing[@]}"
  fi
}

# Sets `work` to a fresh scratch folder, removed at exit unless KEEP is set.
make_work() {
  work=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")
  trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
}

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
# The smaller of a best so far (empty at first) and a new time.
least() {
  if [ -z "$1" ] || awk -v t="$2" -v b="$1" 'BEGIN { exit !(t < b) }'; then echo "$2"; else echo "$1"; fi
}
# The shortest wall time of $runs runs of "$@".
best() {
  local best=""
  for _ in $(seq "$runs"); do best=$(least "$best" "$(timed "$@")"); done
  echo "$best"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# Makes sure the reference tool COMMAND is on PATH, installing its Debian
# PACKAGE as scripts/setup does (apt-get as root, else the command to run).
need_tool() {
  local command=$1 package=$2
  command -v "$command" >/dev/null && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "$command is missing: sudo apt-get install -y $package" >&2
    exit 1
  fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$package" >/dev/null ||
    { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$package" >/dev/null; }
  command -v "$command" >/dev/null || { echo "$command is missing (Debian package $package)" >&2; exit 1; }
}

# Prints one figure as the line scripts/bench gathers into its table:
# RATIO, what the user does, the reference, reference time / our time.
print_ratio() {
  printf 'RATIO\t%s\t%s\t%s\n' "$1" "$2" "$(ratio "$4" "$3")"
}
