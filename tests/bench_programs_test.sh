#!/usr/bin/env bash
# Every benchmark program and script answers --help with its usage and status
# 0, and one that names the tools it needs ("needs: ..." in its usage) stops
# with status 2, naming the tool, when the path holds none of them; neither
# makes anything. Prints each fault and exits 1 when there is any.
# Usage: bench_programs_test.sh BIN_FOLDER BENCH_SOURCE_FOLDER
set -uo pipefail
bin=$1 scripts=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bash=$(command -v bash) timeout=$(command -v timeout)
status=0
fault() {
    printf 'bench_programs_test: %s\n' "$*"
    status=1
}

# name, then the command and the arguments it needs to start working.
check() {
    local name=$1 out code needs
    shift
    rm -rf "$work/tmp" "$work/here" && mkdir "$work/tmp" "$work/here"
    out=$(cd "$work/here" && TMPDIR="$work/tmp" "$timeout" 60 "$@" --help 2>&1)
    code=$?
    [[ $code -eq 0 ]] || fault "$name --help ended with status $code"
    [[ "$out" == usage:* ]] || fault "$name --help printed no usage: ${out:0:100}"
    needs=$(sed -n 's/^needs: //p' <<<"$out")
    if [[ -n "$needs" ]]; then
        out=$(cd "$work/here" && PATH=/nonexistent TMPDIR="$work/tmp" "$timeout" 60 "$@" 2>&1)
        code=$?
        [[ $code -eq 2 ]] || fault "$name without ${needs// /, } ended with status $code"
        [[ "$out" == *"${needs%% *} is missing"* ]] || fault "$name did not name the missing tool: ${out:0:100}"
    fi
    [[ -z "$(find "$work/tmp" "$work/here" -mindepth 1 -print -quit)" ]] || fault "$name made files"
}

found=0
for program in "$bin"/*_bench; do
    [[ -x "$program" ]] || continue
    found=$((found + 1))
    check "$(basename "$program")" "$program"
done
((found > 0)) || fault "no benchmark program in $bin"
check sparse_bench.sh "$bash" "$scripts/sparse_bench.sh" "$bin/kelvane"
check syscalls.sh "$bash" "$scripts/syscalls.sh" "$bin/kelvane" "$bin/torrin"
exit $status
