# Shared by scripts/run and scripts/test: install what is missing, then build.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

say() { printf '==> %s\n' "$*"; }

# Installs the packages of scripts/deps and any named as arguments, each only
# when it is missing.
install_missing() {
    local wanted=("$@")
    local pkg missing=()
    while read -r pkg; do
        [[ -z "$pkg" || "$pkg" == \#* ]] && continue
        wanted+=("$pkg")
    done < "$ROOT/scripts/deps"
    for pkg in "${wanted[@]}"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$pkg")
    done
    if ((${#missing[@]} == 0)); then
        say "All packages present."
        return
    fi
    say "Installing: ${missing[*]}"
    local sudo=""
    [[ $(id -u) -ne 0 ]] && sudo="sudo"
    # An install cut off earlier (the machine stopped mid-way) leaves dpkg
    # refusing every other until its packages are configured.
    if [[ -n "$(ls -A /var/lib/dpkg/updates 2>/dev/null)" || -n "$(dpkg --audit 2>/dev/null)" ]]; then
        say "Finishing an interrupted install"
        DEBIAN_FRONTEND=noninteractive $sudo dpkg --configure -a
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq -f
    fi
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
