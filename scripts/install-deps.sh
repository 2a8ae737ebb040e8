#!/usr/bin/env bash
# Installs the Debian packages the build needs, when any is missing.
# As root it runs apt-get; otherwise it says what to install and fails.
set -euo pipefail

packages=(g++ cmake make pkg-config libboost-dev libgtest-dev libbenchmark-dev libcli11-dev
          nlohmann-json3-dev libssl-dev binutils libcpp-httplib-dev libsqlite3-dev)
if [ "${OBJSTORE_WITH_CLANG:-0}" = 1 ]; then
  packages+=(clang-14 libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages: ${missing[*]}" >&2
  echo "Install them with: sudo apt-get install ${missing[*]}" >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
