#!/usr/bin/env bash
set -uo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$1"; shift
. "$repo/scripts/wine-env.sh"
wine_prefix_env "$build"
wine_prefix_start
trap wine_prefix_stop EXIT
"$WINE" "$build/bin/ostrilo_demo.exe" "$@" </dev/null
