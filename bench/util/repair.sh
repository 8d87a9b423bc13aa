#!/usr/bin/env bash
# Times `repairdatabase` over 5,000 installed generated assets against `cat`
# of their configs, one run each, and prints the ratio. The assets come into
# the measured installation through a package, as the download station's
# do, so their local folders hold binary configs.
#   bench/util/repair.sh [build folder, default build/release]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/release}
. bench/common.sh
ensure_built "$build" VelmarUtil
count=5000

make_work repair-bench
scripts/sample-install "$work/source" "$build" >/dev/null
scripts/sample-install "$work/inst" "$build" >/dev/null
source_util="$work/source/bin/VelmarUtil"
util="$work/inst/bin/VelmarUtil"

/usr/bin/python3 - "$work/assets" "$count" <<'PY'
import pathlib, random, sys
root = pathlib.Path(sys.argv[1])
rng = random.Random(5000)
for n in range(int(sys.argv[2])):
    art = root / ("asset%05d" % n) / "art"
    art.mkdir(parents=True)
    (art.parent / "config.txt").write_bytes(
        ('kuid <kuid:414141:%d>\r\nkind "scenery"\r\nusername "bench asset %d"\r\n'
         'velmar-build 3.1\r\ncategory-region "AU"\r\n' % (n + 1, n)).encode())
    (art / "body.im").write_bytes(rng.randbytes(rng.randrange(1024, 4096)))
PY

"$source_util" installfrompath "$work/assets" >/dev/null
kuids=()
for n in $(seq "$count"); do
  printf 'commit <kuid:414141:%d>\n' "$n"
  kuids+=("<kuid:414141:$n>")
done > "$work/commit.txt"
"$source_util" "@$work/commit.txt" >/dev/null
"$source_util" createcdp "$work/all.cdp" "${kuids[@]}" >/dev/null
"$util" installcdp "$work/all.cdp" >/dev/null

cat_configs() { find "$work/inst/local" -name 'config.*' -exec cat {} + ; }

installed=$(find "$work/inst/local" -name 'config.*' | wc -l)
[ "$installed" = "$count" ] || { echo "installed $installed of $count assets"; exit 1; }
repair=$(timed "$util" repairdatabase)
plain=$(timed cat_configs)
printf 'repairdatabase of %d assets   %.3f s   cat of their configs %.3f s   ratio %s\n' "$count" "$repair" "$plain" \
  "$(ratio "$repair" "$plain")"
