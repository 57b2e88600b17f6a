#!/usr/bin/env bash
# Throughput of the erasure jobs against the disk's physical limit, side by side in one run, on a loop
# device over a file on disk (never on a disk of this machine):
#   wipe-disk            against dd if=/dev/zero bs=1M oflag=direct conv=fdatasync on the same device
#   wipe-free FAT32/NTFS against the physical limit (free bytes at dd's throughput), and NTFS also
#                        against ntfswipe --unused on the same image
# Each figure is the median of ROUNDS runs, the contenders taking turns, since a virtual disk's speed
# drifts from one second to the next. Peak memory comes from /usr/bin/time. Needs root.
# Usage: bench/run.sh [BINARY] [SIZE_MiB] [DIR] [ROUNDS]
set -euo pipefail
bin=$(realpath "${1:-build/kelvane}")
size_mib=${2:-2048}
dir=${3:-/var/tmp}
rounds=${4:-3}
for tool in /usr/bin/time:time bc:bc; do
    command -v "${tool%%:*}" >/dev/null || apt-get install -y -q "${tool##*:}" >/dev/null
done
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
bytes=$((size_mib * 1048576))
part_bytes=$((bytes - 1048576))

seconds() { # runs "$@" and prints its wall time; its peak RSS goes to $work/rss
    local t0 t1
    # Dirty pages left by the set-up (mkfs, copies) would be written back inside the timed flush.
    sync
    t0=$(date +%s.%N)
    /usr/bin/time -f %M -o "$work/rss" "$@" >"$work/out" 2>&1 || { cat "$work/out" >&2; return 1; }
    t1=$(date +%s.%N)
    echo "$t1 - $t0" | bc -l
}
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
rate() { echo "scale=1; $1 / 1048576 / $2" | bc -l; }
ratio() { echo "scale=2; $1 / $2" | bc -l; }
row() { printf '%-28s %10.2f %10s %8s %10s\n' "$@"; }
fill() { # fills folder $1 with incompressible files up to $2 bytes
    local i=0 left=$2
    while [ "$left" -gt 0 ]; do
        local n=$((left < 8388608 ? left : 8388608))
        head -c "$n" /dev/urandom >"$1/f$i.bin"
        left=$((left - n)); i=$((i + 1))
    done
}
attach() { loop=$(losetup -f --show "$@"); }
detach() { losetup -d "$loop"; loop=""; }

truncate -s "${size_mib}M" "$img"
attach "$img"
echo "device: $loop over $img (${size_mib} MiB), median of $rounds rounds"
# An untimed first pass allocates the file's blocks, so every timed run overwrites the same space.
seconds dd if=/dev/zero of="$loop" bs=1M count="$size_mib" oflag=direct conv=fdatasync >/dev/null
dd_times=(); wd_times=()
for _ in $(seq "$rounds"); do
    dd_times+=("$(seconds dd if=/dev/zero of="$loop" bs=1M count="$size_mib" oflag=direct conv=fdatasync)")
    wd_times+=("$(seconds "$bin" --drive "$loop" wipe-disk 0 --yes)")
done
rss_wd=$(cat "$work/rss")
t_dd=$(median "${dd_times[@]}")
t_wd=$(median "${wd_times[@]}")
dd_rate=$(echo "$bytes / $t_dd" | bc -l)
detach
echo
printf '%-28s %10s %10s %8s %10s\n' job seconds "MiB/s" ratio "peak KiB"
row "dd 1M direct (limit)" "$t_dd" "$(rate "$bytes" "$t_dd")" 1.00 -
row "wipe-disk" "$t_wd" "$(rate "$bytes" "$t_wd")" "$(ratio "$t_dd" "$t_wd")" "$rss_wd"

# One partition over the device but its first MiB, its file system half full; each round starts
# from the same pristine copy.
run_free() { # label, free bytes, then the command to time after each restore
    local label=$1 free=$2; shift 2
    local times=()
    for _ in $(seq "$rounds"); do
        cp --sparse=never "$work/pristine.img" "$img"
        times+=("$(seconds "$@")")
    done
    local t limit
    t=$(median "${times[@]}")
    limit=$(echo "$free / $dd_rate" | bc -l)
    row "$label" "$t" "$(rate "$free" "$t")" "$(ratio "$t" "$limit")x" "$(cat "$work/rss")"
}

printf 'label: dos\nstart=2048, type=c\n' | sfdisk -q "$img" 2>/dev/null
attach -o 1048576 --sizelimit "$part_bytes" "$img"
mkfs.fat -F 32 -s 8 "$loop" >/dev/null 2>&1
mmd -i "$loop" ::/d
mkdir -p "$work/fill"
fill "$work/fill" $((part_bytes / 2))
mcopy -i "$loop" "$work/fill"/* ::/d/
rm -rf "$work/fill"
free_fat=$(fsck.fat -n "$loop" | sed -nE 's#.* ([0-9]+)/([0-9]+) clusters#\2 - \1#p' | bc)
free_fat=$((free_fat * 4096))
detach
cp --sparse=never "$img" "$work/pristine.img"
attach "$img"
run_free "wipe-free FAT32 (half)" "$free_fat" "$bin" --drive "$loop" wipe-free 0 1
detach

printf 'label: dos\nstart=2048, type=7\n' | sfdisk -q "$img" 2>/dev/null
attach -o 1048576 --sizelimit "$part_bytes" "$img"
mkntfs -Q -F -q -p 2048 -H 255 -S 63 "$loop" >/dev/null 2>&1
ntfs-3g "$loop" "$mnt"
fill "$mnt" $((part_bytes / 2))
umount "$mnt"
free_ntfs=$(ntfsinfo -m "$loop" 2>/dev/null | awk '/Free Clusters/ {print $3}')
cluster_bytes=$(ntfsinfo -m "$loop" 2>/dev/null | awk '/Cluster Size/ {print $3}')
free_ntfs=$((free_ntfs * cluster_bytes))
detach
cp --sparse=never "$img" "$work/pristine.img"
attach "$img"
run_free "wipe-free NTFS (half)" "$free_ntfs" "$bin" --drive "$loop" wipe-free 0 1
detach
attach -o 1048576 --sizelimit "$part_bytes" "$img"
run_free "ntfswipe --unused (NTFS)" "$free_ntfs" ntfswipe -f --unused "$loop"
detach
echo
echo "ratio: wipe-disk is dd's time / ours (target >= 0.90); wipe-free is ours / the physical limit"
echo "(free bytes at dd's rate; target <= 1.3) and must beat ntfswipe."
