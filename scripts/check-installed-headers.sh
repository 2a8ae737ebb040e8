#!/usr/bin/env bash
# Installs the build in BUILD_DIR into a temporary prefix and checks its headers: the installed
# set is exactly the one cmake/installed-headers.txt lists, and each header compiles on its own
# (C++17, -Wall -Wextra -Werror) with nothing but the installed include directory.
# Usage: scripts/check-installed-headers.sh BUILD_DIR [CXX]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: check-installed-headers.sh BUILD_DIR [CXX]}
cxx=${2:-${CXX:-c++}}
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
include=$prefix/include/objstorebackup

# Every installed file, as a path relative to the include directory (testing/ included).
installed=$(cd "$include" && find . -type f | sed 's|^\./||' | sort)
if ! diff <(grep -v '^#' cmake/installed-headers.txt | sort) <(echo "$installed"); then
  echo "installed headers differ from cmake/installed-headers.txt ('<' listed, '>' installed)"
  exit 1
fi

export cxx include
# shellcheck disable=SC2016
failed=$(echo "$installed" | xargs -P "$(nproc)" -I{} sh -c \
  'printf "#include \"%s\"\n" {} | "$cxx" -std=c++17 -fsyntax-only -Wall -Wextra -Werror \
     -I "$include" -x c++ - 2>&1 >/dev/null | sed "s|^|{}: |"' || true)
if [ -n "$failed" ]; then
  echo "$failed"
  echo "some installed headers do not compile on their own"
  exit 1
fi
echo "installed headers: $(echo "$installed" | wc -l) as listed, each compiles on its own"
