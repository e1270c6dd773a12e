#!/usr/bin/env bash
# Runs a command with the build tree's Wine prefix ready: the prefix created
# once, the services and a persistent wineserver started, all stopped again
# at the end. The command sees WINE, WINEPREFIX and the other Wine settings.
# Usage: with-wine.sh BUILD_DIR COMMAND [ARGUMENT...]
set -uo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$1"; shift
. "$repo/scripts/wine-env.sh"
wine_prefix_env "$build"
wine_prefix_start
trap wine_prefix_stop EXIT
"$@"
