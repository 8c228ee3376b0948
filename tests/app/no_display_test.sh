#!/usr/bin/env bash
# The window program started where there is no display (over ssh, in a
# container) must say so in one line on stderr, with the ways on, and exit 1
# rather than end in Qt's abort.
# Usage: no_display_test.sh TAMBERLIT
set -u

ulimit -c 0  # an abort must not leave a core file in the build folder
out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
fail() {
  echo "FAIL: $*"
  echo "--- stderr:"
  cat "$err"
  echo "--- stdout:"
  cat "$out"
  exit 1
}

status=0
env -i "$1" >"$out" 2>"$err" </dev/null || status=$?
[ "$status" -eq 1 ] || fail "exit status $status, not 1"
[ ! -s "$out" ] || fail "it wrote on stdout"
[ "$(wc -l <"$err")" -eq 1 ] || fail "stderr holds not exactly one line"
for way in 'xvfb-run make run' 'make run ARGS="--help"'; do
  grep -qF -- "$way" "$err" || fail "the line does not name $way"
done
echo "PASS: $(cat "$err")"
