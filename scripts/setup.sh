#!/usr/bin/env bash
# Takes a fresh Debian 12 machine to a built Tamsel: both cross toolchains (the
# 32-bit product, the 64-bit test build), Wine (with wine32), Xvfb, the
# libraries, tinyxml2's source, then every build tree.
# Safe to run again: it only installs what is missing and stays quiet otherwise.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
DEPS="$ROOT/.deps"
log() { printf '[setup] %s\n' "$*"; }

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

# Host packages the build, the service and the tests use (the service's tests
# start a PostgreSQL server of their own and drive Chromium for the report page).
PKGS=(cmake make g++ pkg-config dpkg-dev g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools
      wine wine32:i386 wine64 xvfb x11-apps x11-utils imagemagick
      nlohmann-json3-dev googletest libgtest-dev libcpp-httplib-dev libssl-dev
      libsqlite3-dev sqlite3 libcli11-dev openssl curl procps python3 locales
      postgresql libpq-dev chromium chromium-driver)

missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

apt_updated=0
apt_update() {
  [ "$apt_updated" -eq 1 ] && return 0
  # The security suite's i386 index sometimes arrives with the wrong size; the
  # main suite has everything we need, so carry on past that error.
  as_root apt-get update -qq >/dev/null 2>&1 || log "apt-get update reported errors (tolerated)"
  apt_updated=1
}

if [ "${#missing[@]}" -gt 0 ]; then
  log "installing: ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
  fi
  apt_update
  # -t bookworm keeps the amd64 and i386 library versions equal for wine32.
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -t bookworm \
    --no-install-recommends "${missing[@]}" >/dev/null
fi

# tinyxml2 from Debian's source package, compiled into the program by CMake.
if ! ls -d "$DEPS"/tinyxml2-*/tinyxml2.cpp >/dev/null 2>&1; then
  log "fetching tinyxml2 source"
  src=/etc/apt/sources.list.d/tamsel-deb-src.sources
  if [ ! -f "$src" ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources | as_root tee "$src" >/dev/null
    apt_updated=0
  fi
  apt_update
  mkdir -p "$DEPS"
  (cd "$DEPS" && apt-get source -qq tinyxml2 >/dev/null 2>&1)
  ls -d "$DEPS"/tinyxml2-*/tinyxml2.cpp >/dev/null
fi

# Wine takes the user's locale from the C library's: the locale tests and the
# demo's Spanish walk need these generated.
for l in de_DE pt_PT ja_JP en_US es_ES; do
  locale -a 2>/dev/null | grep -qix "$l.utf8" || as_root localedef -i "$l" -f UTF-8 "$l.UTF-8"
done

"$ROOT/scripts/build.sh"
