#!/usr/bin/env bash
# scripts/check-layers passes on the sources as they are and fails on each kind
# of forbidden include, planted one at a time into a copy of them.
set -euo pipefail
source_root="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp -r "$source_root"/{base,host,grid,common,kelvane,torrin} "$work"/
check="$source_root/scripts/check-layers"

"$check" "$work" || { echo "FAIL: the sources themselves break the layering"; exit 1; }

failures=0
plant() {  # file, include line: the check must fail and name the file
    local file="$1" line="$2" saved output
    saved="$(cat "$work/$file")"
    printf '%s\n%s\n' "$line" "$saved" > "$work/$file"
    if output="$("$check" "$work" 2>&1)"; then
        echo "FAIL: $line in $file went unnoticed"
        failures=$((failures + 1))
    elif [[ "$output" != *"$file:1:"* ]]; then
        echo "FAIL: $line in $file reported without its place: $output"
        failures=$((failures + 1))
    fi
    printf '%s\n' "$saved" > "$work/$file"
}
plant kelvane/check/check_engine.cpp '#include <QString>'                 # Qt in an engine
plant torrin/engine/rcopy.h '#include <QtWidgets/QWidget>'               # Qt in an engine header
plant grid/grid.cpp '#include <QObject>'                                  # Qt in the plain grid
plant host/fs_posix.cpp '#include <QFile>'                                # Qt in host's core
plant kelvane/command_line.cpp '#include "kelvane/window/w_htmd.h"'       # engine -> window
plant torrin/torapp.cpp '#include "torrin/window/w_copy.h"'               # engine -> window
plant common/file_attributes.cpp '#include "grid/qt/grid_view.h"'         # -> Qt side of grid
plant kelvane/import/list_rows.cpp '#include "host/qt/busy.h"'            # -> Qt side of host
plant kelvane/copy/copy_engine.cpp '#include <unistd.h>'                  # platform in an engine
plant host/paths.cpp '#include <windows.h>'                               # platform in host's shared code
plant grid/grid_text.cpp '#include <sys/stat.h>'                          # platform in the grid
plant kelvane/window/w_htmd.cpp '  #  include <fcntl.h>'                  # platform in a window
plant base/text.cpp '#include "host/fs.h"'                               # base -> the OS layer
plant base/ini_text.h '#include <sys/types.h>'                            # platform in base
plant host/paths.cpp '#include "common/ordered_work.h"'                  # host -> a layer above
plant common/stored_keys.cpp '#include "grid/grid.h"'                    # common -> grid, its neighbour
plant grid/grid.cpp '#include "kelvane/check/check_engine.h"'            # grid -> an engine
plant torrin/engine/rcopy.cpp '#include "kelvane/copy/copy_engine.h"'    # one program -> the other
plant kelvane/check/check_engine.cpp '#include "kelvane/command_line.h"' # engine -> start-up
"$check" "$work" || { echo "FAIL: a removed plant is still reported"; exit 1; }
[[ $failures -eq 0 ]] && echo "layering check: every planted include was caught"
exit $((failures > 0))
