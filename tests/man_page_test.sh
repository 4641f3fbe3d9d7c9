#!/usr/bin/env bash
# A manual page says what the program's --help says: the same options, in its
# synopsis and in its OPTIONS, the same exit statuses and the same kinds of
# list file. Prints each difference and exits 1 when there is any.
# Usage: man_page_test.sh PROGRAM PAGE.1.in
set -euo pipefail
program=$1 page=$2
help=$("$program" --help)
# The page's text with its escapes read: "\-" is "-".
text=$(sed 's/\\-/-/g' "$page")

# The lines of a page section, from its .SH heading to the next.
section() { awk -v name="$1" '/^\.SH / {inside = ($0 == ".SH " name); next} inside' <<<"$text"; }
# The options ("-z", "--null") named in some text, one per line, sorted; an
# option starts a word or follows "[" or "|".
options() { grep -oE -- '(^|[][ |])--?[a-z][a-z-]*' | sed 's/^[][ |]//' | sort -u; }

status=0
differ() {  # what, from --help, from the page
    if [[ "$2" != "$3" ]]; then
        printf '%s: --help and %s disagree on %s (< --help, > the page)\n' "$program" "$page" "$1"
        diff <(printf '%s\n' "$2") <(printf '%s\n' "$3") | sed -n 's/^[<>]/  &/p' || true
        status=1
    fi
}

# The usage lines of --help against the synopsis. (A section of --help starts
# with an unindented line ending in ":" and ends with an empty line.)
usage=$(awk '/^Usage:/ {inside = 1; next} /^$/ {inside = 0} inside' <<<"$help")
differ "the synopsis" "$(options <<<"$usage")" "$(section SYNOPSIS | options)"
# Each option --help lists (its usage lines, its option list) has an entry of
# its own in OPTIONS (a .TP paragraph whose tag line names it), and no other
# does.
listed=$(awk '/^[^ ].*:$/ {inside = ($0 == "Options:"); next}
              inside && /^  -/ {sub(/   .*/, ""); print}' <<<"$help")
commands=$(awk '$2 ~ /^-/ {print $2}' <<<"$usage")
entries=$(section OPTIONS | awk 'tag {if ($0 ~ /^\.B/) print; tag = 0} /^\.TP/ {tag = 1}')
differ "the options" "$(options <<<"$listed"$'\n'"$commands")" "$(options <<<"$entries")"
# The same exit statuses.
statuses=$(awk '/^[^ ].*:$/ {inside = /^Exit status/; next}
                inside && /^  [0-9]+  / {print $1}' <<<"$help" | sort -u)
differ "the exit statuses" "$statuses" \
    "$(section 'EXIT STATUS' | awk 'tag {print $2; tag = 0} /^\.TP/ {tag = 1}' | sort -u)"
# The same kinds of list file.
kinds() { grep -oE '\.(txt|xlsx|xls|csv)\b' | sort -u; }
differ "the list files" "$(kinds <<<"$help")" "$(kinds <<<"$text")"
exit $status
