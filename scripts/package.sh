#!/usr/bin/env bash
# Builds the packages into build/dist/: Ostrilo-<version>-x64.msi (wixl) and
# Ostrilo-<version>-x64.zip. <version> is the project version in the top
# CMakeLists.txt.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${OSTRILO_BUILD_DIR:-$repo/build}"

"$repo/scripts/setup.sh"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$repo" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release
else
  # Picks up wixl or zip installed since the tree was configured.
  cmake "$build" >/dev/null
fi
cmake --build "$build" --target ostrilo_msi ostrilo_zip -j"$(nproc)"
ls -l "$build"/dist/*.msi "$build"/dist/*.zip
