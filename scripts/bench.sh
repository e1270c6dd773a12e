#!/usr/bin/env bash
# Times whole runs of Ostrilo.exe under Wine, started as the shell starts a
# browser for a clicked link (no console, no standard handles), against two
# floor programs of the same toolchain. Prints a Markdown table and writes it
# to build/bench/results.md. Then times the native ostrilo-admin
# import-sitelist of generated site lists up to the 32 MiB bound, with its peak memory.
# Usage: scripts/bench.sh [RUNS [PATTERN]]  (default 15 runs of every case, interleaved; with
#                                           PATTERN only the floors and the cases whose names
#                                           match it, an extended regular expression, no import)
#        scripts/bench.sh import [RUNS]     (only the native import, default 5 runs)
# OSTRILO_BENCH_BEFORE=<an Ostrilo.exe built from an earlier commit> also times
# the unwrap_links, whitelist_copy and current whitelist_url cases with that program, interleaved with
# the others in the same run, as "<case>, before", and prints their ratios.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${OSTRILO_BUILD_DIR:-$repo/build}"

# RUNS native imports of each generated list: wall time in ms, the median
# processor time (user and system; it holds on a busy machine, where the wall
# time does not) and the peak memory (the largest resident set of any run). The lists: N sites with
# distinct hosts (every tenth with a path, every fiftieth repeating the one
# before it, open-in spread), one such list filled up to the 32 MiB bound, and
# the most sites a list may hold, as short as they come.
bench_import() {
  local runs="$1" native="$repo/build/native" dir="$build/bench-import"
  cmake -S "$repo/cmake/native" -B "$native" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$native" -j"$(nproc)" --target ostrilo-admin >/dev/null
  mkdir -p "$dir"
  echo "Native ostrilo-admin import-sitelist, $runs runs each, wall time in ms, processor time in ms, peak memory in MiB:"
  echo
  echo "| list | bytes | sites | min | median | max | processor | peak MiB |"
  echo "|---|---|---|---|---|---|---|---|"
  local row name n fill short
  for row in "100000-sites 100000 0 0" "300000-sites 300000 0 0" "32-MiB 0 33554432 0" "1000000-short 1000000 0 1"; do
    read -r name n fill short <<<"$row"
    awk -v n="$n" -v fill="$fill" -v short="$short" 'BEGIN {
      split("IE11 MSEdge None", open_in, " ")
      print "<site-list version=\"1\">"; bytes = 24 + 13
      for (i = 1; n == 0 || i <= n; i++) {
        j = i % 50 == 0 ? i - 1 : i
        if (short) line = sprintf("<site url=\"s%d.example\"/>", i)
        else line = sprintf("<site url=\"site%d.example%d.com%s\"><open-in>%s</open-in></site>",
                            j, j % 7, j % 10 == 0 ? "/app/" j : "", open_in[i % 3 + 1])
        if (fill && bytes + length(line) + 1 > fill) break
        print line; bytes += length(line) + 1 }
      print "</site-list>" }' > "$dir/$name.xml"
    local times=() cpus=() peak=0 start end kib user sys
    for _ in $(seq "$runs"); do
      start=$(date +%s%N)
      /usr/bin/time -f '%M %U %S' -o "$dir/peak.txt" "$native/bin/ostrilo-admin" import-sitelist "$dir/$name.xml" \
        >"$dir/rules.txt" 2>"$dir/summary.txt"
      end=$(date +%s%N)
      times+=($(( (end - start) / 1000000 )))
      read -r kib user sys < <(tail -n 1 "$dir/peak.txt")
      cpus+=("$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%d", (u + s) * 1000 }')")
      if (( kib > peak )); then peak=$kib; fi
    done
    local cpu
    cpu=$(printf '%s\n' "${cpus[@]}" | sort -n | awk '{ c[NR] = $1 } END { print NR % 2 ? c[(NR + 1) / 2] : int((c[NR / 2] + c[NR / 2 + 1]) / 2) }')
    printf '%s\n' "${times[@]}" | sort -n | awk -v name="${name//-/ }" -v bytes="$(stat -c %s "$dir/$name.xml")" \
      -v sites="$(grep -c '<site ' "$dir/$name.xml")" -v peak="$peak" -v cpu="$cpu" '{ t[NR] = $1 }
      END { printf "| %s | %d | %d | %d | %d | %d | %d | %d |\n", name, bytes, sites, t[1],
            NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2, t[NR], cpu, (peak + 1023) / 1024 }'
  done
}

