#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, when it is missing.
set -euo pipefail
# groff-base: the manual-page lint; dpkg-dev and file: cpack -G DEB (dpkg-shlibdeps).
packages=(g++ cmake ninja-build libgtest-dev pkg-config groff-base dpkg-dev file)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
