#!/usr/bin/env bash
# Installs what building and testing need, on Debian, skipping what is there.
set -euo pipefail

packages=(
  cmake g++ make pkg-config libgtest-dev
  samba samba-dev smbclient
  g++-mingw-w64-i686 binutils-mingw-w64-i686 python3-pefile
  wine wine32:i386
  clang libclang-rt-14-dev valgrind
  tmux util-linux bsdutils iproute2 nftables procps python3 hyperfine time
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages: ${missing[*]} (run as root to install them)" >&2
  exit 1
fi
if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q "${missing[@]}"
