#!/usr/bin/env bash
# Builds and runs the examples against the package installed in PREFIX, as a user of the package
# would, after moving the installed tree elsewhere (the package must not depend on where it was
# installed): the CMake consumer, the pkg-config consumer (no --define-prefix, no
# LD_LIBRARY_PATH), the example host of the guide and the example server (killed mid-job and
# restarted).
# Usage: scripts/check-examples.sh PREFIX
set -euo pipefail
cd "$(dirname "$0")/.."
prefix=${1:?usage: check-examples.sh PREFIX}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset LD_LIBRARY_PATH
cp -a "$prefix" "$work/moved"
prefix=$work/moved

echo "-- CMake consumer"
cmake -S examples/cmake-consumer -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake" >/dev/null
mkdir "$work/base-cmake"
"$work/cmake/consumer" "$work/base-cmake"

echo "-- pkg-config consumer"
cp -r examples/pkgconfig-consumer "$work/pkgconfig"
# The two commands of examples/README.md and the Makefile, as written there.
(cd "$work/pkgconfig" && PKG_CONFIG_PATH=$prefix/lib/pkgconfig make >/dev/null && make clean >/dev/null &&
  make PKG_CONFIG_PATH="$prefix/lib/pkgconfig" >/dev/null)
mkdir "$work/base-pkgconfig"
"$work/pkgconfig/consumer" "$work/base-pkgconfig"

echo "-- example host"
cmake -S examples/host -B "$work/host" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/host" >/dev/null
"$work/host/objstore-example-host"

echo "-- example server"
cmake -S examples/server -B "$work/server" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/server" >/dev/null
timeout 300 "$work/server/objstore-example-server" "$work/server-run"

if [ -x "$prefix/bin/objstore-backup" ]; then
  echo "-- installed host program"
  "$prefix/bin/objstore-backup" --version
fi
echo "examples: all built and ran against the installed package"
