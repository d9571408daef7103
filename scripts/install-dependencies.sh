#!/usr/bin/env bash
# Installs the Debian packages the build needs (and, with --test, those the tests need).
# Only missing packages are installed; the package lists are refreshed only when something is missing.
set -euo pipefail

build_packages=(
    build-essential clang libclang-rt-14-dev cmake ninja-build ccache pkg-config libssl-dev
    qt6-base-dev qcoro-qt6-dev libqrencode-dev libicu-dev libsecret-1-dev fonts-droid-fallback
    libavformat-dev libavcodec-dev libswscale-dev libavutil-dev libudev-dev libx11-dev qt6-translations-l10n
)
# What README's steps use beside the build: the desktop entry's database, and reading the pairing QR code.
readme_packages=(desktop-file-utils zbar-tools imagemagick)
test_packages=(
    dbus-bin dbus-x11 xvfb xauth zbar-tools libzbar-dev gnome-keyring adb umockdev xdotool imagemagick openbox
    at-spi2-core python3-gi gir1.2-atspi-2.0
)

wanted=("${build_packages[@]}" "${readme_packages[@]}")
if [[ "${1:-}" == "--test" ]]; then
    wanted+=("${test_packages[@]}")
fi

missing=()
for package in "${wanted[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if ((${#missing[@]} == 0)); then
    exit 0
fi

sudo_command=()
if [[ $(id -u) -ne 0 ]]; then
    sudo_command=(sudo)
fi
echo "Installing: ${missing[*]}"
"${sudo_command[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_command[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
