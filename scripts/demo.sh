#!/usr/bin/env bash
# Installs what is missing, builds, makes a demo disk image and runs the main job on it: with a display,
# the window opens on the image; without one, the free space of both partitions is wiped and the
# listing afterwards shows the volumes and their files are still there.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
img=demo/demo.img
"${as_root[@]}" scripts/make-demo-image.sh "$img"
bin=${BUILD_DIR:-build}/kelvane
"$bin" --drive "$img" list
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    exec "$bin" --drive "$img"
fi
echo
echo "deleted text still on the image before: FAT $(grep -a -c SECRET-FAT-RESIDUE "$img" || true) lines, NTFS $(grep -a -c SECRET-NTFS-RESIDUE "$img" || true) lines"
"$bin" --drive "$img" wipe-free 0 1,2
echo "deleted text still on the image after:  FAT $(grep -a -c SECRET-FAT-RESIDUE "$img" || true) lines, NTFS $(grep -a -c SECRET-NTFS-RESIDUE "$img" || true) lines"
"$bin" --drive "$img" list
echo "files kept on the FAT volume:"
mdir -i "$img@@1048576" -/ -b ::/
