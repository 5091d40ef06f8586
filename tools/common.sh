# Shared by ./run and ./test: install what is missing, then configure and build.

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

missing_packages() {
    local pkg
    while read -r pkg; do
        case "$pkg" in ''|'#'*) continue ;; esac
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || printf '%s ' "$pkg"
    done < "$top/tools/debian-packages.txt"
}

install_packages() {
    local missing
    missing=$(missing_packages)
    [ -z "$missing" ] && return 0
    echo "Installing Debian packages: $missing"
    local sudo=""
    if [ "$(id -u)" != 0 ]; then
        if command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null || { [ -t 0 ] && command -v sudo >/dev/null 2>&1; }; then
            sudo="sudo"
        else
            echo "These packages are missing and installing them needs root. Run:" >&2
            echo "  sudo apt-get update && sudo apt-get install -y $missing" >&2
            exit 1
        fi
    fi
    $sudo apt-get update -q || true
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q $missing
}

# build DIR BUILD_TYPE [extra cmake args...]
build_tree() {
    local dir=$1 type=$2
    shift 2
    local launcher=()
    # A compiler cache, where the machine has one, makes rebuilds of other checkouts quick.
    command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" "${launcher[@]}" "$@" >/dev/null
    cmake --build "$dir" -j "$(nproc)"
}
