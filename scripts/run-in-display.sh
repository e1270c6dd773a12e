#!/usr/bin/env bash
# Runs ctest inside the display that test.sh provides.
set -uo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$1"; shift
. "$repo/scripts/wine-env.sh"
wine_prefix_env "$build"
wine_prefix_start
trap wine_prefix_stop EXIT
ctest --test-dir "$build" --output-on-failure "$@"
