#!/usr/bin/env bash
# Saves a picture of each tab of the window and of the About box, for checking the layout by eye.
# Builds nothing. Usage: screenshots.sh KELVANE_BINARY DEMO_IMAGE OUT_DIR
set -euo pipefail
bin=${1:?usage: screenshots.sh KELVANE_BINARY DEMO_IMAGE OUT_DIR}
image=${2:?usage: screenshots.sh KELVANE_BINARY DEMO_IMAGE OUT_DIR}
out=${3:?usage: screenshots.sh KELVANE_BINARY DEMO_IMAGE OUT_DIR}
command -v xvfb-run >/dev/null || { echo "screenshots.sh: xvfb-run is missing (package xvfb)" >&2; exit 2; }
fc-list :lang=zh family | grep -q . || { echo "screenshots.sh: no CJK font (package fonts-noto-cjk)" >&2; exit 2; }
mkdir -p "$out"
# 96 dpi, as the dialog geometry assumes; the window saves the pictures and closes itself.
KELVANE_SCREENSHOT_DIR=$(realpath "$out") QT_QPA_PLATFORM=xcb \
    xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" "$bin" --drive "$image"
ls "$out"/*.png
