#!/bin/bash
# System calls per file of the two copy journeys, counted by `strace -c -f`:
#   torrin exit          over FOLDERS x FILES files of which NEWER are newer
#                        than the threshold (an incremental run);
#   kelvane check --copy over the same tree into a target that lacks NEWER.
# Usage: bench/syscalls.sh KELVANE TORRIN [FOLDERS (100)] [FILES (100)] [NEWER (100)]
# Prints each journey's calls by name and the calls per file of the tree.
set -euo pipefail
usage="usage: bench/syscalls.sh KELVANE TORRIN [FOLDERS (100)] [FILES (100)] [NEWER (100)]
needs: strace"
for argument in "$@"; do
    case "$argument" in
    -h | --help)
        echo "$usage"
        exit 0
        ;;
    esac
done
if (($# < 2)); then
    echo "$usage" >&2
    exit 2
fi
command -v strace >/dev/null || {
    echo "syscalls.sh: strace is missing: it counts the calls (apt-get install strace)" >&2
    exit 2
}
for program in "$1" "$2"; do
    [[ -x "$program" ]] || {
        echo "syscalls.sh: $program is not a program" >&2
        exit 2
    }
done
kelvane=$(realpath "$1") torrin=$(realpath "$2")
folders=${3:-100} files=${4:-100} newer=${5:-100}
work=$(mktemp -d -t syscalls-XXXXXX)
trap 'rm -rf "$work"' EXIT
total=$((folders * files)) every=$((folders * files / newer))
n=0
for ((f = 0; f < folders; f++)); do
    mkdir -p "$work/s/d$f" "$work/k/d$f"
    for ((i = 0; i < files; i++)); do
        printf 'x%.0s' {1..64} >"$work/s/d$f/f$i"
        if ((n % every == 0)); then
            touch -d '2030-01-01 00:00:00' "$work/s/d$f/f$i"
        else
            touch -d '2020-01-01 00:00:00' "$work/s/d$f/f$i"
            cp -a "$work/s/d$f/f$i" "$work/k/d$f/f$i"
        fi
        n=$((n + 1))
    done
done
mkdir -p "$work/t" "$work/run"
printf '[other]\r\nmpath=%s\r\nfdt=2029-01-01 00:00:00\r\nsfth=y\r\nbkycwj=y\r\nqmljg=n\r\nypath1=%s\r\n' \
    "$work/t" "$work/s" >"$work/run/confi9.ini"
count() {  # label, command...
    local label=$1
    shift
    strace -f -c -o "$work/strace.txt" "$@" >/dev/null 2>&1 || true
    local calls
    calls=$(awk '$NF == "total" {print $(NF-2)}' "$work/strace.txt")
    echo "## $label: $calls calls, $(awk -v c="$calls" -v t="$total" 'BEGIN {printf "%.2f", c / t}') per file of $total"
    awk 'NR > 2 && $1 !~ /^-/ && $NF != "total" {print "  " $NF, ($4 ~ /^[0-9]+$/ ? $4 : $4)}' \
        "$work/strace.txt" | awk '{printf "  %-20s %s\n", $1, $2}' | sort -k2 -n -r | head -12
}
(cd "$work/run" && count "torrin exit (incremental, $newer newer)" "$torrin" exit)
count "kelvane check --copy ($newer missing)" "$kelvane" check "$work/s" "$work/k" --copy
