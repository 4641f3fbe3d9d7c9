#!/bin/bash
# Two trees compared by content, both in the page cache, every tool measured in
# the same run: `kelvane check A B --option 5` against `rsync -rcn` (which
# checksums every file) and a loop of `cmp -s` over the same pairs; then the
# large files alone against the rate `cat` reads both trees' copies of them.
# The trees hold SMALL small files (1 to 8 KiB, all equal) and LARGE_GIB GiB of
# 256 MiB files, one of which differs in its last byte. Prints the median of
# ROUNDS rounds and the ratios.
# Usage: bench/content_bench.sh KELVANE [SMALL (100000)] [LARGE_GIB (2)] [FOLDER (/var/tmp)] [ROUNDS (3)]
set -euo pipefail
kelvane=$(realpath "$1") small=${2:-100000} gib=${3:-2} base=${4:-/var/tmp} rounds=${5:-3}
command -v rsync >/dev/null || { echo "rsync is missing (bash scripts/bench installs it)" >&2; exit 1; }
median() { sort -g | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }
seconds() { local start; start=$(date +%s.%N); "$@" >/dev/null; echo "$(date +%s.%N) - $start" | bc; }
work=$(mktemp -d "$base/content-XXXXXX")
trap 'rm -rf "$work"' EXIT

python3 - "$work/a/small" "$small" <<'EOF'
import os, random, sys
root, count = sys.argv[1], int(sys.argv[2])
random.seed(20240611)
for i in range(count):
    folder = os.path.join(root, "d%03d" % (i % 500), "e%02d" % (i % 7))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "file%06d.txt" % i), "wb") as out:
        out.write(random.randbytes(random.randint(1024, 8192)))
EOF
mkdir -p "$work/a/large"
for ((i = 0; i < gib * 4; i++)); do
    head -c 256M /dev/urandom >"$work/a/large/part$i.bin"
done
cp -a "$work/a" "$work/b"
last=$(( gib * 4 - 1 ))
printf '\xff' | dd of="$work/b/large/part$last.bin" bs=1 seek=$((256 * 1024 * 1024 - 1)) \
    conv=notrunc status=none
(cd "$work/a" && find . -type f) >"$work/pairs"
cmp_loop() {
    while IFS= read -r f; do cmp -s "$work/a/$f" "$work/b/$f" || true; done <"$work/pairs"
}
cat_large() { cat "$work"/a/large/* "$work"/b/large/*; }
# Into the page cache, and checked to fit there: a tree read from the disk
# would measure the disk.
find "$work/a" "$work/b" -type f -exec cat {} + >/dev/null
find "$work/a" "$work/b" -type f -exec cat {} + >/dev/null

k=() k1=() r=() c=() kl=() kl1=() cl=()
for ((round = 0; round < rounds; round++)); do
    k+=("$(seconds "$kelvane" check "$work/a" "$work/b" --option 5)")
    k1+=("$(seconds "$kelvane" check "$work/a" "$work/b" --option 5 --jobs 1)")
    r+=("$(seconds rsync -rcn "$work/a/" "$work/b/")")
    c+=("$(seconds cmp_loop)")
    kl+=("$(seconds "$kelvane" check "$work/a/large" "$work/b/large" --option 5)")
    kl1+=("$(seconds "$kelvane" check "$work/a/large" "$work/b/large" --option 5 --jobs 1)")
    cl+=("$(seconds cat_large)")
done
"$kelvane" check "$work/a" "$work/b" --option 5 | grep -q "^/large/part$last.bin" ||
    { echo "kelvane did not find the differing file" >&2; exit 1; }
m() { printf '%s\n' "$@" | median; }
km=$(m "${k[@]}") k1m=$(m "${k1[@]}") rm_=$(m "${r[@]}") cm=$(m "${c[@]}")
klm=$(m "${kl[@]}") kl1m=$(m "${kl1[@]}") clm=$(m "${cl[@]}")
bytes=$(( 2 * gib * 1024 * 1024 * 1024 ))
printf '%s small files + %s GiB of large files, both trees in the page cache (median of %s)\n' \
    "$small" "$gib" "$rounds"
printf 'kelvane --option 5          %8.3f s  (--jobs 1: %.3f s)\n' "$km" "$k1m"
printf 'rsync -rcn                  %8.3f s  kelvane/rsync %.2f (goal <= 0.5), --jobs 1 %.2f\n' \
    "$rm_" "$(echo "$km / $rm_" | bc -l)" "$(echo "$k1m / $rm_" | bc -l)"
printf 'cmp loop                    %8.3f s  kelvane/cmp   %.2f (goal <= 1.0), --jobs 1 %.2f\n' \
    "$cm" "$(echo "$km / $cm" | bc -l)" "$(echo "$k1m / $cm" | bc -l)"
printf 'large files only: kelvane %.0f MB/s (--jobs 1: %.0f MB/s), cat %.0f MB/s; kelvane/cat %.2f (goal >= 0.8), --jobs 1 %.2f\n' \
    "$(echo "$bytes / $klm / 1000000" | bc -l)" "$(echo "$bytes / $kl1m / 1000000" | bc -l)" \
    "$(echo "$bytes / $clm / 1000000" | bc -l)" "$(echo "$clm / $klm" | bc -l)" \
    "$(echo "$clm / $kl1m" | bc -l)"
