#!/bin/bash
# A sparse file (SIZE_GIB GiB holding 4 KiB of data) copied by
# `kelvane check --copy` and by `cp --sparse=always`, in the same run, on the
# disk (/var/tmp) and on tmpfs (/dev/shm). Prints the median of ROUNDS rounds,
# the ratio and the space the copy takes.
# Usage: bench/sparse_bench.sh KELVANE [SIZE_GIB (5)] [ROUNDS (3)]
set -euo pipefail
usage="usage: bench/sparse_bench.sh KELVANE [SIZE_GIB (5)] [ROUNDS (3)]
needs: cp truncate dd du"
for argument in "$@"; do
    case "$argument" in
    -h | --help)
        echo "$usage"
        exit 0
        ;;
    esac
done
if (($# < 1)); then
    echo "$usage" >&2
    exit 2
fi
for tool in cp truncate dd du; do
    command -v "$tool" >/dev/null || {
        echo "sparse_bench.sh: $tool is missing: it is measured against or makes the file" >&2
        exit 2
    }
done
[[ -x "$1" ]] || {
    echo "sparse_bench.sh: $1 is not a program" >&2
    exit 2
}
kelvane=$(realpath "$1") size=${2:-5} rounds=${3:-3}
median() { sort -g | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }
now() { date +%s.%N; }
since() { awk -v start="$1" -v end="$(now)" 'BEGIN {printf "%.6f", end - start}'; }
for base in /var/tmp /dev/shm; do
    work=$(mktemp -d "$base/sparse-XXXXXX")
    mkdir -p "$work/s"
    truncate -s "${size}G" "$work/s/disk.img"
    head -c 4096 /dev/urandom | dd of="$work/s/disk.img" bs=4096 seek=1000 conv=notrunc status=none
    k=() c=()
    for ((r = 0; r < rounds; r++)); do
        rm -rf "$work/t" "$work/c" && mkdir "$work/t" "$work/c"
        start=$(now)
        "$kelvane" check "$work/s" "$work/t" --copy >/dev/null
        k+=("$(since "$start")")
        start=$(now)
        cp --sparse=always "$work/s/disk.img" "$work/c/"
        c+=("$(since "$start")")
    done
    km=$(printf '%s\n' "${k[@]}" | median) cm=$(printf '%s\n' "${c[@]}" | median)
    printf '%-9s %s GiB: kelvane %.3f s, cp %.3f s, ratio %.2f; space of the copy %s KiB (source %s KiB)\n' \
        "$base" "$size" "$km" "$cm" "$(awk -v k="$km" -v c="$cm" 'BEGIN {print k / c}')" \
        "$(du -k "$work/t/disk.img" | cut -f1)" "$(du -k "$work/s/disk.img" | cut -f1)"
    rm -rf "$work"
done
