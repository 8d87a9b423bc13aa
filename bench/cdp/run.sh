#!/usr/bin/env bash
# Times the content-package code against tar and gzip on one generated tree
# of 1,000 small asset folders (a config, text, binary and an image each):
# packing and writing one package against `tar czf`, reading and extracting
# it against `tar xzf`. Prints the two time ratios (best of RUNS each, default
# 3) and the size ratio of the package to the gzip tarball.
#   bench/cdp/run.sh [build folder, default build/release]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/release}
runs=${RUNS:-3}
tool=$build/bench/cdp_bench_tool
. bench/common.sh
ensure_built "$build" cdp_bench_tool
make_work cdp-bench

/usr/bin/python3 - "$work/assets" <<'PY'
import os, random, struct, sys
root = sys.argv[1]
rng = random.Random(1000)
words = ("track signal junction station platform freight engine coach bogey spline "
         "gradient curve ballast sleeper catenary tunnel bridge viaduct depot siding").split()
for n in range(1000):
    folder = os.path.join(root, "asset%04d" % n)
    os.makedirs(os.path.join(folder, "art"))
    def put(name, data):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    put("config.txt", (
        'kuid <kuid:400:%d>\nkind "scenery"\nusername "asset %d"\nvelmar-build 3.1\n'
        'category-class "BR"\ncategory-region "UK"\nkuid-table\n{\n  0 <kuid:400:%d>\n}\n'
        'mesh-table\n{\n  default\n  {\n    mesh "body.pm"\n    auto-create 1\n  }\n}\n'
        % (n + 1, n, rng.randrange(1, 5000))).encode())
    put("description.txt", " ".join(rng.choice(words) for _ in range(rng.randrange(150, 400))).encode())
    vertices = b"".join(struct.pack("<3f", rng.uniform(-5, 5), rng.uniform(0, 3), round(rng.uniform(-9, 9), 1))
                        for _ in range(rng.randrange(300, 900)))
    put("body.pm", b"PMIN" + struct.pack("<I", len(vertices)) + vertices)
    width = 32
    pixels = bytearray()
    for y in range(width):
        shade = rng.randrange(256)
        for x in range(width):
            pixels += bytes((shade, (shade + x) & 255, (shade + y) & 255, 255))
    put("art/skin.tga", bytes(12) + struct.pack("<HHBB", width, width, 32, 8) + bytes(pixels))
    put("art/noise.dat", rng.randbytes(rng.randrange(256, 2048)))
PY

# Wall time of one run of "$@", with "$prepare" run (untimed) before it.
once() {
  local prepare=$1; shift
  eval "$prepare"
  timed "$@"
}

# Each tool's runs alternate with the other's, so that both meet the file
# system in the same state; the best of `runs` each.
pack= czf= extract= xzf=
for _ in $(seq "$runs"); do
  pack=$(least "$pack" "$(once "rm -f '$work/p.cdp'" "$tool" pack "$work/assets" "$work/p.cdp")")
  czf=$(least "$czf" "$(once "rm -f '$work/p.tgz'" tar czf "$work/p.tgz" -C "$work" assets)")
done
# Every extraction goes to a folder of its own, none deleted until the end:
# for half a minute after inodes are freed ext4 looks past them, one by one,
# for a new one, which would time the clean-up rather than the tools.
for n in $(seq "$runs"); do
  extract=$(least "$extract" "$(once "mkdir '$work/x$n'" "$tool" extract "$work/p.cdp" "$work/x$n")")
  xzf=$(least "$xzf" "$(once "mkdir '$work/y$n'" tar xzf "$work/p.tgz" -C "$work/y$n")")
done

files=$(find "$work/assets" -type f | wc -l)
extracted=$(find "$work/x$runs" -type f | wc -l)
[ "$files" = "$extracted" ] || { echo "extracted $extracted of $files files"; exit 1; }
cdp=$(stat -c %s "$work/p.cdp")
tgz=$(stat -c %s "$work/p.tgz")
printf 'tree: 1000 assets, %d files, %d bytes\n' "$files" "$(du -sb "$work/assets" | cut -f1)"
printf 'pack + write   %.3f s   tar czf %.3f s   ratio %s (goal <= 2)\n' "$pack" "$czf" "$(ratio "$pack" "$czf")"
printf 'read + extract %.3f s   tar xzf %.3f s   ratio %s (goal <= 1.5)\n' "$extract" "$xzf" "$(ratio "$extract" "$xzf")"
printf 'size           %d bytes   tgz %d bytes   ratio %s\n' "$cdp" "$tgz" "$(ratio "$cdp" "$tgz")"
