#!/usr/bin/env bash
# Builds the fuzz targets (fuzz/) with clang 14, libFuzzer and the address and
# undefined-behaviour sanitizers in a build folder of their own, replays the
# regression files and the seeds through every target, then fuzzes each
# target for a while, two at a time. Any crash, leak, timeout or memory
# blow-up fails the run (exit status 1); libFuzzer's input is then kept in
# BUILD/artifacts/<target>/.
#
# Usage: scripts/fuzz.sh [--build DIR] [--seconds N] [--jobs N] [--replay-only] [TARGET...]
#   --build DIR     build folder (build-fuzz); the working corpora grow in DIR/corpus/,
#                   the summary (exec/s, cov, ft, corpus) is DIR/fuzz-summary.tsv
#   --seconds N     fuzzing time per target (60); 0 replays only
#   --jobs N        targets fuzzed at once (2)
#   TARGET          bmp tga gif gif_lzw png jpeg round_trip file_names (all by default)
# The public corpus beside the repository (../shared/corpus, or
# $TAMBERLIT_CORPUS_DIR) seeds the readers when it is there.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=build-fuzz
seconds=60
jobs=2
all_targets=(bmp tga gif gif_lzw png jpeg round_trip file_names)
targets=()
while [ "$#" -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    --replay-only) seconds=0; shift ;;
    -h|--help) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "fuzz.sh: unknown option $1" >&2; exit 2 ;;
    *) targets+=("$1"); shift ;;
  esac
