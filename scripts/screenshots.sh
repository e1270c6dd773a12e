#!/usr/bin/env bash
# Takes the pictures of README and docs/ (docs/images/*.png) anew: the boxes a user sees
# (help, viewer not found, clipboard held by another program) and the demo's
# output. Runs on its own X display and in a Wine prefix of its own
# (build/screenshots/wineprefix), so the test prefix stays as it is.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${OSTRILO_BUILD_DIR:-$repo/build}"
images="$repo/docs/images"
mkdir -p "$images"

"$repo/scripts/build.sh" >/dev/null
# The demo output first (it brings up its own display and prefix), with the
# log records below INFO left out and the date taken off the rest.
demo_text=$("$repo/scripts/demo.sh" 2>/dev/null | tr -d '\r' | sed 's/[[:space:]]*$//' |
            grep -v -E ' (TRACE|DEBUG) ' | sed -E 's/^( *)[0-9]{4}-[0-9]{2}-[0-9]{2} /\1/')

. "$repo/scripts/wine-env.sh"
mkdir -p "$build/screenshots"
wine_prefix_env "$build/screenshots"
display=99
while [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1280x2400x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=":$display"
started=()
finish() {
  for pid in "${started[@]}"; do kill "$pid" 2>/dev/null || true; done
  wine_prefix_stop
  kill "$xvfb_pid" 2>/dev/null || true
}
trap finish EXIT
sleep 1
wine_prefix_start
# Wine draws title bars and frames itself when no window manager does.
"$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1

# A folder in the prefix with Ostrilo.exe and the stand-ins; no viewer is installed.
drive_c="$WINEPREFIX/drive_c"
rm -rf "$drive_c/shots" "$drive_c/Program Files/Corvane-Pro"
mkdir -p "$drive_c/shots/program" "$drive_c/shots/running" "$drive_c/shots/holder"
cp "$build/bin/Ostrilo.exe" "$drive_c/shots/program/"
cp "$build/bin/standin.exe" "$drive_c/shots/running/vncviewer.exe"
cp "$build/bin/standin.exe" "$drive_c/shots/holder/clipboard_holder.exe"

# Starts a Windows program in the background, remembered for the end.
start() {
  ( cd "$drive_c/shots/program" && exec "$WINE" "$@" </dev/null >/dev/null 2>&1 ) &
  started+=($!)
}

# Waits for the top-level window whose title begins with $2, saves it as $1.png
# and ends the program that shows it ($3, a process id).
shoot() {
  local id=""
  for _ in $(seq 1 100); do
    id=$(xwininfo -root -children | awk -v title="\"$2" 'index($0, title) { print $1; exit }')
    [ -n "$id" ] && break
    sleep 0.2
  done
  [ -n "$id" ] || { echo "screenshots: no window \"$2...\" for $1" >&2; exit 1; }
  sleep 0.5  # let Wine paint it
  import -display "$DISPLAY" -window "$id" "png8:$images/$1.png"
  kill "$3" 2>/dev/null || true
  wait "$3" 2>/dev/null || true
  echo "screenshots: $images/$1.png"
}

start 'C:\shots\program\Ostrilo.exe' -help
shoot help 'Feldrun Hilfe' "${started[-1]}"

# No viewer anywhere: the link cannot go to the remote browser.
start 'C:\shots\program\Ostrilo.exe' -url 'https://www.example.org/'
shoot viewer-not-found 'Feldrun' "${started[-1]}"

# A running viewer without a pipe, and another program keeping the clipboard open
# (both are the stand-in of the tests).
STANDIN_WINDOW=Corvane-Pro start 'C:\shots\running\vncviewer.exe'
STANDIN_WINDOW=- STANDIN_HOLD_CLIPBOARD=1 start 'C:\shots\holder\clipboard_holder.exe'
sleep 2
start 'C:\shots\program\Ostrilo.exe' -url 'https://www.example.org/'
shoot clipboard-blocked 'Feldrun' "${started[-1]}"

# The demo's output as a terminal shows it. label: reads % and \ as escapes
# and takes at most 4096 bytes, so it gets the text in pieces of 20 lines.
demo_text=${demo_text//\\/\\\\}
demo_text=${demo_text//%/%%}
# label: drops the blanks that begin a piece; no-break spaces stay.
demo_text=$(printf '%s\n' "$demo_text" | sed -E ':a;s/^((\xc2\xa0)*) /\1\xc2\xa0/;ta')
labels=()
lines=$(printf '%s\n' "$demo_text" | wc -l)
for first in $(seq 1 20 "$lines"); do
  labels+=("label:$(printf '%s\n' "$demo_text" | sed -n "${first},$((first + 19))p")")
done
convert -background '#1e1e1e' -fill '#e0e0e0' -font DejaVu-Sans-Mono -pointsize 12 "${labels[@]}" -append +repage \
        -bordercolor '#1e1e1e' -border 12 "png8:$images/demo.png"
echo "screenshots: $images/demo.png"
rm -rf "$drive_c/shots"
