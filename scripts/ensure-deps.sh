#!/usr/bin/env bash
# Installs the Debian packages the build, the program and the tests need, when missing, and
# any packages named as arguments.
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev libssl-dev
          fonts-dejavu-core fonts-dejavu-extra fonts-wine fonts-symbola
          desktop-file-utils appstream help2man lintian dpkg-dev "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
