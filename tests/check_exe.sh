#!/bin/sh
# One self-contained PE32+ program of subsystem $3 (2: GUI, 3: console) importing only DLLs every
# Windows has: no runtime DLL of the compiler (libgcc, libstdc++, winpthread), no PCRE2 DLL.
headers=$("$1" -p "$2") || exit 1
echo "$headers" | grep -q 'Magic[[:space:]]*020b' || { echo "not PE32+"; exit 1; }
echo "$headers" | grep -q "Subsystem[[:space:]]*0000000$3" || { echo "not of subsystem $3"; exit 1; }
others=$(echo "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' |
  grep -v -x -E '(kernel32|user32|advapi32|shell32|shlwapi|ole32|version|crypt32|msvcrt)\.dll')
[ -z "$others" ] || { echo "imports DLLs that are not part of Windows: $others"; exit 1; }