if [ "${1:-}" = "import" ]; then
  bench_import "${2:-5}" | tee "$build/bench-import.md"
  exit 0
fi
runs="${1:-15}"
pattern="${2:-}"
before="${OSTRILO_BENCH_BEFORE:-}"
variants=("")
if [ -n "$before" ]; then
  [ -f "$before" ] || { echo "bench: OSTRILO_BENCH_BEFORE: no file $before" >&2; exit 2; }
  variants+=(".before")
fi
# The program of a variant: this build's, or the earlier one.
program_of() { if [ -z "$1" ]; then echo "$bin/Ostrilo.exe"; else echo "$before"; fi; }

"$repo/scripts/setup.sh" >/dev/null
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$repo" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target Ostrilo bench_floor_empty bench_floor_shell bench_launch \
      standin >/dev/null

bin="$build/bin"
work="$build/bench"
rm -rf "$work"
mkdir -p "$work/floor" "$work/viewer"
win() { printf 'Z:%s' "${1//\//\\}"; }

link="https://target.example.net/page"
miss="https://nowhere.example.invalid/page"
cp "$bin/bench_floor_empty.exe" "$bin/bench_floor_shell.exe" "$work/floor/"
cp "$bin/standin.exe" "$work/floor/firefox.exe"
cp "$bin/standin.exe" "$work/viewer/vncviewer.exe"
# N rules: N-1 that do not match the link, then the one that does.
for n in 1 1001 10001 100001; do
  dir="$work/r$n"
  mkdir -p "$dir"
  cp "$bin/Ostrilo.exe" "$dir/"
  cp "$bin/standin.exe" "$dir/firefox.exe"
  awk -v n="$n" 'BEGIN {
    printf "# %d rules\r\n", n
    for (i = 1; i < n; i++) printf "*.host%d.example.com/*|local|firefox\r\n", i
    printf "target.example.net/*|local|firefox\r\n" }' > "$dir/url whitelist.txt"
done

# unwrap_links=1 beside the rules of r1001: the same link, as it is and wrapped by Safe Links.
for v in "${variants[@]}"; do
  mkdir -p "$work/r1001u$v"
  cp "$work/r1001/"* "$work/r1001u$v/"
  cp "$(program_of "$v")" "$work/r1001u$v/Ostrilo.exe"
  printf 'unwrap_links=1\r\n' > "$work/r1001u$v/ostrilo.cfg"
done
wrapped="https://eur01.safelinks.protection.outlook.com/?url=https%3A%2F%2Ftarget.example.net%2Fpage&data=x&reserved=0"

# event_log beside the rules of r1001, in an ostrilo.cfg without the key and
# with 1 and 2: the routed link writes no event with 1 and one with 2.
for e in 0 1 2; do
  mkdir -p "$work/r1001e$e"
  cp "$work/r1001/"* "$work/r1001e$e/"
  { printf 'product_name=Corvane-Pro\r\n'; [ "$e" = 0 ] || printf 'event_log=%s\r\n' "$e"; } > "$work/r1001e$e/ostrilo.cfg"
done

