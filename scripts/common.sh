# Shared by scripts/run and scripts/test: install what is missing, then build.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

say() { printf '==> %s\n' "$*"; }

install_missing() {
    local missing=()
    local pkg
    while read -r pkg; do
        [[ -z "$pkg" || "$pkg" == \#* ]] && continue
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$pkg")
    done < "$ROOT/scripts/deps"
    if ((${#missing[@]} == 0)); then
        say "All packages present."
        return
    fi
    say "Installing: ${missing[*]}"
    local sudo=""
    [[ $(id -u) -ne 0 ]] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# build DIR [cmake options...]
build() {
    local dir="$1"
    shift
    if [[ ! -f "$dir/build.ninja" ]]; then
        say "Configuring $dir"
        cmake -S "$ROOT" -B "$dir" -G Ninja "$@"
    fi
    say "Building $dir"
    cmake --build "$dir"
}
