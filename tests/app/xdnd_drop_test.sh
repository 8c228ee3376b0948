#!/usr/bin/env bash
# A real drag from another program onto the window, the way a file manager
# makes one: a GTK 3 drag source offers a 32-bit TGA file over XDND as
# text/uri-list, xdotool presses on it and moves the pointer onto the window
# on a virtual X server, and the PNG beside the source must appear.
# Usage: xdnd_drop_test.sh TAMBERLIT XDND_DRAG_SOURCE
# Exits 77 (skipped) when Xvfb, xdotool or the GTK bindings are missing.
set -u

program=$1
drag_source=$2

skip() {
  echo "skipped: $*"
  exit 77
}

if [ "${TAMBERLIT_XDND_INNER:-}" != 1 ]; then
  command -v Xvfb >/dev/null || skip "Xvfb is missing (Debian: xvfb)"
  command -v xdotool >/dev/null || skip "xdotool is missing"
  [ -f "$drag_source" ] || skip "no drag source at $drag_source"
  /usr/bin/python3 -c 'import gi; gi.require_version("Gtk", "3.0"); from gi.repository import Gtk' 2>/dev/null ||
    skip "python3-gi or gir1.2-gtk-3.0 is missing"
  export TAMBERLIT_XDND_INNER=1
  exec "$(dirname "$0")/../../scripts/with-xvfb.sh" "$0" "$@"
fi

# From here on we run on the virtual display.
export QT_QPA_PLATFORM=xcb
work=$(mktemp -d)
app_pid=
source_pid=
cleanup() {
  [ -n "$source_pid" ] && kill "$source_pid" 2>/dev/null
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  echo "--- drag source said:"
  cat "$work/source.log" 2>/dev/null
  echo "--- window said:"
  cat "$work/window.log" 2>/dev/null
  exit 1
}

# A 2 x 2 TGA, type 2, 32 bits per pixel, top-left origin, varying alpha.
/usr/bin/python3 - "$work/picture.tga" <<'PY'
import struct, sys
header = struct.pack("<BBBHHBHHHHBB", 0, 0, 2, 0, 0, 0, 0, 0, 2, 2, 32, 0x28)
pixels = bytes([10, 20, 30, 0, 40, 50, 60, 85, 70, 80, 90, 170, 100, 110, 120, 255])
open(sys.argv[1], "wb").write(header + pixels)
PY

"$program" >"$work/window.log" 2>&1 &
app_pid=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --classname tamberlit | head -n 1)
[ -n "$window" ] || fail "the window did not appear"
eval "$(xdotool getwindowgeometry --shell "$window")"
target_x=$((X + WIDTH / 2))
target_y=$((Y + HEIGHT / 2))

/usr/bin/python3 "$drag_source" --at 20,20 --timeout 30 "$work/picture.tga" >"$work/source.log" 2>&1 &
source_pid=$!
for _ in $(seq 100); do
  grep -q '^ready ' "$work/source.log" && break
  sleep 0.1
done
read -r _ _ source_x source_y source_w source_h < <(grep '^ready ' "$work/source.log")
[ -n "${source_h:-}" ] || fail "the drag source did not come up"

# Press on the source, move past the drag threshold and on to the window in
# steps (each motion is an XDND position message), then release over it.
xdotool mousemove $((source_x + source_w / 2)) $((source_y + source_h / 2))
sleep 0.3
xdotool mousedown 1
for step in $(seq 1 12); do
  xdotool mousemove $((source_x + source_w / 2 + (target_x - source_x - source_w / 2) * step / 12)) \
                    $((source_y + source_h / 2 + (target_y - source_y - source_h / 2) * step / 12))
  sleep 0.1
done
sleep 0.3
xdotool mouseup 1

source_status=0
wait "$source_pid" || source_status=$?
source_pid=
grep -q '^data text/uri-list 1' "$work/source.log" || fail "the window never asked for the dragged URIs"
grep -q '^end copy' "$work/source.log" || fail "the drop did not end as a copy"
[ "$source_status" -eq 0 ] || fail "the drag source reports that no target took the data"

for _ in $(seq 100); do
  [ -s "$work/picture.png" ] && break
  sleep 0.1
done
[ -s "$work/picture.png" ] || fail "no picture.png was written"
[ "$(head -c 8 "$work/picture.png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] ||
  fail "picture.png is not a PNG file"
kill -0 "$app_pid" 2>/dev/null || fail "the window is gone after the drop"
echo "drag source said:"
cat "$work/source.log"
echo "PASS: the drop from the GTK drag source wrote picture.png"
