#!/usr/bin/env bash
# The caption a window manager shows for the window, read from the X server:
# Qt's X11 backend appends the application's display name to every title it
# writes, so only the properties themselves prove the caption.
# Usage: window_caption_test.sh TAMBERLIT
# Exits 77 (skipped) when Xvfb, xdotool or xprop is missing.
set -u

program=$1

if [ "${TAMBERLIT_CAPTION_INNER:-}" != 1 ]; then
  for tool in Xvfb xdotool xprop; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
  done
  export TAMBERLIT_CAPTION_INNER=1
  exec "$(dirname "$0")/../../scripts/with-xvfb.sh" "$0" "$@"
fi

# From here on we run on the virtual display.
export QT_QPA_PLATFORM=xcb
log=$(mktemp)
"$program" >"$log" 2>&1 &
app_pid=$!
trap 'kill "$app_pid" 2>/dev/null; wait 2>/dev/null; rm -f "$log"' EXIT

window=$(timeout 20 xdotool search --sync --onlyvisible --classname tamberlit | head -n 1)
if [ -z "$window" ]; then
  echo "FAIL: the window did not appear; it said:"
  cat "$log"
  exit 1
fi
status=0
for property in _NET_WM_NAME WM_NAME; do
  # -notype: the line reads the same whichever string type Qt writes.
  seen=$(LC_ALL=C.UTF-8 xprop -id "$window" -notype "$property")
  if [ "$seen" = "$property = \"Tamberlit\"" ]; then
    echo "PASS: $seen"
  else
    echo "FAIL: $seen"
    status=1
  fi
done
exit "$status"
