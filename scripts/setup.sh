#!/usr/bin/env bash
# Installs every Debian package that building, testing and benchmarking need.
# Safe to run again; runs apt directly as root and through sudo otherwise. Extra arguments are
# further packages a script needs (scripts/screenshots.sh asks for its X tools this way).
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config clang-format
    clang libclang-rt-14-dev
    libftdi1-dev libusb-1.0-0-dev libgpiod-dev
    nlohmann-json3-dev libcli11-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    qt6-base-dev qt6-svg-dev fonts-dejavu-core fonts-droid-fallback
    xvfb xauth
    librsvg2-bin desktop-file-utils appstream groff-base bash-completion
    locales
    python3-dev pybind11-dev python3-pytest
    "$@"
)

if [ "$(id -u)" -eq 0 ]; then
    sudo=()
else
    sudo=(sudo)
fi

# A locale with a decimal comma: the tests check that numbers for machines keep their point.
generate_test_locale() {
    if ! locale -a 2>/dev/null | grep -qix 'de_DE.utf8'; then
        "${sudo[@]}" localedef -i de_DE -f UTF-8 de_DE.UTF-8
    fi
}

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
if [ ${#missing[@]} -eq 0 ]; then
    generate_test_locale
    exit 0
fi

export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
generate_test_locale
