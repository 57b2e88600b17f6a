#!/usr/bin/env bash
# Builds a demo disk image: an MBR with a FAT32 primary partition and an extended partition holding an
# NTFS logical partition, files in both, and deleted files whose contents still lie in the free space.
# Usage: make-demo-image.sh IMAGE        (needs root for the loop device and the ntfs-3g mount)
set -euo pipefail
img=${1:?usage: make-demo-image.sh IMAGE}
work=$(mktemp -d)
loop=""
cleanup() {
    if mountpoint -q "$work/mnt" 2>/dev/null; then umount "$work/mnt"; fi
    if [ -n "$loop" ]; then losetup -d "$loop"; fi
    rm -rf "$work"
}
# N bytes of a repeated line (yes ends by SIGPIPE, which pipefail would count as a failure)
fill() { yes "$1" | head -c "$2" || true; }
trap cleanup EXIT

mkdir -p "$(dirname "$img")" "$work/mnt"
rm -f "$img"
truncate -s 160M "$img"
# type 0x05 for the extended entry, as Linux fdisk writes it
sfdisk -q "$img" <<'TABLE'
label: dos
start=2048, size=80MiB, type=c, bootable
start=, type=5
start=, size=70MiB, type=7
TABLE

fat_start=2048
ntfs_start=$(sfdisk -d "$img" | awk '/type=7/ { gsub(",", "", $4); print $4 }')
ntfs_sectors=$(sfdisk -d "$img" | awk '/type=7/ { gsub(",", "", $6); print $6 }')

# FAT32 needs 65,525 clusters at least: one sector per cluster on 80 MiB gives enough.
mkfs.fat -F 32 -s 1 -n KELVANEFAT --offset "$fat_start" "$img" $((80 * 1024)) >/dev/null 2>&1
fat="$img@@$((fat_start * 512))"
for n in 1 2 3; do
    fill "kelvane demo kept file $n" $((40000 * n)) >"$work/keep$n.txt"
    fill "SECRET-FAT-RESIDUE-$n" $((30000 * n)) >"$work/secret$n.txt"
done
mmd -i "$fat" ::/docs
mcopy -i "$fat" "$work/secret1.txt" "$work/keep1.txt" "$work/secret2.txt" ::/
mcopy -i "$fat" "$work/keep2.txt" "$work/secret3.txt" "$work/keep3.txt" ::/docs/
mdel -i "$fat" ::/secret1.txt ::/secret2.txt ::/docs/secret3.txt

loop=$(losetup -f --show -o $((ntfs_start * 512)) --sizelimit $((ntfs_sectors * 512)) "$img")
mkntfs -Q -F -q -L KELVANENTFS -p "$ntfs_start" -H 255 -S 63 "$loop" >/dev/null
ntfs-3g "$loop" "$work/mnt"
mkdir "$work/mnt/报告"
for n in 1 2 3; do
    fill "kelvane demo kept NTFS file $n" $((50000 * n)) >"$work/mnt/报告/keep$n.txt"
    fill "SECRET-NTFS-RESIDUE-$n" $((60000 * n)) >"$work/mnt/secret$n.txt"
done
sync
rm "$work/mnt/secret1.txt" "$work/mnt/secret2.txt" "$work/mnt/secret3.txt"
umount "$work/mnt"
echo "demo image: $img"
