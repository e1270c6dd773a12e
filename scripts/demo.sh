#!/usr/bin/env bash
# The main job: builds if needed, then opens an example link through
# Ostrilo.exe under Wine with a small demo setup and shows what happened.
# An argument replaces the example link.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${OSTRILO_BUILD_DIR:-$repo/build}"

"$repo/scripts/build.sh" >/dev/null
# The demo program sets up the sandbox and reads back what happened; Wine's
# processes get no terminal input.
exec xvfb-run -a -s "-screen 0 1280x1024x24" "$repo/scripts/with-wine.sh" "$build" \
  bash -c '"$WINE" "$0" "$@" </dev/null' "$build/bin/ostrilo_demo.exe" "$@"
