#!/bin/sh
# Ostrilo.exe must be one self-contained PE32+ GUI program: no runtime DLLs of
# the compiler (libgcc, libstdc++, winpthread) and no PCRE2 DLL, only DLLs that
# every Windows has. ostrilo-admin.exe likewise, as a console program (third
# argument "console").
set -eu
objdump="$1"
exe="$2"
subsystem=00000002
[ "${3:-}" = console ] && subsystem=00000003
headers=$("$objdump" -p "$exe")
echo "$headers" | grep -q 'Magic[[:space:]]*020b' || { echo "not PE32+"; exit 1; }
echo "$headers" | grep -q "Subsystem[[:space:]]*$subsystem" || { echo "not of subsystem $subsystem"; exit 1; }
status=0
for dll in $(echo "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p'); do
  case $(echo "$dll" | tr 'A-Z' 'a-z') in
    kernel32.dll|user32.dll|advapi32.dll|shell32.dll|shlwapi.dll|ole32.dll|version.dll|msvcrt.dll) echo "imports $dll" ;;
    *) echo "imports a DLL that is not part of Windows: $dll"; status=1 ;;
  esac
done
exit $status
