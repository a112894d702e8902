#!/usr/bin/env bash
# Sets up, builds and runs Parcelo from this source folder on Debian 12 or later.
#   ./dev.sh run    install what is missing, build, start Parcelo
#   ./dev.sh test   install what is missing (test tools too), build, run every test
#   ./dev.sh package  install what is missing, build, make the Debian package parcelo_*.deb here
set -euo pipefail
cd "$(dirname "$0")"

# deps/*.txt list the Debian packages: "build <package>", "test <package>" or "package <package>"
# (what making and checking the Debian package takes; the tests check it too).
packages() { cat deps/*.txt | awk -v kind="$1" '$1 == kind { print $2 }' | sort -u; }
mapfile -t build_packages < <(packages build)
mapfile -t test_packages < <(packages test)
mapfile -t package_packages < <(packages package)

install_missing() {
    local missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
            || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

build() {
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cmake --build build --parallel
}

case "${1:-}" in
run)
    install_missing "${build_packages[@]}"
    build
    exec build/bin/parcelo
    ;;
test)
    install_missing "${build_packages[@]}" "${test_packages[@]}" "${package_packages[@]}"
    build
    ctest --test-dir build --output-on-failure --timeout 900
    ;;
package)
    install_missing "${build_packages[@]}" "${package_packages[@]}"
    build
    cpack --config build/CPackConfig.cmake -G DEB -B build/package
    cp build/package/parcelo_*.deb .
    ls parcelo_*.deb
    ;;
*)
    echo "usage: $0 run|test|package" >&2
    exit 2
    ;;
esac
