#!/usr/bin/env bash
# Checks that no source file includes a header of a layer its own layer may
# not use: each folder depends only on the ones listed before it in the
# README's layout (image, color, formats/*, convert, then app and cli).
# Usage: scripts/check-layers.sh [ROOT]    (ROOT: the source tree, . by default)
#        scripts/check-layers.sh --self-test
# Exits 1 and names every offending include when there is one.
set -u

# layer: the folders its files may include from (besides its own).
declare -A uses=(
  [image]=""
  [color]="image"
  [formats/tga]="image"
  [formats/png]="image"
  [formats/jpeg]="image"
  [formats/gif]="image color"
  [convert]="image color formats/tga formats/png formats/jpeg formats/gif"
  [app]="image color formats/tga formats/png formats/jpeg formats/gif convert"
  [cli]="image color formats/tga formats/png formats/jpeg formats/gif convert"
)

check() {
  local root=$1 failures=0 layer file target folder allowed
  for layer in "${!uses[@]}"; do
    [ -d "$root/$layer" ] || continue
    while IFS= read -r file; do
      while IFS= read -r target; do
        # A header of the build (version.hpp) or of the file's own folder.
        [[ $target == */* ]] || continue
        folder=${target%/*}
        [ "$folder" = "$layer" ] && continue
        allowed=0
        for use in ${uses[$layer]}; do [ "$folder" = "$use" ] && allowed=1; done
        if [ $allowed = 0 ]; then
          echo "${file#"$root"/}: includes \"$target\", which layer $layer may not use"
          failures=$((failures + 1))
        fi
      done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
    done < <(find "$root/$layer" -maxdepth 1 -type f \( -name '*.cpp' -o -name '*.hpp' \))
  done
  [ $failures = 0 ]
}

if [ "${1:-}" = --self-test ]; then
  # The check must catch a planted include of a higher layer, and pass the
  # same tree without it.
  tree=$(mktemp -d)
  trap 'rm -rf "$tree"' EXIT
  mkdir -p "$tree/image" "$tree/formats/png"
  printf '#include "image/bitmap.hpp"\n#include "version.hpp"\n' > "$tree/formats/png/png.cpp"
  printf '#include "image/stream.hpp"\n' > "$tree/image/limits.cpp"
  check "$tree" > /dev/null || { echo "self-test: a sound tree was refused"; exit 1; }
  printf '#include "formats/png/png.hpp"\n' >> "$tree/image/limits.cpp"
  if check "$tree" > /dev/null; then
    echo "self-test: a planted include of a higher layer was not caught"
    exit 1
  fi
  echo "self-test: ok"
  exit 0
fi

check "${1:-.}"