done
[ "${#targets[@]}" -eq 0 ] && targets=("${all_targets[@]}")
case "$build" in /*) ;; *) build=$root/$build ;; esac
corpus=${TAMBERLIT_CORPUS_DIR:-$root/../shared/corpus}
[ -d "$corpus" ] || { echo "fuzz.sh: no public corpus at $corpus; seeding from our own files only" >&2; corpus=; }

"$root/scripts/install-deps.sh" fuzz

# ---- build
if [ ! -f "$build/CMakeCache.txt" ]; then
  # -O1 with line tables: quick to build, and the sanitizers' reports still
  # name file and line.
  CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only" \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only" \
    -DTAMBERLIT_FUZZ=ON -DTAMBERLIT_TESTS=OFF -DTAMBERLIT_BENCH=OFF -DTAMBERLIT_GUI=OFF >/dev/null
fi
echo "fuzz: building the targets in $build" >&2
cmake --build "$build" -j "$jobs" --target fuzz_all >"$build/build.log" 2>&1 || { cat "$build/build.log" >&2; exit 1; }
if grep -q 'warning:' "$build/build.log"; then
  grep -A3 'warning:' "$build/build.log" >&2
  echo "fuzz: the clang build has warnings" >&2
  exit 1
fi

# ---- seeds: generated ones are made afresh, committed ones live in fuzz/seeds/
rm -rf "$build/seeds"
gif_files=()
[ -n "$corpus" ] && mapfile -t gif_files < <(find "$corpus/gif" -type f -name '*.gif' | sort)
"$build/fuzz/seed_maker" "$build/seeds" "${gif_files[@]}"

# The folders that seed a target, those that exist.
seed_folders() {
  local target=$1 formats=() folders=() f
  case "$target" in
    round_trip) formats=(bmp tga png gif jpeg) ;;
    *) formats=("$target") ;;
  esac
  for f in "${formats[@]}"; do
    folders+=("$root/fuzz/seeds/$f" "$build/seeds/$f")
    case "$f" in bmp|tga|png|gif|jpeg) [ -n "$corpus" ] && folders+=("$corpus/$f") ;; esac
  done
  for f in "${folders[@]}"; do [ -d "$f" ] && echo "$f"; done
  return 0
}

options=(-rss_limit_mb=2048 -timeout=20)
# Undefined behaviour is reported with the stack that led to it.
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
mkdir -p "$build/logs"
failed=()
checks=0

# ---- replay: every regression file of every target and the target's own
# seeds, each input whole and once.
for target in "${targets[@]}"; do
  binary=$build/fuzz/fuzz_$target
  log=$build/logs/$target.replay.log
  mapfile -t folders < <(seed_folders "$target")
  checks=$((checks + 1))
  count=$( (find "$root/fuzz/regression" "${folders[@]}" -type f ! -name ".*" 2>/dev/null || true) | wc -l)
  if (find "$root/fuzz/regression" "${folders[@]}" -type f ! -name ".*" -print0 2>/dev/null || true) |
       xargs -0 -r "$binary" "${options[@]}" >"$log" 2>&1; then
    printf 'fuzz: replay %-11s %5d inputs  ok\n' "$target" "$count"
  else
    printf 'fuzz: replay %-11s %5d inputs  FAILED (%s)\n' "$target" "$count" "$log"
    grep -E '^(==[0-9]+== ?ERROR|SUMMARY|Running:|fuzz oracle)' "$log" | tail -n 8 | sed 's/^/    /' || true
    failed+=("$target (replay)")
  fi
done

# ---- fuzzing, $jobs targets at a time
run_target() {
  local target=$1 binary=$build/fuzz/fuzz_$target
  local work=$build/corpus/$target artifacts=$build/artifacts/$target/
  local max_len=()
  [ "$target" = file_names ] || max_len=(-max_len=65536)
  mkdir -p "$work" "$artifacts"
  mapfile -t folders < <(seed_folders "$target")
  set +e
  "$binary" "${options[@]}" "${max_len[@]}" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$artifacts" "$work" "${folders[@]}" >"$build/logs/$target.log" 2>&1
  echo $? >"$build/logs/$target.rc"
}

if [ "$seconds" -gt 0 ]; then
  echo "fuzz: fuzzing ${#targets[@]} targets for $seconds s each, $jobs at a time" >&2
  running=0
  for target in "${targets[@]}"; do
    rm -f "$build/logs/$target.rc"
    run_target "$target" &
    running=$((running + 1))
    if [ "$running" -ge "$jobs" ]; then wait -n || true; running=$((running - 1)); fi
  done
  wait || true

  summary=$build/fuzz-summary.tsv
  printf 'target\tresult\texec/s\tcov\tft\tcorp\tfiles\truns\n' >"$summary"
  for target in "${targets[@]}"; do
    log=$build/logs/$target.log
    rc=$(cat "$build/logs/$target.rc" 2>/dev/null || echo 1)
    last=$(grep -E '^#[0-9]+' "$log" | tail -n 1 || true)
    field() { sed -n "s/.* $1 \([^ ]*\).*/\1/p" <<<"$last"; }
    execs=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    corp=$(find "$build/corpus/$target" -type f | wc -l)
    result=ok
    checks=$((checks + 1))
    if [ "$rc" != 0 ]; then
      result=FAILED
      failed+=("$target")
    fi
    printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$target" "$result" "${execs:-?}" "$(field cov:)" "$(field ft:)" \
      "$(field corp:)" "$corp" "${runs:-?}" >>"$summary"
    if [ "$result" = FAILED ]; then
      echo "fuzz: $target failed; log $log, input in $build/artifacts/$target/" >&2
      grep -E '^(==[0-9]+== ?ERROR|SUMMARY|fuzz oracle|artifact_prefix|Test unit written)' "$log" | tail -n 8 | sed 's/^/    /' >&2 || true
    fi
  done
  awk -F'\t' '{ printf "%-11s %-7s %8s %6s %7s %12s %6s %10s\n", $1, $2, $3, $4, $5, $6, $7, $8 }' "$summary"
fi

# One replay and one fuzzing run per target, each a check.
[ "${#failed[@]}" -gt 0 ] && echo "fuzz: FAILED: ${failed[*]}" >&2
echo "fuzz: $((checks - ${#failed[@]})) passed, ${#failed[@]} failed"
[ "${#failed[@]}" -eq 0 ]
