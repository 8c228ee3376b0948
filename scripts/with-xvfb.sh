#!/usr/bin/env bash
# Runs a command on a virtual X server of its own and stops the server after.
# Usage: scripts/with-xvfb.sh COMMAND [ARGUMENT]...
# The server picks a free display number itself (-displayfd), so that several
# runs at once, as ctest -j makes them, never race for the same one.
set -u

command -v Xvfb >/dev/null || { echo "with-xvfb: Xvfb is missing (Debian: xvfb)" >&2; exit 127; }
state=$(mktemp -d)
Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$state/display" 2>"$state/log" &
server=$!
stop() {
  kill "$server" 2>/dev/null
  wait "$server" 2>/dev/null
  rm -rf "$state"
}
trap stop EXIT
for _ in $(seq 200); do
  [ -s "$state/display" ] && break
  kill -0 "$server" 2>/dev/null || break
  sleep 0.05
done
if [ ! -s "$state/display" ]; then
  echo "with-xvfb: the X server did not start:" >&2
  cat "$state/log" >&2
  exit 127
fi
export DISPLAY=":$(head -n 1 "$state/display")"
unset WAYLAND_DISPLAY
"$@"
