#!/bin/bash
# Large files copied by `kelvane check --copy --verify` (each copy flushed,
# read back from the disk and compared) against the same copy without
# --verify followed by `sync`, in the same run, into an empty target each time,
# the source in the page cache. Prints the median of ROUNDS rounds and the
# ratio, for --jobs 1 and the default.
# Usage: bench/verify_bench.sh KELVANE [FILES (3)] [GIB_EACH (1)] [FOLDER (/var/tmp)] [ROUNDS (3)]
set -euo pipefail
kelvane=$(realpath "$1") files=${2:-3} gib=${3:-1} base=${4:-/var/tmp} rounds=${5:-3}
median() { sort -g | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }
work=$(mktemp -d "$base/verify-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/s"
for ((i = 0; i < files; i++)); do head -c "${gib}G" /dev/urandom >"$work/s/large$i.bin"; done
cat "$work"/s/* >/dev/null
sync
for jobs in 1 4; do
    v=() p=()
    for ((r = 0; r < rounds; r++)); do
        rm -rf "$work/t" && mkdir "$work/t" && sync
        start=$(date +%s.%N)
        "$kelvane" check "$work/s" "$work/t" --copy --verify --jobs "$jobs" >/dev/null
        v+=("$(echo "$(date +%s.%N) - $start" | bc)")
        cmp -s "$work/s/large0.bin" "$work/t/large0.bin" || { echo "copy differs" >&2; exit 1; }
        rm -rf "$work/t" && mkdir "$work/t" && sync
        start=$(date +%s.%N)
        "$kelvane" check "$work/s" "$work/t" --copy --jobs "$jobs" >/dev/null
        sync
        p+=("$(echo "$(date +%s.%N) - $start" | bc)")
    done
    vm=$(printf '%s\n' "${v[@]}" | median) pm=$(printf '%s\n' "${p[@]}" | median)
    printf '%s x %s GiB in %s, --jobs %s: --copy --verify %.3f s, --copy then sync %.3f s, ratio %.2f (goal <= 1.6)\n' \
        "$files" "$gib" "$base" "$jobs" "$vm" "$pm" "$(echo "$vm / $pm" | bc -l)"
done
