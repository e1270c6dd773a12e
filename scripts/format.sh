#!/usr/bin/env bash
# Formats every C++ file of the tree with .clang-format (Debian's clang-format).
# With --check it changes nothing and fails when a file is not formatted;
# scripts/test.sh runs that check first.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
mapfile -t files < <(git ls-files -co --exclude-standard -- '*.cpp' '*.h')
if [ "${1:-}" = --check ]; then
  clang-format --dry-run --Werror "${files[@]}"
else
  clang-format -i "${files[@]}"
fi
