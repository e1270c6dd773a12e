#!/usr/bin/env bash
# Installs what building and testing Ostrilo needs on Debian 12, and fetches the
# PCRE2 and pugixml sources. Safe to run again: it only does what is still missing.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
deps="$repo/.deps"
packages=(g++-mingw-w64-x86-64-posix mingw-w64-tools cmake make wine wine64 xvfb xauth
          googletest dpkg-dev xz-utils bzip2 ca-certificates
          nlohmann-json3-dev g++ clang libclang-rt-14-dev
          wixl msitools zip unzip osslsigncode openssl python3 imagemagick x11-utils fonts-dejavu-core
          clang-format nodejs time libxml2-utils)

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

# PCRE2 and pugixml (the site-list import of ostrilo-admin): Debian ships no
# mingw builds, so both are built from their source packages together with the
# programs, for mingw and natively alike. Only the upstream tarball is used.
fetch_source() {
  local package=$1
  [ -f "$deps/$package/CMakeLists.txt" ] && return
  mkdir -p "$deps/download"
  ( cd "$deps/download" && rm -rf ./* && apt-get source --download-only -q "$package" )
  local tarball
  tarball=$(ls "$deps"/download/"$package"_*.orig.tar.* | head -n 1)
  rm -rf "$deps/$package.tmp" && mkdir -p "$deps/$package.tmp"
  tar -xf "$tarball" -C "$deps/$package.tmp" --strip-components=1
  rm -rf "${deps:?}/$package" && mv "$deps/$package.tmp" "$deps/$package"
  echo "setup: $package source in $deps/$package"
}
fetch_source pcre2
fetch_source pugixml
