#!/usr/bin/env bash
# Lays out the demo's files folder (what the service serves under /f/):
#   OUTDIR/images/*.png      product and offer images
#   OUTDIR/installers/*.exe  small harmless Windows installers
#   OUTDIR/installers/tool-setup.zip  one of them in a ZIP archive, with a readme
#   OUTDIR/legal/*.html      privacy and terms pages the campaign links to
#
#   service/demo/build-demo-files.sh OUTDIR
# CC overrides the cross compiler (default i686-w64-mingw32-gcc-posix).
set -euo pipefail
if [ $# -ne 1 ]; then
  echo "usage: $0 OUTDIR" >&2
  exit 2
fi
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
out=$1
cc=${CC:-}
if [ -z "$cc" ]; then
  for c in i686-w64-mingw32-gcc-posix i686-w64-mingw32-gcc; do
    if command -v "$c" >/dev/null 2>&1; then cc=$c; break; fi
  done
fi
if [ -z "$cc" ]; then
  echo "$0: no MinGW cross compiler (install g++-mingw-w64-i686-posix)" >&2
  exit 1
fi

mkdir -p "$out/images" "$out/installers" "$out/legal"
cp "$here"/files/images/*.png "$out/images/"
cp "$here"/files/legal/*.html "$out/legal/"

# file name (as the campaign names it)  marker name
while read -r exe name; do
  "$cc" -Os -s -municode -mwindows -static -Wall -Wextra \
    "-DDEMO_NAME=L\"$name\"" -o "$out/installers/$exe.tmp" "$here/installers/demo-installer.c"
  mv -f "$out/installers/$exe.tmp" "$out/installers/$exe"
done <<'LIST'
tamsel-demo-app.exe app
notes-setup.exe notes
clean-setup.exe clean
weather-setup.exe weather
backup-setup.exe backup
tool-setup.exe tool
LIST

# The product is the size of a real one, so its download shows on the
# progress bar; the padding after the program is never read.
head -c 3000000 /dev/zero >>"$out/installers/tamsel-demo-app.exe"

# An offer delivered as an archive: the wizard unpacks it and starts the
# program inside.
python3 - "$out/installers" <<'PY'
import sys, zipfile
folder = sys.argv[1]
with zipfile.ZipFile(folder + "/tool-setup.zip.tmp", "w", zipfile.ZIP_DEFLATED) as archive:
    archive.write(folder + "/tool-setup.exe", "setup.exe")
    archive.writestr("readme.txt", "Tamsel Tool, a demo package delivered as a ZIP archive.\r\n")
PY
mv -f "$out/installers/tool-setup.zip.tmp" "$out/installers/tool-setup.zip"
echo "demo files in $out"
