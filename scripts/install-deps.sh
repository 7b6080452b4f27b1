#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing Ferrun need, and
# only those that are missing. Uses sudo when not run as root.
set -euo pipefail

packages=(
    cmake make ninja-build g++ pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-qpa-plugins libgl-dev zlib1g-dev
    libgtest-dev libgmock-dev
    xvfb xauth fonts-dejavu-core
    dpkg-dev file desktop-file-utils
    help2man man-db lintian appstream shared-mime-info libglib2.0-bin
    qt6-translations-l10n qt6-l10n-tools qt6-tools-dev
    cups printer-driver-cups-pdf poppler-utils xclip openbox x11-utils
    python3 python3-numpy
)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo=()
if [[ $(id -u) -ne 0 ]]; then
    command -v sudo >/dev/null || { echo "need root or sudo to install: ${missing[*]}" >&2; exit 1; }
    sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
