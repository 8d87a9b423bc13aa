#!/usr/bin/env bash
# Times `validate` of 5,000 installed generated assets, run from one batch
# file, against `cat` of their installed configs, one run each, and prints
# the ratio. Half the assets carry a texture description with its image, so
# the texture check reads files too.
#   bench/util/validate.sh [build folder, default build/release]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/release}
. bench/common.sh
ensure_built "$build" VelmarUtil
count=5000

make_work validate-bench
scripts/sample-install "$work/inst" "$build" >/dev/null
util="$work/inst/bin/VelmarUtil"

/usr/bin/python3 - "$work/assets" "$count" <<'PY'
import pathlib, struct, sys
root = pathlib.Path(sys.argv[1])
count = int(sys.argv[2])
# A 64 x 64 24-bit TGA.
tga = bytes([0, 0, 2]) + bytes(9) + struct.pack("<HHBB", 64, 64, 24, 0) + bytes(64 * 64 * 3)
for n in range(count):
    folder = root / ("asset%05d" % n)
    folder.mkdir(parents=True)
    (folder / "config.txt").write_bytes(
        ('kuid <kuid:414141:%d>\r\nkind "scenery"\r\nusername "bench asset %d"\r\n'
         'velmar-build 3.1\r\ncategory-region "AU"\r\ndescription "Generated for the validation bench."\r\n'
         'height-range "1,2"\r\n' % (n + 1, n)).encode())
    if n % 2 == 0:
        (folder / "wall.tga").write_bytes(tga)
        (folder / "wall.texture.txt").write_bytes(b"Primary=wall.tga\r\n")
PY

"$util" installfrompath "$work/assets" >/dev/null
# Installed assets stay open for edit; validation takes committed ones.
for n in $(seq "$count"); do printf 'commit <kuid:414141:%d>\n' "$n"; done > "$work/commit.txt"
"$util" "@$work/commit.txt" >/dev/null || true
for n in $(seq "$count"); do printf 'validate <kuid:414141:%d>\n' "$n"; done > "$work/validate.txt"
find "$work/inst/local" -name config.txt > "$work/configs.txt"
installed=$(wc -l < "$work/configs.txt")
[ "$installed" = "$count" ] || { echo "$installed of $count assets installed locally"; exit 1; }

cat_configs() { xargs -d '\n' cat < "$work/configs.txt"; }

"$util" "@$work/validate.txt" > "$work/validate.out"
grep -q '^OK (0 Errors, 0 Warnings)$' "$work/validate.out" || { tail -5 "$work/validate.out"; exit 1; }
validate=$(timed "$util" "@$work/validate.txt")
reference=$(timed cat_configs)
printf 'validate x%d (one batch)   %.3f s   cat of the configs %.3f s   ratio %s\n' "$count" "$validate" "$reference" \
  "$(ratio "$validate" "$reference")"