# The central file of 100,001 rules named by whitelist_path, without and with
# whitelist_copy=1; each case with the key keeps its copy in a LOCALAPPDATA of
# its own. "changed" flips a byte of its comment line before every run, so each
# run finds the file changed and writes the copy anew; "fallback" names a file
# that is missing and finds a copy of it, made here in the copy's form.
for v in "${variants[@]}"; do
  for c in off current changed fallback; do
    d="$work/c_$c$v"
    mkdir -p "$d/central" "$d/local"
    cp "$(program_of "$v")" "$d/Ostrilo.exe"
    cp "$bin/standin.exe" "$d/firefox.exe"
    cp "$work/r100001/url whitelist.txt" "$d/central/"
    { [ "$c" = off ] || printf 'whitelist_copy=1\r\n'
      printf 'whitelist_path=%s\r\n' "$(win "$d/central/url whitelist.txt")"; } > "$d/ostrilo.cfg"
  done
  body="$work/c_fallback$v/central/url whitelist.txt"
  mkdir -p "$work/c_fallback$v/local/Ostrilo"
  { printf 'Ostrilo rule file copy\r\nsource: %s\r\nread: 2026-01-01 00:00:00 UTC\r\n' "$(win "$body")"
    printf 'length: %s\r\nsha256: %s\r\n\r\n' "$(stat -c %s "$body")" "$(sha256sum "$body" | cut -d' ' -f1)"
    cat "$body"; } > "$work/c_fallback$v/local/Ostrilo/whitelist copy.txt"
  rm "$body"
done

