#!/usr/bin/env bash
# Installs what is missing, builds the program (optimised, in build/) and starts it; an IMAGE
# given on the command line is opened at start-up.
#   ./run.sh [IMAGE]
set -euo pipefail

image=()
if [ $# -gt 1 ]; then
  echo "usage: ./run.sh [IMAGE]" >&2
  exit 2
fi
if [ $# -eq 1 ]; then
  # Absolute before the working folder changes.
  image=("$(realpath -m -- "$1")")
fi

cd "$(dirname "$0")"
./scripts/install-deps.sh

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run.sh: no display to show the window on (neither DISPLAY nor WAYLAND_DISPLAY is set)." >&2
  echo "Start it from a desktop session, or under a virtual one: xvfb-run -a ./run.sh [IMAGE]" >&2
  exit 1
fi

launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$(dirname "$PWD")}" CCACHE_NOHASHDIR=1
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" >/dev/null
cmake --build build --target kestrine3 kestrine3-crashbox -j "$(nproc)"

exec build/bin/kestrine3 "${image[@]}"
