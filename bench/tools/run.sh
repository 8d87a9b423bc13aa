#!/usr/bin/env bash
# Times VAConverter patchdiff against the plain tools doing the same work, on
# two generated trees of 8 archives (about 320 files each, 200 MB in all, random and
# compressible files, 10 % of the files changed, a few added and removed):
# patchdiff over every archive pair against md5sum of both unpacked trees
# plus bsdiff of each changed pair. One run each; prints both times and the
# ratio.
#   bench/tools/run.sh [build folder, default build/release]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/release}
. bench/common.sh
ensure_built "$build" VelmarUtil VAConverter VArchiveDriver
build=$(cd "$build" && pwd)
driver=$build/tools/VArchiveDriver

make_work patch-bench
scripts/sample-install "$work/inst" "$build" >/dev/null
converter=$work/inst/bin/VAConverter

# old/<archive>/... and new/<archive>/...; changed.txt lists the changed pairs.
/usr/bin/python3 - "$work" <<'PY'
import pathlib, random, sys
root = pathlib.Path(sys.argv[1])
rng = random.Random(29)
words = "track signal station platform freight engine coach bogey gradient ballast depot siding".split()
changed = []
for a in range(8):
    archive = "route%d" % a
    for n in range(40):
        rel = "%s/%s/file%02d.%s" % (archive, ("maps", "art", "sounds", "scripts")[n % 4], n, ("bin", "txt")[n % 2])
        size = rng.choice((20_000, 100_000, 300_000, 600_000, 1_000_000)) + rng.randrange(1000)
        if n % 2:
            data = " ".join(rng.choice(words) for _ in range(size // 6)).encode()[:size]
        else:
            data = rng.randbytes(size)
        new = data
        if rng.random() < 0.10 and n < 38:
            edit = bytearray(data)
            for _ in range(8):
                at = rng.randrange(len(edit))
                edit[at:at + 64] = rng.randbytes(64)
            new = bytes(edit)
            changed.append(rel)
        for side, content in (("old", data), ("new", new)):
            if (side, n) in (("old", 39), ("new", 38)):
                continue  # one file removed, one added per archive
            path = root / side / rel
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(content)
(root / "changed.txt").write_text("".join(c + "\n" for c in changed))
PY
for side in old new; do
  mkdir -p "$work/$side-va"
  for folder in "$work/$side"/*/; do
    name=$(basename "$folder")
    (cd "$folder" && "$driver" -r -k -c a "$work/$side-va/$name.va" '*' >/dev/null)
  done
done

# now, timed (wall time of "$@", the disk synced first) and ratio.
diff_all() {
  for old in "$work/old-va"/*.va; do
    "$converter" patchdiff "$old" "$work/new-va/$(basename "$old")" "$work/sets" || return 1
  done
}
reference() {
  (cd "$work/old" && find . -type f -print0 | xargs -0 md5sum) >/dev/null
  (cd "$work/new" && find . -type f -print0 | xargs -0 md5sum) >/dev/null
  mkdir -p "$work/ref"
  local i=0
  while IFS= read -r rel; do
    bsdiff "$work/old/$rel" "$work/new/$rel" "$work/ref/$i.diff"
    i=$((i + 1))
  done < "$work/changed.txt"
}

files=$(find "$work/old" "$work/new" -type f | wc -l)
bytes=$(du -sb "$work/old" "$work/new" | awk '{ s += $1 } END { printf "%.0f", s / 1048576 }')
echo "trees: $files files, $bytes MB, $(wc -l < "$work/changed.txt") changed pairs"
converted=$(timed diff_all)
plain=$(timed reference)
echo "VAConverter patchdiff: ${converted} s"
echo "md5sum + bsdiff:       ${plain} s"
echo "ratio: $(ratio "$converted" "$plain")x (goal <= 1.2x)"
