#!/usr/bin/env bash
# Takes a picture of the conversion window on a virtual X server (Xvfb), as
# the README shows it.
# Usage: scripts/screenshot.sh [BUILD_FOLDER] [OUTPUT.png]
# Needs xvfb, xdotool, python3-gi and gir1.2-gtk-3.0 (scripts/install-deps.sh gui).
set -eu

build=${1:-build}
output=${2:-docs/screenshot.png}
program=$build/app/tamberlit
[ -x "$program" ] || { echo "screenshot: $program is missing; build first (make build)" >&2; exit 1; }
for tool in Xvfb xdotool /usr/bin/python3; do
  command -v "$tool" >/dev/null || { echo "screenshot: $tool is missing (scripts/install-deps.sh gui)" >&2; exit 1; }
done

if [ "${TAMBERLIT_SCREENSHOT_INNER:-}" != 1 ]; then
  export TAMBERLIT_SCREENSHOT_INNER=1
  exec "$(dirname "$0")/with-xvfb.sh" "$0" "$build" "$output"
fi

# From here on we run on the virtual display.
export QT_QPA_PLATFORM=xcb
"$program" &
window_pid=$!
trap 'kill "$window_pid" 2>/dev/null || true' EXIT
window=$(timeout 20 xdotool search --sync --onlyvisible --classname tamberlit | head -n 1)
sleep 1  # let the first paint finish
eval "$(xdotool getwindowgeometry --shell "$window")"
/usr/bin/python3 - "$X" "$Y" "$WIDTH" "$HEIGHT" "$output" <<'PY'
import sys
import gi
gi.require_version("Gdk", "3.0")
from gi.repository import Gdk
x, y, w, h = (int(v) for v in sys.argv[1:5])
picture = Gdk.pixbuf_get_from_window(Gdk.get_default_root_window(), x, y, w, h)
picture.savev(sys.argv[5], "png", [], [])
PY
echo "screenshot: wrote $output (${WIDTH}x${HEIGHT})"
