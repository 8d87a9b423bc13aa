#!/usr/bin/env bash
# Times `VelmarUtil compresstexture` on a fresh installation against
# `nvcompress -bc1 -nomips -nocuda` (libnvtt-bin) on the same generated
# 32-bit TGA, DXT1 without mip maps, at 512, 1024 and 2048 pixels a side
# (SIZES), best of RUNS each (default 3). Both must write the same DXT1
# blocks. Prints the times and one RATIO line per size (nvcompress time /
# our time; 1 or more is at or ahead).
#   bench/texture/compress.sh [build folder, default build/release]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/release}
runs=${RUNS:-3}
sizes=${SIZES:-512 1024 2048}
. bench/common.sh
ensure_built "$build" VelmarUtil
need_tool nvcompress libnvtt-bin

make_work texture-bench
scripts/sample-install "$work/inst" "$build" >/dev/null
program=$work/inst/bin/VelmarUtil

# Ramps, a block-misaligned checker and an alpha ramp, rows from the bottom.
write_tga() {
  /usr/bin/python3 - "$1" "$2" <<'PY'
import struct, sys
side, path = int(sys.argv[1]), sys.argv[2]
ramp = bytes(x * 255 // (side - 1) for x in range(side))
checker = bytes(220 if ((x + 3) // 6) % 2 else 30 for x in range(side))
other = bytes(30 if ((x + 3) // 6) % 2 else 220 for x in range(side))
rows = []
for y in range(side):
    row = bytearray(side * 4)
    row[0::4] = checker if (y // 5) % 2 == 0 else other
    row[1::4] = bytes([y * 255 // (side - 1)]) * side
    row[2::4] = ramp
    row[3::4] = bytes((x + y) * 255 // (2 * side - 2) for x in range(side))
    rows.append(bytes(row))
with open(path, "wb") as out:
    out.write(struct.pack("<BBBHHBHHHHBB", 0, 0, 2, 0, 0, 0, 0, 0, side, side, 32, 8))
    out.write(b"".join(rows))
PY
}

# The DXT1 blocks of our texture file (its "TXDT" chunk's image after slice,
# level, width, height and byte count) and of the DDS file (after its
# 128-byte header) must be the same bytes.
same_blocks() {
  /usr/bin/python3 - "$1" "$2" <<'PY'
import struct, sys
ours = open(sys.argv[1], "rb").read()
at = ours.find(b"TXDT")
count = struct.unpack_from("<I", ours, at + 28)[0]
theirs = open(sys.argv[2], "rb").read()[128:]
sys.exit(0 if ours[at + 32:at + 32 + count] == theirs else 1)
PY
}

convert() { "$program" compresstexture "$1"; }

for side in $sizes; do
  # Under the installation, which names the textures it converts relative to its root.
  folder=$work/inst/textures/bench$side
  mkdir -p "$folder"
  write_tga "$side" "$folder/image.tga"
  printf 'Primary=image.tga\r\nFileCompression=dxt1\r\nAutoMip=none\r\n' >"$folder/image.texture.txt"
  convert "$folder" >/dev/null
  nvcompress -bc1 -nomips -nocuda "$folder/image.tga" "$folder/image.dds" >/dev/null
  blocks=different
  same_blocks "$folder/image.texture" "$folder/image.dds" && blocks=identical

  ours=$(best convert "$folder")
  theirs=$(best nvcompress -bc1 -nomips -nocuda "$folder/image.tga" "$folder/image.dds")
  printf '%dx%d DXT1: compresstexture %.3f s (%d bytes), nvcompress %.3f s (%d bytes), blocks %s\n' "$side" "$side" \
    "$ours" "$(stat -c %s "$folder/image.texture")" "$theirs" "$(stat -c %s "$folder/image.dds")" "$blocks"
  print_ratio "compresstexture DXT1 ${side}x${side}" "nvcompress -bc1 -nomips" "$ours" "$theirs"
done
