#!/usr/bin/env bash
# Times VelmarUtil commands against plain tools on the same input, one run
# each, and prints the ratios: `version` start-up x200 against /bin/true x200;
# installfrompath of 1,000 generated assets against `cp -r`; createcdp of
# those 1,000 against `tar czf`; installcdp of the package into a fresh
# installation against `tar xzf`.
#   bench/util/run.sh [build folder, default build/release]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/release}
. bench/common.sh
ensure_built "$build" VelmarUtil

make_work util-bench
scripts/sample-install "$work/inst" "$build" >/dev/null
scripts/sample-install "$work/fresh" "$build" >/dev/null
util="$work/inst/bin/VelmarUtil"

/usr/bin/python3 - "$work/assets" <<'PY'
import pathlib, random, sys
root = pathlib.Path(sys.argv[1])
rng = random.Random(1000)
words = "track signal station platform freight engine coach bogey gradient ballast depot siding".split()
for n in range(1000):
    art = root / ("asset%04d" % n) / "art"
    art.mkdir(parents=True)
    (art.parent / "config.txt").write_bytes(
        ('kuid <kuid:414141:%d>\r\nkind "scenery"\r\nusername "bench asset %d"\r\n'
         'velmar-build 3.1\r\ncategory-region "AU"\r\n' % (n + 1, n)).encode())
    (art.parent / "description.html").write_text(" ".join(rng.choice(words) for _ in range(rng.randrange(100, 300))))
    (art / "body.im").write_bytes(rng.randbytes(rng.randrange(2048, 8192)))
    (art / "skin.tga").write_bytes(bytes(18) + rng.randbytes(4096))
PY

repeat200() { for _ in $(seq 200); do "$@"; done; }

"$util" version >/dev/null  # the first run lays out the data folders
start_util=$(timed repeat200 "$util" version)
start_true=$(timed repeat200 /bin/true)

install=$(timed "$util" installfrompath "$work/assets")
copy=$(timed cp -r "$work/assets" "$work/copy")

# Installed assets stay open for edit; the export takes committed ones.
batch="$work/commit.txt"
kuids=()
for n in $(seq 1000); do
  printf 'commit <kuid:414141:%d>\n' "$n"
  kuids+=("<kuid:414141:$n>")
done > "$batch"
"$util" "@$batch" >/dev/null || true

export_cdp=$(timed "$util" createcdp "$work/bench.cdp" "${kuids[@]}")
czf=$(timed tar czf "$work/bench.tgz" -C "$work" assets)

install_cdp=$(timed "$work/fresh/bin/VelmarUtil" installcdp "$work/bench.cdp")
mkdir "$work/untar"
xzf=$(timed tar xzf "$work/bench.tgz" -C "$work/untar")

installed=$(find "$work/fresh/local" -name config.chump -o -name config.txt | wc -l)
[ "$installed" = 1000 ] || { echo "installcdp installed $installed of 1000 assets"; exit 1; }
printf 'version x200      %.3f s   /bin/true x200 %.3f s   ratio %s\n' "$start_util" "$start_true" "$(ratio "$start_util" "$start_true")"
printf 'installfrompath   %.3f s   cp -r   %.3f s   ratio %s (goal <= 3)\n' "$install" "$copy" "$(ratio "$install" "$copy")"
printf 'createcdp         %.3f s   tar czf %.3f s   ratio %s (goal <= 2)\n' "$export_cdp" "$czf" "$(ratio "$export_cdp" "$czf")"
printf 'installcdp        %.3f s   tar xzf %.3f s   ratio %s (goal <= 3)\n' "$install_cdp" "$xzf" "$(ratio "$install_cdp" "$xzf")"
