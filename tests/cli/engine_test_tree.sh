# Sourced by the engine tests: a tree of small 32-bit TGA and BMP files in
# which several sources share a target name (a.bmp and a.tga both become
# a.png), and the helpers that compare a farm's files with one run's.

# make_tree DIR: 3 folders of 12 files each, every third name shared by a
# TGA and a BMP of different pixels.
make_tree() {
  /usr/bin/env python3 - "$1" <<'PY'
import os, struct, sys
root = sys.argv[1]
def tga(path, seed):
    header = struct.pack("<BBBHHBHHHHBB", 0, 0, 2, 0, 0, 0, 0, 0, 6, 5, 32, 8)
    open(path, "wb").write(header + bytes((i * 7 + seed) & 255 for i in range(6 * 5 * 4)))
def bmp(path, seed):
    pixels = bytes((i * 11 + seed) & 255 for i in range(6 * 5 * 4))
    info = struct.pack("<IiiHHIIiiII", 40, 6, 5, 1, 32, 0, len(pixels), 0, 0, 0, 0)
    open(path, "wb").write(b"BM" + struct.pack("<IHHI", 54 + len(pixels), 0, 0, 54) + info + pixels)
for folder in range(3):
    path = os.path.join(root, "f%d" % folder)
    os.makedirs(path)
    for i in range(12):
        tga(os.path.join(path, "t%02d.tga" % i), folder * 40 + i)
        if i % 3 == 0:
            bmp(os.path.join(path, "t%02d.bmp" % i), folder * 40 + i + 1)
PY
}

# fail TEXT...: the test fails, showing the end of every log in $work.
fail() {
  echo "FAIL: $*"
  for log in "$work"/*.log; do echo "--- $log"; tail -n 20 "$log"; done
  exit 1
}

# prepare_farm CLI WORK: WORK/once converted by one sequential run, WORK/farm
# the same tree untouched, and WORK/work.lst its sources (--list -0).
prepare_farm() {
  make_tree "$2/once"
  cp -a "$2/once" "$2/farm"
  "$1" -q -j 1 --to .png "$2/once" || fail "the sequential run failed"
  "$1" --list -0 --to .png "$2/farm" > "$2/work.lst" || fail "--list failed"
}

# same_outputs A B: the PNG files under A and B are the same, byte for byte.
same_outputs() {
  local a b
  a=$(cd "$1" && find . -name '*.png' -type f | sort)
  b=$(cd "$2" && find . -name '*.png' -type f | sort)
  [ "$a" = "$b" ] || { echo "different files: $(diff <(echo "$a") <(echo "$b") | head -5)"; return 1; }
  [ -n "$a" ] || { echo "no file was written"; return 1; }
  local f
  for f in $a; do cmp -s "$1/$f" "$2/$f" || { echo "different bytes: $f"; return 1; }; done
}

# once REPORT...: every source is in the reports once, and converted.
once() {
  local twice
  twice=$(cat "$@" | sed -n 's/^{"source": "\([^"]*\)".*/\1/p' | sort | uniq -d)
  [ -z "$twice" ] || { echo "converted twice: $twice"; return 1; }
  ! grep -v '"outcome": "converted"' "$@" || { echo "entries not converted (above)"; return 1; }
}
