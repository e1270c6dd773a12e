#!/usr/bin/env bash
# The main job: builds if needed, then opens example links through
# Ostrilo.exe under Wine with a small demo setup and shows what happened.
# Arguments replace the example links.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${OSTRILO_BUILD_DIR:-$repo/build}"
mkdir -p "$build"
log="$build/demo-build.log"

# The set-up and the build write their whole output to the log; standard
# error shows their progress, on one line that changes on a terminal, so
# that a first run (packages, then the build) does not look hung.
progress() {
  local line shown=0
  while IFS= read -r line; do
    printf '%s\n' "$line" >>"$log"
    case $line in
      "setup: "* | *"%] Linking"*) ;;
      "Get:"* | "Setting up "* | *"%] Building"*) [ -t 2 ] || continue ;;
      *) continue ;;
    esac
    if [ -t 2 ]; then printf '\r\033[K%.100s' "$line" >&2; else printf '%s\n' "$line" >&2; fi
    shown=1
  done
  if [ -t 2 ] && [ "$shown" = 1 ]; then printf '\r\033[K' >&2; fi
}
: >"$log"
echo "demo: setting up and building (a first run installs packages and builds everything, 4 to 20 minutes on two cores; all output in $log)" >&2
if ! "$repo/scripts/build.sh" 2>&1 | progress; then
  tail -n 30 "$log" >&2
  echo "demo: the set-up or the build failed; the whole output is in $log" >&2
  exit 1
fi
# The demo program sets up the sandbox and reads back what happened; Wine's
# processes get no terminal input.
exec xvfb-run -a -s "-screen 0 1280x1024x24" "$repo/scripts/with-wine.sh" "$build" \
  bash -c '"$WINE" "$0" "$@" </dev/null' "$build/bin/ostrilo_demo.exe" "$@"
