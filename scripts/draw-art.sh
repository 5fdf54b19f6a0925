#!/usr/bin/env bash
# Draws the console's bitmaps and icons with ImageMagick into console/art/.
# The output is kept in the repository, so building never runs this; run it
# again after changing a picture here:  ./scripts/draw-art.sh
#
# Every picture is named by its resource number: bmp<id>.png, ico<id>.png.
# The main background paints the parts that are not window in the colour
# key RGB(229, 27, 255); the console cuts those parts out of its window.
set -euo pipefail
cd "$(dirname "$0")/.."
out=console/art
mkdir -p "$out"

IM=/usr/bin/convert
[ -x "$IM" ] || IM=convert
FONT=DejaVu-Sans
BOLD=DejaVu-Sans-Bold
KEY='rgb(229,27,255)'

# A button face: file, word(s), look (normal | pressed | hover | light).
button() {
  local file=$1 text=$2 look=$3 w=${4:-99} h=${5:-25}
  local top bottom border ink dx=0 dy=0
  case $look in
    normal)  top='#fbfdff' bottom='#c5d5e8' border='#50708f' ink='#1c3553' ;;
    hover)   top='#ffffff' bottom='#dbe8f6' border='#e08a1e' ink='#1c3553' ;;
    pressed) top='#8fa9c6' bottom='#c7d6e7' border='#2a4766' ink='#10243b'; dx=1; dy=1 ;;
    *) echo "unknown look $look" >&2; exit 1 ;;
  esac
  "$IM" -size "${w}x${h}" "gradient:${top}-${bottom}" -alpha set \
    \( -size "${w}x${h}" xc:none -fill white -draw "roundrectangle 0,0 $((w-1)),$((h-1)) 6,6" \) \
    -compose DstIn -composite -compose Over \
    -fill none -stroke "$border" -strokewidth 1 \
    -draw "roundrectangle 0,0 $((w-1)),$((h-1)) 6,6" \
    -stroke none -fill "$ink" -font "$BOLD" -pointsize 11 -gravity center \
    -annotate "+${dx}+${dy}" "$text" \
    "PNG32:$out/$file"
}

# Normal, pressed and hover faces of one word.
faces() {
  local text=$1 normal=$2 pressed=$3 hover=${4:-}
  button "bmp$normal.png" "$text" normal
  button "bmp$pressed.png" "$text" pressed
  if [ -n "$hover" ]; then button "bmp$hover.png" "$text" hover; fi
}

# Main window background (586 x 401): a rounded body with a title tab on
# its upper left; everything around them is colour key. On the body: the
# white paper behind the pages (at (160, 80), 420 x 300, of which the pages
# paint all but an 8-pixel strip on the right, so the paper keeps the same
# margin to the frame there as at the top) and the card behind the page
# buttons, level with the paper.
"$IM" -size 586x401 "xc:$KEY" +antialias \
  -fill '#23415f' -draw 'roundrectangle 0,22 585,400 26,26' \
  -draw 'roundrectangle 0,0 300,66 20,20' \
  -fill '#dde7f1' -draw 'roundrectangle 6,72 579,387 18,18' \
  -fill '#9fb3c8' -draw 'rectangle 159,79 572,380' \
  -fill '#ffffff' -draw 'rectangle 160,80 571,379' \
  -antialias \
  \( -size 124x302 'gradient:#c9d8e8-#e9f0f7' -alpha set \
     \( -size 124x302 xc:none -fill white -draw 'roundrectangle 0,0 123,301 10,10' \) \
     -compose DstIn -composite -compose Over \
     -fill none -stroke '#a9bdd2' -draw 'roundrectangle 0,0 123,301 10,10' -stroke none \) \
  -geometry +13+79 -composite \
  -fill '#ffffff' -font "$BOLD" -pointsize 26 -annotate +22+38 'Quillmark' \
  -fill '#a9c4e0' -font "$FONT" -pointsize 11 -annotate +24+58 'print usage monitor' \
  -fill '#f2c14e' -draw 'polygon 182,16 196,30 190,36 176,22' \
  -fill '#f2c14e' -draw 'line 176,36 186,26' \
  "PNG24:$out/bmp151.png"

