#!/usr/bin/env bash
# Installs what building, running and testing Tessel need on Debian 12.
source "$(dirname "$0")/steps.sh"

packages=(cmake make python3 python3-pyftpdlib file
          g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
          wine wine64 wine32:i386 xvfb xauth fonts-wine doctest-dev libz-mingw-w64-dev
          zip unzip curl ccache
          imagemagick x11-apps procps php-cli nsis osslsigncode openssl)

tessel_step "looking for missing packages"
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

[ "$(id -u)" -eq 0 ] || tessel_die "missing packages: ${missing[*]} (run as root to install them)"
echo "setup: installing ${missing[*]}"
tessel_step "adding the i386 architecture for wine32"
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
export DEBIAN_FRONTEND=noninteractive
tessel_step "updating the package lists (apt-get update)"
apt-get update -q >/dev/null
tessel_step "installing ${missing[*]}"
apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