# whitelist_url with a cache of the same 100,001 rules: current (nothing is
# fetched), and made an hour old before every run, so that each run refreshes
# it after the hand-off; the tests' loopback server answers 304. Both cases
# also time the start of the stand-in browser (its calls file written).
server="$work/server"
mkdir -p "$server"
python3 "$repo/tests/e2e/list_server.py" "$server" &
for _ in $(seq 100); do [ -s "$server/port.txt" ] && break; sleep 0.1; done
list_url="http://127.0.0.1:$(cat "$server/port.txt")/rules.txt"
rules="$work/r100001/url whitelist.txt"
cp "$rules" "$server/rules.txt"
for c in current stale ${before:+current.before}; do
  mkdir -p "$work/u_$c/local/Ostrilo"
  cp "$(program_of "${c#current}")" "$work/u_$c/Ostrilo.exe"
  cp "$bin/standin.exe" "$work/u_$c/firefox.exe"
  # The current cache stays current for a day, whatever the bench takes; the old one is refreshed after 30 minutes.
  { printf 'whitelist_url=%s\r\n' "$list_url"
    [ "$c" = stale ] || printf 'whitelist_refresh_minutes=1440\r\n'; } > "$work/u_$c/ostrilo.cfg"
  cache="$work/u_$c/local/Ostrilo/central list.txt"
  { printf 'Ostrilo central rule list\r\nsource: %s\r\nformat: rules\r\nread: 2026-01-01 00:00:00 UTC\r\n' "$list_url"
    printf 'etag: "%s"\r\nlast-modified: \r\nlength: %012d\r\nsha256: %s\r\n\r\n' "$(sha256sum "$rules" | cut -c1-16)" \
      "$(stat -c %s "$rules")" "$(sha256sum "$rules" | cut -d' ' -f1)"
    cat "$rules"; } > "$cache"
  touch -d "@$(date +%s)" "$cache"  # a whole second, as Ostrilo stamps it
done

# Twenty policy values beside the rules of r1001, written before each of its runs and removed after: every
# key by machine policy, six of them by user policy as well, none changing where the link goes.
policy="$work/policy.tsv"
{ for name in local_browser_bin local_firefox local_chrome local_edge local_ie; do
    printf 'HKLM\t%s\tREG_SZ\t%s\n' "$name" "$(win "$work/r1001/firefox.exe")"; done
  printf 'HKLM\tproduct_name\tREG_SZ\tCorvane-Pro\nHKLM\twhitelist_timeout_ms\tREG_DWORD\t5000\n'
  for name in lotus_notes_html_workaround safe_browser_arguments strict_host_match strict_command_line \
              settings_page unwrap_links whitelist_copy; do printf 'HKLM\t%s\tREG_DWORD\t0\n' "$name"; done
  printf 'HKCU\tproduct_name\tREG_SZ\tCorvane-Pro\nHKCU\tlocal_firefox\tREG_EXPAND_SZ\t%%SystemRoot%%\\firefox.exe\n'
  for name in safe_browser_arguments strict_host_match unwrap_links whitelist_copy; do
    printf 'HKCU\t%s\tREG_DWORD\t0\n' "$name"; done; } > "$policy"

cases="$work/cases.txt"
{
  printf 'background\t%s\t"%s"\t%s\n' "$(win "$work/viewer")" "$(win "$work/viewer/vncviewer.exe")" \
    'STANDIN_FOR=vncviewer.exe;STANDIN_WINDOW=Corvane-Pro Viewer;STANDIN_PIPE=\\.\pipe\feldrun-pipe'
  printf 'case\tfloor: empty GUI program\tnone\t%s\t"%s"\n' "$(win "$work/floor")" \
    "$(win "$work/floor/bench_floor_empty.exe")"
  printf 'case\tfloor: shell request\tnone\t%s\t"%s" firefox "%s"\n' "$(win "$work/floor")" \
    "$(win "$work/floor/bench_floor_shell.exe")" "$link"
  for n in 1 1001 10001 100001; do
    printf 'case\trule %s of %s\tnone\t%s\t"%s" -url "%s"\n' "$n" "$n" "$(win "$work/r$n")" \
      "$(win "$work/r$n/Ostrilo.exe")" "$link"
  done
  printf 'case\trule 1001 of 1001, twenty policy values\tnone\t%s\t"%s" -url "%s"\t\tpolicy:%s\n' \
    "$(win "$work/r1001")" "$(win "$work/r1001/Ostrilo.exe")" "$link" "$(win "$policy")"
  for v in "${variants[@]}"; do
    later="${v:+, before}"
    printf 'case\trule 1001 of 1001, unwrap_links=1, %s\tnone\t%s\t"%s" -url "%s"\n' "link as it is$later" \
      "$(win "$work/r1001u$v")" "$(win "$work/r1001u$v/Ostrilo.exe")" "$link" \
      "link wrapped by Safe Links$later" "$(win "$work/r1001u$v")" "$(win "$work/r1001u$v/Ostrilo.exe")" "$wrapped"
  done
  for e in 0 1 2; do
    name="rule 1001 of 1001, ostrilo.cfg without event_log"
    [ "$e" = 0 ] || name="rule 1001 of 1001, event_log=$e"
    printf 'case\t%s\tnone\t%s\t"%s" -url "%s"\n' "$name" "$(win "$work/r1001e$e")" \
      "$(win "$work/r1001e$e/Ostrilo.exe")" "$link"
  done
  printf 'case\trule 10001 of 10001, -log\tnone\t%s\t"%s" -url "%s" -log\n' "$(win "$work/r10001")" \
    "$(win "$work/r10001/Ostrilo.exe")" "$link"
  printf 'case\trule 10001 of 10001, standard error to a file\tstderr:%s\t%s\t"%s" -url "%s"\n' \
    "$(win "$work/stderr.txt")" "$(win "$work/r10001")" "$(win "$work/r10001/Ostrilo.exe")" "$link"
  printf 'case\tremote: pipe to a running viewer (1 rule, no match)\tnone\t%s\t"%s" -url "%s"\n' \
    "$(win "$work/r1")" "$(win "$work/r1/Ostrilo.exe")" "$miss"
  printf 'case\tno match in 10001 rules (pipe to the viewer)\tnone\t%s\t"%s" -url "%s"\n' \
    "$(win "$work/r10001")" "$(win "$work/r10001/Ostrilo.exe")" "$miss"
  for v in "${variants[@]}"; do
    printf 'case\t%s\tnone\t%s\t"%s" -url "%s"\tLOCALAPPDATA=%s\tstarted:%s\n' \
      "whitelist_url, cache current, rule 100001 of 100001${v:+, before}" "$(win "$work/u_current$v")" \
      "$(win "$work/u_current$v/Ostrilo.exe")" "$link" "$(win "$work/u_current$v/local")" \
      "$(win "$work/u_current$v/firefox.exe.calls.txt")"
  done
  printf 'case\t%s\tnone\t%s\t"%s" -url "%s"\tLOCALAPPDATA=%s\tage:%s|started:%s\n' \
    "whitelist_url, cache an hour old: refreshed after the hand-off (304)" "$(win "$work/u_stale")" \
    "$(win "$work/u_stale/Ostrilo.exe")" "$link" "$(win "$work/u_stale/local")" \
    "$(win "$work/u_stale/local/Ostrilo/central list.txt")" "$(win "$work/u_stale/firefox.exe.calls.txt")"
  for v in "${variants[@]}"; do
    for c in off current changed fallback; do
      case $c in
        off) name="whitelist_path, rule 100001 of 100001" ;;
        current) name="whitelist_copy=1, copy current" ;;
        changed) name="whitelist_copy=1, file changed: copy written" ;;
        fallback) name="whitelist_copy=1, file missing: copy used" ;;
      esac
      d="$work/c_$c$v"
      flip=""
      [ "$c" = changed ] && flip="flip:2:$(win "$d/central/url whitelist.txt")"
      printf 'case\t%s\tnone\t%s\t"%s" -url "%s"\tLOCALAPPDATA=%s\t%s\n' "$name${v:+, before}" "$(win "$d")" \
        "$(win "$d/Ostrilo.exe")" "$link" "$(win "$d/local")" "$flip"
    done
  done
} | awk -F '\t' -v pattern="$pattern" '$1 != "case" || $2 ~ /^floor/ || $2 ~ pattern' > "$cases"

