#!/usr/bin/env bash
# Builds the packages into build/dist/: Ostrilo-<version>-x64.msi (wixl) and
# Ostrilo-<version>-x64.zip. <version> is the project version in the top
# CMakeLists.txt. With a key in the environment (scripts/sign.sh names the
# variables) both programs are signed before they go into the packages, and
# then the MSI.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${OSTRILO_BUILD_DIR:-$repo/build}"

"$repo/scripts/build.sh" --target Ostrilo
# A tree configured before wixl or zip was installed finds them now.
cmake "$build" >/dev/null
if [ -z "${OSTRILO_SIGN_PKCS12:-}${OSTRILO_SIGN_PKCS11_MODULE:-}" ]; then
  echo "package: no OSTRILO_SIGN_PKCS12 or OSTRILO_SIGN_PKCS11_MODULE: the programs and the MSI are not signed"
fi
# Packages made earlier, signed or not, are made again with this environment's key.
rm -rf "$build/dist"
cmake --build "$build" --target ostrilo_msi ostrilo_zip -j"$(nproc)"
ls -l "$build"/dist/*.msi "$build"/dist/*.zip
