#!/usr/bin/env bash
# Installs the Debian 12 packages Kelvane builds, tests and runs with, skipping those already there.
set -euo pipefail
packages=(
    build-essential cmake pkg-config clang-format
    qt6-base-dev libgl-dev libblkid-dev libgtest-dev googletest
    dosfstools ntfs-3g fdisk mtools util-linux e2fsprogs
    fonts-noto-cjk xvfb xauth
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
"${as_root[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q "${missing[@]}"
