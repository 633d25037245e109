#!/usr/bin/env bash
# Rebuilds vesktestw.ico from vesktestw.svg with ImageMagick (6 or 7):
#   tester/ui/win32/icon/make-icon.sh
# The .ico is committed, so the build itself does not need ImageMagick; run
# this after changing the SVG and commit both.
set -euo pipefail
cd "$(dirname "$0")"
convert=$(command -v magick || command -v convert)
"$convert" -background none -density 384 vesktestw.svg \
  -depth 8 -define icon:auto-resize=256,48,32,16 vesktestw.ico
