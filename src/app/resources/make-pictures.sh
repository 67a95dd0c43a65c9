#!/usr/bin/env bash
# Redraws the program's raster pictures from quorvane.svg with ImageMagick. The results are
# committed, so the build never needs ImageMagick; run this only after changing the drawing.
set -euo pipefail
cd "$(dirname "$0")"

render() {  # render SIZE OUTPUT: oversample, then shrink for clean edges at small sizes
  convert -background none -density 1536 quorvane.svg -resize "$1x$1" -depth 8 -strip "PNG32:$2"
}
render 16 quorvane-16.png
render 32 quorvane-32.png
render 150 /tmp/quorvane-splash-icon.png

# The splash: a dark gradient, two rules, the icon, the name and a few faint "log lines".
convert -size 450x250 gradient:'#2a6a8c'-'#0c2433' \
  -stroke '#3c7f9f' -strokewidth 1 -draw "line 0,40 450,40" -draw "line 0,210 450,210" \
  -fill '#ffffff20' -stroke none \
  -draw "rectangle 190,150 420,153" -draw "rectangle 190,160 380,163" \
  -draw "rectangle 190,170 400,173" \
  /tmp/quorvane-splash-icon.png -geometry +25+50 -composite \
  -font DejaVu-Sans-Bold -pointsize 42 -fill white -annotate +190+116 'Quorvane' \
  -font DejaVu-Sans -pointsize 13 -fill '#cfe3ee' -annotate +191+140 \
  'Hotline server transfer log analyser' \
  -quality 88 -sampling-factor 4:2:0 -strip splash.jpg
rm -f /tmp/quorvane-splash-icon.png
