#!/usr/bin/env bash
# Builds the packages into build/dist/: Ostrilo-<version>-x64.msi (wixl) and
# Ostrilo-<version>-x64.zip. <version> is the project version in the top
# CMakeLists.txt.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${OSTRILO_BUILD_DIR:-$repo/build}"

"$repo/scripts/build.sh" --target Ostrilo
# A tree configured before wixl or zip was installed finds them now.
cmake "$build" >/dev/null
cmake --build "$build" --target ostrilo_msi ostrilo_zip -j"$(nproc)"
ls -l "$build"/dist/*.msi "$build"/dist/*.zip