raw="$work/raw.tsv"
xvfb-run -a -s "-screen 0 1280x1024x24" "$repo/scripts/with-wine.sh" "$build" \
  sh -c '"$WINE" "$1" "$2" "$3" </dev/null >"$4" 2>"$4.err"' sh \
  "$bin/bench_launch.exe" "$runs" "$(win "$cases")" "$raw" || true
touch "$server/quit"

exe_kib=$(( $(stat -c %s "$bin/Ostrilo.exe") / 1024 ))
cpu=$(lscpu | sed -n 's/^Model name: *//p' | head -n 1)
wine_version=$(. "$repo/scripts/wine-env.sh"; wine_prefix_env "$build"; "$WINE" --version 2>/dev/null || true)
result="$work/results.md"
awk -F '\t' -v runs="$runs" -v exe_kib="$exe_kib" -v cpu="$cpu" -v wine="$wine_version" '
  # A ratio of two medians, 0 when a case was not run.
  function ratio(a, b) { return b ? a / b : 0 }
  function median(list, n,   i, j, t, a) {
    n = split(list, a, " ")
    for (i = 2; i <= n; i++) { t = a[i]; for (j = i - 1; j >= 1 && a[j] + 0 > t + 0; j--) a[j + 1] = a[j]; a[j + 1] = t }
    lo = a[1]; hi = a[n]
    return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
  }
  { sub(/\r$/, "") }
  $1 == "peak" { peaks[$2] = $3; next }
  { if (!($1 in times)) order[++count] = $1
    times[$1] = times[$1] " " $2
    if (NF >= 4) starts[$1] = starts[$1] " " $4
    if ($3 != "0") bad[$1]++ }
  END {
    floor = median(times["floor: shell request"])
    print "CPU: " cpu ", " wine ", " runs " runs each, times in ms, ratios of medians, no standard handles unless named."
    print ""
    print "| run | min | median | max | × shell-request floor | peak working set | browser started (median) |"
    print "|---|---|---|---|---|---|---|"
    for (k = 1; k <= count; k++) {
      name = order[k]; m = median(times[name]); l = lo; h = hi; p = peaks[name]
      started[name] = name in starts ? median(starts[name]) : ""
      printf "| %s%s | %.0f | %.0f | %.0f | %.2f | %.1f MiB | %s |\n", name, bad[name] ? " (exit status not 0!)" : "",
             l, m, h, floor ? m / floor : 0, p / 1024, started[name] == "" ? "" : sprintf("%.0f", started[name])
      med[name] = m
    }
    print ""
    current = "whitelist_url, cache current, rule 100001 of 100001"
    stale = "whitelist_url, cache an hour old: refreshed after the hand-off (304)"
    if (current in med && "whitelist_path, rule 100001 of 100001" in med)
      printf "whitelist_url: a click with a current cache of 100,001 rules at %.2f× the same rules by whitelist_path.\n",
             med[current] / med["whitelist_path, rule 100001 of 100001"]
    if (current in med && stale in med)
      # The refresh begins with a pause of 500 ms (start_pause_ms of src/rules/central_refresh.cpp).
      printf "whitelist_url: the browser started after %.0f ms with the cache current, %.0f ms with a refresh after the hand-off (%.2f×); the run ends %.0f ms later: the pause of 500 ms, then the refresh itself, %.0f ms.\n",
             started[current], started[stale], started[stale] / started[current], med[stale] - med[current],
             med[stale] - med[current] - 500
    # Each summary line only when its cases ran (a PATTERN runs some).
    if ("rule 100001 of 100001" in med) {
      printf "P1: rule 1001 of 1001 at %.2f× the shell-request floor. ", ratio(med["rule 1001 of 1001"], floor)
      printf "P2: rule 100001 minus rule 1 of 1: %+.0f ms. ", med["rule 100001 of 100001"] - med["rule 1 of 1"]
      printf "Peak working set of rule 100001 over the shell-request floor: %+.1f MiB. ",
             (peaks["rule 100001 of 100001"] - peaks["floor: shell request"]) / 1024
    }
    printf "Ostrilo.exe: %d KiB.\n", exe_kib
    wrapped = med["rule 1001 of 1001, unwrap_links=1, link wrapped by Safe Links"]
    plain = med["rule 1001 of 1001, unwrap_links=1, link as it is"]
    if (plain)
      printf "P3: with unwrap_links=1, the wrapped link at %.2f× the same link as it is.\n", ratio(wrapped, plain)
    policy = med["rule 1001 of 1001, twenty policy values"]
    if (policy)
      printf "P4: twenty policy values at %.2f× the same run without.\n", ratio(policy, med["rule 1001 of 1001"])
    without = med["rule 1001 of 1001, ostrilo.cfg without event_log"]
    if (without)
      printf "event_log over the same ostrilo.cfg without it: 1 at %.2f×, 2 at %.2f×.\n",
             ratio(med["rule 1001 of 1001, event_log=1"], without), ratio(med["rule 1001 of 1001, event_log=2"], without)
    off = med["whitelist_path, rule 100001 of 100001"]
    if (off)
      printf "whitelist_copy=1 over whitelist_path alone: copy current %.2f×, file changed %.2f×, copy used %.2f×.\n",
             ratio(med["whitelist_copy=1, copy current"], off),
             ratio(med["whitelist_copy=1, file changed: copy written"], off),
             ratio(med["whitelist_copy=1, file missing: copy used"], off)
    # With OSTRILO_BENCH_BEFORE: each case of the earlier program against the same case of this build.
    for (k = 1; k <= count; k++)
      if (order[k] ~ /, before$/) {
        name = substr(order[k], 1, length(order[k]) - 8)
        if (name in med)
          printf "%s: this build at %.2f× the earlier one.\n", name, ratio(med[name], med[order[k]])
      }
  }' "$raw" | tee "$result"
if [ -s "$raw.err" ]; then
  echo "bench_launch reported:" >&2
  cat "$raw.err" >&2
fi
[ -n "$pattern" ] && exit 0
echo
bench_import 5 | tee -a "$result"
