#!/bin/sh
# One version everywhere a package names it: the project version against the newest numbered entry of
# CHANGELOG.md, each program's version resource (fixed and string versions, and the manifest's; its German
# names and the file's own name), and the MSI's ProductVersion and Active Setup Version.
# Usage: version_test.sh VERSION WINDRES CHANGELOG PROGRAM... [MSI]
version=$1 windres=$2 changelog=$3 faults=0
shift 3
four="$version.0" commas="$(echo "$version" | tr . ,),0"
fault() { echo "$1: $2 (the project version is $version)"; faults=1; }
newest=$(sed -n 's/^## \([0-9][0-9]*\.[0-9][0-9]*\.[0-9][0-9]*\)\([^0-9.].*\)\{0,1\}$/\1/p' "$changelog" | head -n 1)
[ "$newest" = "$version" ] || fault "$changelog" "the newest version is '$newest'"
for file in "$@"; do
  case $file in
  *.msi)
    got=$(msiinfo export "$file" Property | tr -d '\r' | awk -F '\t' '$1 == "ProductVersion" { print $2 }')
    [ "$got" = "$version" ] || fault "$file" "ProductVersion '$got'"
    got=$(msiinfo export "$file" Registry | tr -d '\r' | awk -F '\t' '$4 == "Version" { print $5 }')
    [ "$got" = "$commas" ] || fault "$file" "Active Setup Version '$got'" ;;
  *)
    rc=$("$windres" -i "$file" -O rc 2>/dev/null)
    # With the German names a publisher rule reads, and the file's own name.
    for field in "FILEVERSION $commas" "PRODUCTVERSION $commas" "VALUE \"FileVersion\", \"$four\"" \
                 "VALUE \"ProductVersion\", \"$four\"" "BLOCK \"040704b0\"" "VALUE \"CompanyName\", \"Ostrilo\"" \
                 "VALUE \"ProductName\", \"Ostrilo Browserweiche\"" "VALUE \"OriginalFilename\", \"${file##*/}\""; do
      echo "$rc" | sed 's/, /,/g' | grep -q -F "$(echo "$field" | sed 's/, /,/g')" || fault "$file" "no $field"
    done
    for name in FileDescription InternalName LegalCopyright; do
      printf "%s\n" "$rc" | grep -q "VALUE \"$name\", L\{0,1\}\"[^\"]" || fault "$file" "no $name"
    done
    if echo "$rc" | grep -q 'assemblyIdentity type=""win32"" name=""Ostrilo""'; then
      echo "$rc" | grep -q -F "name=\"\"Ostrilo\"\" version=\"\"$four\"\"" || fault "$file" "another manifest version"
    fi ;;
  esac
done
exit $faults