# Page panel background (132 x 356): the panel sits at (10, 90) on the
# main background, so it shows the same picture (the button card) and
# reaches below the window, where it repeats the window's bottom edge.
"$IM" "$out/bmp151.png" -crop 132x311+10+90 +repage \
  -background '#23415f' -gravity north -extent 132x356 -gravity northwest \
  "PNG24:$out/bmp152.png"

# About box and message box background (378 x 169).
"$IM" -size 378x169 'gradient:#f7fafd-#d9e5f1' \
  -fill '#23415f' -draw 'rectangle 0,0 377,30' \
  -fill '#ffffff' -font "$BOLD" -pointsize 14 -annotate +12+21 'Quillmark' \
  -fill none -stroke '#50708f' -draw 'rectangle 0,0 377,168' \
  "PNG24:$out/bmp210.png"

# E-mail settings dialog background (285 x 430).
"$IM" -size 285x430 'gradient:#f7fafd-#d9e5f1' \
  -fill '#23415f' -draw 'rectangle 0,0 284,30' \
  -fill '#ffffff' -font "$BOLD" -pointsize 14 -annotate +12+21 'E-mail settings' \
  -fill none -stroke '#50708f' -draw 'rectangle 0,0 284,429' \
  "PNG24:$out/bmp214.png"

# The two small buttons of the main window (20 x 20): hide to tray, menu.
small() {
  local file=$1 glyph=$2
  "$IM" -size 20x20 'gradient:#fbfdff-#c5d5e8' -alpha set \
    \( -size 20x20 xc:none -fill white -draw 'roundrectangle 0,0 19,19 5,5' \) \
    -compose DstIn -composite -compose Over \
    -fill none -stroke '#50708f' -draw 'roundrectangle 0,0 19,19 5,5' \
    -stroke '#1c3553' -strokewidth 2 -draw "$glyph" \
    "PNG32:$out/$file"
}
small bmp154.png 'line 5,13 14,13'
small bmp166.png 'polyline 5,8 10,13 15,8'

# Page buttons (99 x 25): normal, pressed (also the disabled look), hover.
faces 'Status'   143 142 144
faces 'Printers' 169 171 170
faces 'Reports'  172 168 173
faces 'Settings' 145 147 146

# OK button of the About box and the message box.
faces 'OK' 212 211

# Buttons of the pages and dialogs.
faces 'Start'          174 175
faces 'Stop'           180 177
faces 'Printer report' 183 184
faces 'User report'    181 182
faces 'Show'           185 186
faces 'Add'            188 189
faces 'Apply'          190 191
faces 'Remove'         192 193
faces 'Reset'          194 195
faces 'Configure'      197 196
faces 'Cancel'         203 204
faces 'Default'        205 206
faces 'Save'           207 208
faces 'Test'           209 202
faces 'Find keyword'   222 221
faces 'OK'             224 223
faces 'Save as PDF'    225 226
faces 'Save as CSV'    227 228

# Icons (32 x 32): a printer, with a green light when monitoring (230) and
# greyed with a red bar when not (232).
icon() {
  local file=$1 body=$2 light=$3
  shift 3
  "$IM" -size 32x32 xc:none \
    -fill '#ffffff' -stroke '#4b4b4b' -draw 'rectangle 9,3 22,12' \
    -fill "$body" -stroke '#2b2b2b' -draw 'roundrectangle 3,11 28,24 3,3' \
    -fill '#ffffff' -stroke '#4b4b4b' -draw 'rectangle 8,20 23,29' \
    -stroke none -fill "$light" -draw 'circle 24,15 26,15' \
    "$@" \
    "PNG32:$out/$file"
}
icon ico230.png '#3d6fa3' '#35d04a'
icon ico232.png '#9a9a9a' '#7a7a7a' -stroke '#d02828' -strokewidth 3 -draw 'line 4,28 28,4'
