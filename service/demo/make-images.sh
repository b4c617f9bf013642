#!/usr/bin/env bash
# Redraws the demo's product and offer images (committed PNGs, so the demo
# does not need ImageMagick). Needs the real ImageMagick convert.
#
#   service/demo/make-images.sh [OUTDIR]     (default: service/demo/files/images)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
out=${1:-$here/files/images}
mkdir -p "$out"
convert=/usr/bin/convert
[ -x "$convert" ] || convert=$(command -v convert)

# name  top-colour  bottom-colour  label
draw() {
  "$convert" -size 128x128 "gradient:$2-$3" \
    \( -size 128x128 xc:none -fill white -draw "roundrectangle 0,0 127,127 22,22" \) \
    -compose DstIn -composite \
    -gravity center -font DejaVu-Sans-Bold -pointsize 40 -fill white \
    -stroke '#00000040' -strokewidth 1 -annotate +0+0 "$4" \
    -depth 8 -strip -define png:exclude-chunks=date,time "$out/$1.png"
}

draw product '#2f8fe0' '#0b3d6e' 'TD'
draw notes   '#f7c948' '#c98a00' 'No'
draw clean   '#4cc38a' '#17774a' 'Cl'
draw weather '#7ab8ff' '#3456c8' 'We'
draw backup  '#b07cff' '#5a2aa8' 'Bk'
echo "images in $out"
