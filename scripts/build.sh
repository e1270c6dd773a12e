#!/usr/bin/env bash
# Builds Ostrilo.exe, the tests and the stand-in programs (build/ by default).
# Arguments are passed on to cmake --build (e.g. --target Ostrilo).
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${OSTRILO_BUILD_DIR:-$repo/build}"

"$repo/scripts/setup.sh"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$repo" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release
fi
cmake --build "$build" -j"$(nproc)" "$@"
