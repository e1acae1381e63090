#!/usr/bin/env bash
# Redraws the pictures in images/ from draw_images.cpp. Run by hand after changing a picture,
# then commit the PNGs; the build uses only the committed files.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
g++ -std=c++17 -O1 -fPIC -o "$work/draw_images" "$here/draw_images.cpp" $(pkg-config --cflags --libs Qt5Gui)
QT_QPA_PLATFORM=offscreen "$work/draw_images" "$here/images"
