#!/usr/bin/env bash
# Installs what building and testing Ostrilo needs on Debian 12, and fetches the
# PCRE2 source. Safe to run again: it only does what is still missing.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
deps="$repo/.deps"
packages=(g++-mingw-w64-x86-64-posix mingw-w64-tools cmake make wine wine64 xvfb xauth
          googletest dpkg-dev xz-utils bzip2 ca-certificates
          wixl zip imagemagick x11-utils fonts-dejavu-core)

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

# apt-get source needs a deb-src entry; Debian's images ship only deb entries.
src_list=/etc/apt/sources.list.d/ostrilo-deb-src.sources
need_update=0
if [ ! -f "$src_list" ]; then
  as_root tee "$src_list" >/dev/null <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  need_update=1
fi

if [ ${#missing[@]} -gt 0 ] || [ "$need_update" = 1 ]; then
  as_root apt-get update -q
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# PCRE2: Debian ships no mingw build, so the 8-bit library is built from the
# source package together with the program. Only the upstream tarball is used.
if [ ! -f "$deps/pcre2/CMakeLists.txt" ]; then
  mkdir -p "$deps/download"
  ( cd "$deps/download" && rm -rf ./* && apt-get source --download-only -q pcre2 )
  tarball=$(ls "$deps"/download/pcre2_*.orig.tar.* | head -n 1)
  rm -rf "$deps/pcre2.tmp" && mkdir -p "$deps/pcre2.tmp"
  tar -xf "$tarball" -C "$deps/pcre2.tmp" --strip-components=1
  rm -rf "$deps/pcre2" && mv "$deps/pcre2.tmp" "$deps/pcre2"
  echo "setup: PCRE2 source in $deps/pcre2"
fi
