#!/usr/bin/env bash
# Builds the fuzz targets of tests/fuzz natively with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer (build/fuzz) and runs each for SECONDS (default 600)
# per parser it covers, over a copy of its seed corpus in tests/fuzz/corpus.
# Fails on any finding: a crash, a broken property, a leak, an
# UndefinedBehaviorSanitizer report, an input slower than 10 s or a run above
# 2 GB, or a link of the rules corpus that Node's URL parser reads otherwise.
# The input behind a finding lands in build/fuzz/findings; replay it with
# build/fuzz/bin/<name>_fuzz FILE.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${OSTRILO_BUILD_DIR:-$repo/build}/fuzz"
seconds=${1:-600}

CC=clang CXX=clang++ cmake -S "$repo/cmake/native" -B "$build" -DOSTRILO_FUZZ=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)"

# Target, the longest input it is given, and how many SECONDS it runs (one for
# each parser it covers). A rule line is cut at 4094 bytes and a command line
# holds at most 32767 characters, so rule inputs reach a whole line against the
# longest link (slow matching shows up as a timeout); rule files go past the
# reader's first 64 KiB block; site lists reach entries longer than a rule line.
targets=("text 65536 5" "rules 36864 5" "files 139264 2" "sitelist 65536 2")
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
mkdir -p "$build/findings"
failed=0
for row in "${targets[@]}"; do
  read -r name max_len weight <<<"$row"
  work="$build/corpus/$name"
  rm -rf "$work" && mkdir -p "$work" && cp "$repo/tests/fuzz/corpus/$name"/* "$work"/
  log="$build/$name.log"
  status=ok
  "$build/bin/${name}_fuzz" "$work" -max_total_time=$((seconds * weight)) -max_len="$max_len" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/findings/$name-" >"$log" 2>&1 ||
    { status=FINDING; failed=1; }
  printf 'fuzz %-12s %-8s %s executions\n' "$name" "$status" \
    "$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
  [ "$status" = ok ] || tail -n 40 "$log"
done
# Every link of the rules corpus, seeds and finds, read as a browser sends it: Node's URL parser agrees.
native="${OSTRILO_BUILD_DIR:-$repo/build}/native"
cmake -S "$repo/cmake/native" -B "$native" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$native" -j"$(nproc)" --target native_unwrap_test >/dev/null
node "$repo/tests/native/browser_reading.js" "$native/bin/native_unwrap_test" "$build/corpus/rules" || failed=1
exit "$failed"
