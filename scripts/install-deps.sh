#!/usr/bin/env bash
# Installs the Debian packages the build needs, and only those that are missing.
# Usage: scripts/install-deps.sh [build|gui|test|bench|fuzz|all]...
# On a system that is not Debian (or without root) it prints the list and leaves
# installing to the user.
set -eu

# strace and fiu-utils inject write failures into the command line in the
# tests (each such test skips with a message when its tool is missing);
# giflib and Pillow read back the GIF files the command line writes.
build_packages=(cmake make g++ pkg-config libpng-dev libjpeg62-turbo-dev zlib1g-dev
                libgtest-dev libgmock-dev libgif-dev python3-pil strace fiu-utils)
# xvfb, xdotool and xprop (x11-utils) drive the window's tests on a virtual display.
gui_packages=(qt6-base-dev qt6-base-dev-tools libgl-dev fonts-wqy-microhei xvfb xauth xdotool x11-utils
              python3-gi gir1.2-gtk-3.0)
# The engines the farm tests drive for real (a one-node Slurm cluster, GNU
# parallel over a loopback sshd); their services are installed, not started.
test_packages=(slurm-wlm munge parallel openssh-server openssh-client python3)
bench_packages=(libbenchmark-dev libjpeg-turbo-progs time
                imagemagick graphicsmagick libvips-tools)
fuzz_packages=(clang-14 libclang-rt-14-dev)

wanted=()
[ "$#" -eq 0 ] && set -- build
for group in "$@"; do
  case "$group" in
    build) wanted+=("${build_packages[@]}") ;;
    gui)   wanted+=("${gui_packages[@]}") ;;
    test)  wanted+=("${test_packages[@]}") ;;
    bench) wanted+=("${bench_packages[@]}") ;;
    fuzz)  wanted+=("${fuzz_packages[@]}") ;;
    all)   wanted+=("${build_packages[@]}" "${gui_packages[@]}" "${test_packages[@]}" "${bench_packages[@]}"
                  "${fuzz_packages[@]}") ;;
    *) echo "install-deps: unknown group '$group'" >&2; exit 2 ;;
  esac
done

if ! command -v dpkg-query >/dev/null 2>&1 || ! command -v apt-get >/dev/null 2>&1; then
  echo "install-deps: not a Debian system; please install the equivalents of:" >&2
  printf '  %s\n' "${wanted[@]}" >&2
  exit 0
fi

missing=()
for p in "${wanted[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done
[ "${#missing[@]}" -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
    SUDO=(sudo -n)
  else
    echo "install-deps: missing packages (run as root to install them):" >&2
    printf '  %s\n' "${missing[@]}" >&2
    exit 1
  fi
else
  SUDO=()
fi

echo "install-deps: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
# Packages are installed without starting their services (sshd, munged,
# slurmctld would otherwise start system-wide): a policy of our own holds
# them back for the length of the install, where the system has none.
policy=/usr/sbin/policy-rc.d
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' | "${SUDO[@]}" tee "$policy" >/dev/null
  "${SUDO[@]}" chmod 755 "$policy"
  trap '"${SUDO[@]}" rm -f "$policy"' EXIT
fi
# A fresh Debian image has empty package lists.
"${SUDO[@]}" apt-get update -y </dev/null
"${SUDO[@]}" apt-get install -y --no-install-recommends "${missing[@]}" </dev/null
