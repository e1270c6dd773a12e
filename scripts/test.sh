#!/usr/bin/env bash
# Builds everything and runs the whole test suite under Wine and Xvfb.
# Arguments are passed on to ctest (e.g. -R e2e_entry).
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${OSTRILO_BUILD_DIR:-$repo/build}"

# First what the checks below need (python3 among them), so that this script
# works as the first command on a fresh Debian 12.
"$repo/scripts/setup.sh"
# Every include follows the layers of scripts/layers.txt, and the check itself
# notices an include upward.
"$repo/scripts/check_layers.py" --self-test
"$repo/scripts/check_layers.py"
# Every relative link and #anchor of README and docs/ leads somewhere (fast, so first).
"$repo/scripts/check-links.sh"
# Every ostrilo-admin command the docs name exists, and every one is described;
# every ostrilo.cfg key the docs write is a key of the key table.
"$repo/scripts/check_docs.py" --self-test
"$repo/scripts/check_docs.py"
"$repo/scripts/build.sh"
# The tree stays in the house format (.clang-format; scripts/format.sh applies it).
"$repo/scripts/format.sh" --check
# The native build (text core, ostrilo-admin, tests/native) and its tests: fast, no Wine.
cmake -S "$repo/cmake/native" -B "$build/native" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/native" -j"$(nproc)"
ctest --test-dir "$build/native" --output-on-failure
# Each fuzz target for a short while (OSTRILO_FUZZ_SECONDS, 0 leaves them out);
# scripts/fuzz.sh runs them longer.
fuzz_seconds="${OSTRILO_FUZZ_SECONDS:-20}"
[ "$fuzz_seconds" = 0 ] || "$repo/scripts/fuzz.sh" "$fuzz_seconds"
# Message boxes are real windows only with a display.
exec xvfb-run -a -s "-screen 0 1280x1024x24" "$repo/scripts/with-wine.sh" "$build" \
  ctest --test-dir "$build" --output-on-failure "$@"
