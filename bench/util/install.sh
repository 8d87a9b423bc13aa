#!/usr/bin/env bash
# Times package and folder installs as a user runs them, a fresh VelmarUtil
# each time, at three sizes (SIZES, default "100 1000 10000" assets):
#  - installcdp of a package VelmarUtil wrote (createcdp) into a fresh
#    installation, against `tar xzf` of the same files;
#  - installfrompath of the "local" folder that install made, into another
#    fresh installation, against `cp -r` of that folder.
# Each figure is the best of RUNS (default 3) and also printed as a RATIO line.
# The file system's state moves both sides between runs (ext4 looks past
# recently freed inodes one by one when it makes new ones), so a single run
# can be far off either way.
#   bench/util/install.sh [build folder, default build/release]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/release}
runs=${RUNS:-3}
read -r -a sizes <<<"${SIZES:-100 1000 10000}"
. bench/common.sh
ensure_built "$build" VelmarUtil
make_work install-bench

largest=0
for n in "${sizes[@]}"; do ((n > largest)) && largest=$n; done

# The source assets, installed and committed once into a seed installation
# from which each size's package is exported.
/usr/bin/python3 - "$work/assets" "$largest" <<'PY'
import pathlib, random, sys
root = pathlib.Path(sys.argv[1])
rng = random.Random(1000)
words = "track signal station platform freight engine coach bogey gradient ballast depot siding".split()
for n in range(int(sys.argv[2])):
    art = root / ("group%03d" % (n // 100)) / ("asset%05d" % n) / "art"
    art.mkdir(parents=True)
    (art.parent / "config.txt").write_bytes(
        ('kuid <kuid:414141:%d>\r\nkind "scenery"\r\nusername "bench asset %d"\r\n'
         'velmar-build 3.1\r\ncategory-region "AU"\r\n' % (n + 1, n)).encode())
    (art.parent / "description.html").write_text(" ".join(rng.choice(words) for _ in range(rng.randrange(100, 300))))
    (art / "body.im").write_bytes(rng.randbytes(rng.randrange(2048, 8192)))
    (art / "skin.tga").write_bytes(bytes(18) + rng.randbytes(4096))
PY
scripts/sample-install "$work/seed" "$build" >/dev/null
seed="$work/seed/bin/VelmarUtil"
"$seed" installfrompath "$work/assets" >/dev/null
for n in $(seq "$largest"); do printf 'commit <kuid:414141:%d>\n' "$n"; done >"$work/commit.txt"
"$seed" "@$work/commit.txt" >/dev/null || true

# The best of `runs` of the function "$2" given the run's number, each run
# on a fresh target that "$1" makes untimed from the run's number. Every run
# gets targets of its own, none deleted until the end: ext4 looks past
# freshly freed inodes one by one, which would time the clean-up rather than
# the tools.
best_of() {
  local best="" r
  for r in $(seq "$runs"); do
    "$1" "$r"
    best=$(least "$best" "$(timed "$2" "$r")")
  done
  echo "$best"
}
count() { find "$1" -name config.chump -o -name config.txt | wc -l; }
fresh_cdp() { scripts/sample-install "$work/cdp$n-$1" "$build" >/dev/null; }
run_cdp() { "$work/cdp$n-$1/bin/VelmarUtil" installcdp "$cdp"; }
empty_xzf() { mkdir "$work/xzf$n-$1"; }
run_xzf() { tar xzf "$work/p$n.tgz" -C "$work/xzf$n-$1"; }
fresh_path() { scripts/sample-install "$work/path$n-$1" "$build" >/dev/null; }
run_path() { "$work/path$n-$1/bin/VelmarUtil" installfrompath "$tree"; }
empty_cp() { mkdir "$work/cp$n-$1"; }
run_cp() { cp -r "$tree" "$work/cp$n-$1/local"; }

for n in "${sizes[@]}"; do
  kuids=()
  for k in $(seq "$n"); do kuids+=("<kuid:414141:$k>"); done
  cdp="$work/p$n.cdp"
  "$seed" createcdp "$cdp" "${kuids[@]}" >/dev/null

  install_cdp=$(best_of fresh_cdp run_cdp)
  tree="$work/cdp$n-1/local"
  got=$(count "$tree")
  [ "$got" = "$n" ] || { echo "installcdp installed $got of $n assets"; exit 1; }
  tar czf "$work/p$n.tgz" -C "$tree" .
  xzf=$(best_of empty_xzf run_xzf)

  install_path=$(best_of fresh_path run_path)
  got=$(count "$work/path$n-1/editing")
  [ "$got" = "$n" ] || { echo "installfrompath installed $got of $n assets"; exit 1; }
  copy=$(best_of empty_cp run_cp)

  printf 'installcdp      %6d assets %8.3f s   tar xzf %8.3f s   x %s (goal >= 0.33)\n' \
    "$n" "$install_cdp" "$xzf" "$(ratio "$xzf" "$install_cdp")"
  printf 'installfrompath %6d assets %8.3f s   cp -r   %8.3f s   x %s (goal >= 0.5)\n' \
    "$n" "$install_path" "$copy" "$(ratio "$copy" "$install_path")"
  printf 'RATIO\tinstallcdp of %d assets\ttar xzf\t%s\n' "$n" "$(ratio "$xzf" "$install_cdp")"
  printf 'RATIO\tinstallfrompath of %d assets\tcp -r\t%s\n' "$n" "$(ratio "$copy" "$install_path")"
done
