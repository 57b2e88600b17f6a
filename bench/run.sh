#!/usr/bin/env bash
# Throughput of the erasure jobs against the disk's physical limit, side by side in one run, on a loop
# device over a file on disk (never on a disk of this machine):
#   wipe-disk            against dd if=/dev/zero bs=1M oflag=direct conv=fdatasync on the same device
#   wipe-free FAT32/NTFS against the physical limit (free bytes at dd's throughput), and NTFS also
#                        against ntfswipe --unused on the same image
# Peak memory comes from /usr/bin/time. Needs root.
# Usage: bench/run.sh [BINARY] [SIZE_MiB] [DIR]
set -euo pipefail
bin=$(realpath "${1:-build/kelvane}")
size_mib=${2:-2048}
dir=${3:-/var/tmp}
command -v /usr/bin/time >/dev/null || apt-get install -y -q time >/dev/null
work=$(mktemp -d "$dir/kelvane-bench.XXXXXX")
loop=""
mnt="$work/mnt"
mkdir -p "$mnt"
cleanup() {
    if mountpoint -q "$mnt"; then umount "$mnt"; fi
    if [ -n "$loop" ]; then losetup -d "$loop"; fi
    rm -rf "$work"
}
trap cleanup EXIT
img="$work/disk.img"

seconds() { # runs "$@", prints its wall time in seconds and keeps its peak RSS in $work/rss
    local t0 t1
    t0=$(date +%s.%N)
    /usr/bin/time -f %M -o "$work/rss" "$@" >"$work/out" 2>&1 || { cat "$work/out"; return 1; }
    t1=$(date +%s.%N)
    echo "$t1 - $t0" | bc -l
}
rate() { echo "scale=1; $1 / 1048576 / $2" | bc -l; }
ratio() { echo "scale=2; $1 / $2" | bc -l; }
fill() { # fills folder $1 with files up to $2 bytes
    local i=0 left=$2
    while [ "$left" -gt 0 ]; do
        local n=$(( left < 8388608 ? left : 8388608 ))
        head -c "$n" /dev/urandom >"$1/f$i.bin"
        left=$(( left - n )); i=$(( i + 1 ))
    done
}

truncate -s "${size_mib}M" "$img"
loop=$(losetup -f --show "$img")
bytes=$((size_mib * 1048576))
echo "device: $loop over $img (${size_mib} MiB)"

# An untimed first pass allocates the file's blocks, so both timed runs overwrite the same disk space.
seconds dd if=/dev/zero of="$loop" bs=1M count="$size_mib" oflag=direct conv=fdatasync >/dev/null
t_dd=$(seconds dd if=/dev/zero of="$loop" bs=1M count="$size_mib" oflag=direct conv=fdatasync)
dd_rate=$(echo "$bytes / $t_dd" | bc -l)
t_wd=$(seconds "$bin" --drive "$loop" wipe-disk 0 --yes)
rss_wd=$(cat "$work/rss")
echo
printf '%-28s %10s %10s %8s %10s\n' job seconds "MiB/s" ratio "peak KiB"
printf '%-28s %10.2f %10s %8s %10s\n' "dd 1M direct (limit)" "$t_dd" "$(rate "$bytes" "$t_dd")" 1.00 -
printf '%-28s %10.2f %10s %8s %10s\n' "wipe-disk" "$t_wd" "$(rate "$bytes" "$t_wd")" "$(ratio "$t_dd" "$t_wd")" "$rss_wd"

# One partition over the whole device but its first MiB; the file system half full.
printf 'label: dos\nstart=2048, type=c\n' | sfdisk -q "$loop" 2>/dev/null
losetup -d "$loop"; loop=""
part_bytes=$((bytes - 1048576))
part="$(losetup -f --show -o 1048576 "$img")"
mkfs.fat -F 32 -s 8 "$part" >/dev/null
mmd -i "$part" ::/d
fill_dir="$work/fill"; mkdir -p "$fill_dir"
fill "$fill_dir" $((part_bytes / 2))
mcopy -i "$part" "$fill_dir"/* ::/d/
rm -rf "$fill_dir"
free_fat=$(fsck.fat -n "$part" | sed -nE 's#.* ([0-9]+)/([0-9]+) clusters#\2 - \1#p' | bc)
free_fat=$((free_fat * 4096))
losetup -d "$part"
loop=$(losetup -f --show "$img")
t_fat=$(seconds "$bin" --drive "$loop" wipe-free 0 1)
rss_fat=$(cat "$work/rss")
limit_fat=$(echo "$free_fat / $dd_rate" | bc -l)
printf '%-28s %10.2f %10s %8s %10s\n' "wipe-free FAT32 (half)" "$t_fat" "$(rate "$free_fat" "$t_fat")" \
    "$(ratio "$t_fat" "$limit_fat")x" "$rss_fat"

losetup -d "$loop"; loop=""
part="$(losetup -f --show -o 1048576 --sizelimit "$part_bytes" "$img")"
sfdisk --part-type "$img" 1 7 >/dev/null 2>&1 || printf 'label: dos\nstart=2048, type=7\n' | sfdisk -q "$img"
mkntfs -Q -F -q -p 2048 -H 255 -S 63 "$part" 2>/dev/null
ntfs-3g "$part" "$mnt"
fill "$mnt" $((part_bytes / 2))
umount "$mnt"
free_ntfs=$(ntfsinfo -m "$part" 2>/dev/null | awk '/Free Clusters/ {print $3}')
cluster_bytes=$(ntfsinfo -m "$part" 2>/dev/null | awk '/Cluster Size/ {print $3}')
free_ntfs=$((free_ntfs * cluster_bytes))
cp --sparse=always "$img" "$work/ntfs-copy.img"
t_nw=$(seconds ntfswipe -f --unused "$part")
rss_nw=$(cat "$work/rss")
losetup -d "$part"
cp --sparse=always "$work/ntfs-copy.img" "$img"
loop=$(losetup -f --show "$img")
t_ntfs=$(seconds "$bin" --drive "$loop" wipe-free 0 1)
rss_ntfs=$(cat "$work/rss")
limit_ntfs=$(echo "$free_ntfs / $dd_rate" | bc -l)
printf '%-28s %10.2f %10s %8s %10s\n' "wipe-free NTFS (half)" "$t_ntfs" "$(rate "$free_ntfs" "$t_ntfs")" \
    "$(ratio "$t_ntfs" "$limit_ntfs")x" "$rss_ntfs"
printf '%-28s %10.2f %10s %8s %10s\n' "ntfswipe --unused (NTFS)" "$t_nw" "$(rate "$free_ntfs" "$t_nw")" \
    "$(ratio "$t_nw" "$limit_ntfs")x" "$rss_nw"
echo
echo "ratio: wipe-disk is dd's time / ours (target >= 0.90); wipe-free is ours / the physical limit"
echo "(free bytes at dd's rate; target <= 1.3) and must beat ntfswipe."
