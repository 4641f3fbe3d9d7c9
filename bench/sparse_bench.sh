#!/bin/bash
# A sparse file (SIZE_GIB GiB holding 4 KiB of data) copied by
# `kelvane check --copy` and by `cp --sparse=always`, in the same run, on the
# disk (/var/tmp) and on tmpfs (/dev/shm). Prints the median of ROUNDS rounds,
# the ratio and the space the copy takes.
# Usage: bench/sparse_bench.sh KELVANE [SIZE_GIB (5)] [ROUNDS (3)]
set -euo pipefail
kelvane=$(realpath "$1") size=${2:-5} rounds=${3:-3}
median() { sort -g | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }
for base in /var/tmp /dev/shm; do
    work=$(mktemp -d "$base/sparse-XXXXXX")
    mkdir -p "$work/s"
    truncate -s "${size}G" "$work/s/disk.img"
    head -c 4096 /dev/urandom | dd of="$work/s/disk.img" bs=4096 seek=1000 conv=notrunc status=none
    k=() c=()
    for ((r = 0; r < rounds; r++)); do
        rm -rf "$work/t" "$work/c" && mkdir "$work/t" "$work/c"
        start=$(date +%s.%N)
        "$kelvane" check "$work/s" "$work/t" --copy >/dev/null
        k+=("$(echo "$(date +%s.%N) - $start" | bc)")
        start=$(date +%s.%N)
        cp --sparse=always "$work/s/disk.img" "$work/c/"
        c+=("$(echo "$(date +%s.%N) - $start" | bc)")
    done
    km=$(printf '%s\n' "${k[@]}" | median) cm=$(printf '%s\n' "${c[@]}" | median)
    printf '%-9s %s GiB: kelvane %.3f s, cp %.3f s, ratio %.2f; space of the copy %s KiB (source %s KiB)\n' \
        "$base" "$size" "$km" "$cm" "$(echo "$km / $cm" | bc -l)" \
        "$(du -k "$work/t/disk.img" | cut -f1)" "$(du -k "$work/s/disk.img" | cut -f1)"
    rm -rf "$work"
done
