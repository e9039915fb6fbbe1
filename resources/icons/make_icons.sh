#!/usr/bin/env bash
# README: every picture in this folder is the project's own, drawn here from plain geometric shapes and strokes
# (no fonts, no outside artwork). This script regenerates all of them in the folder it lives in; check_icons.sh
# verifies the result. The build embeds the committed files, so rerun both after changing a drawing and commit
# the outputs together with the script.
#
# ImageMagick puts pixel centres on whole coordinates; every drawing starts half a pixel up and left so that a
# design coordinate of 0 is the image's true edge.
#
# Each picture is described once as MVG on a 48x48 design grid and rendered straight at every entry size (rather
# than drawn once and shrunk), with stroke widths held at one pixel or more so thin lines survive at 16x16. Main
# outlines sit on 1.5 + 3n and filled edges on 3n, which are pixel centres and pixel edges at 16x16 and at 48x48,
# so the two most used sizes stay sharp. A few marks are drawn simpler where their detail would be a pixel.
# Icons are written as ICO files of 32-bit BGRA entries stored as bitmaps: ImageMagick 6 stores entries below 256
# pixels that way, which GNU windres and LoadImage take on every Windows version, unlike PNG-compressed entries.
set -euo pipefail

OUT=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# Debian's ImageMagick 6 binary by its own name where it exists, so another convert earlier in PATH cannot
# change the output; CONVERT overrides.
if [[ -n ${CONVERT:-} ]]; then IM=$CONVERT
elif command -v convert-im6.q16 >/dev/null 2>&1; then IM=convert-im6.q16
else IM=convert; fi
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT

# Palette.
BLUE='#2F80ED'; BLUE_D='#1B5FBF'; BLUE_L='#DCEBFC'
WHITE='#FFFFFF'; GREY_L='#AEB8C5'; GREY_C='#D5DCE5'; GREY='#8A94A3'; GREY_D='#4A5565'
AMBER='#F4B740'; AMBER_B='#DE9F2A'; AMBER_O='#B57A12'; AMBER_H='#F9D37E'
GREEN='#27AE60'; RED='#E5484D'; RED_D='#B8333A'; PURPLE='#7B61C9'; GOLD='#E0A030'

S=48  # entry size being rendered: the width helpers below and a few drawings read it

# Stroke width in design units, never thinner than one pixel at the size being rendered.
w() { awk -v v="$1" -v s="$S" 'BEGIN { m = 48 / s; if (v < m) v = m; printf "%.3f", v }'; }
# The same with another floor in pixels, for rims that may go thinner than a pixel on the smallest entries.
wpx() { awk -v v="$1" -v p="$2" -v s="$S" 'BEGIN { m = p * 48 / s; if (v < m) v = m; printf "%.3f", v }'; }
# Width of a text-like rule centred on 1.5 + 3n: two whole pixels at 32x32, where one pixel would straddle two.
hw() { if ((S == 32)); then echo 3; else w "$1"; fi; }
# Twice w: an outline drawn under a fill only shows its outer half.
w2() { awk -v v="$1" -v s="$S" 'BEGIN { m = 48 / s; if (v < m) v = m; printf "%.3f", 2 * v }'; }

# A circular arrow: arc on centre cx,cy radius r from angle a0 to a1 (degrees, clockwise on screen), with a
# filled head at a1 pointing onward. Args: cx cy r a0 a1 stroke_width head colour. The arc is a polyline of 5-degree
# steps: ImageMagick 6.9 strokes an SVG arc ("A") segment as a filled chord.
arc_arrow() {
  awk -v cx="$1" -v cy="$2" -v r="$3" -v a0="$4" -v a1="$5" -v sw="$6" -v h="$7" -v c="$8" 'BEGIN {
    d = atan2(0, -1) / 180
    x1 = cx + r * cos(a1 * d); y1 = cy + r * sin(a1 * d)
    nx = cos(a1 * d); ny = sin(a1 * d); tx = -ny; ty = nx
    printf "push graphic-context\nfill none\nstroke %s\nstroke-width %s\nstroke-linecap round\nstroke-linejoin round\n", c, sw
    printf "polyline"
    for (a = a0; a < a1; a += 5) printf " %.3f,%.3f", cx + r * cos(a * d), cy + r * sin(a * d)
    printf " %.3f,%.3f\n", x1, y1
    printf "stroke none\nfill %s\n", c
    printf "polygon %.3f,%.3f %.3f,%.3f %.3f,%.3f\n", x1 + nx * h, y1 + ny * h, x1 - nx * h, y1 - ny * h,
           x1 + tx * h * 1.3, y1 + ty * h * 1.3
    printf "pop graphic-context\n"
  }'
}

# Two arrows chasing each other round a circle: the sync mark; a plain ring where the circle is under 2.5 pixels
# across its radius and the heads would be single pixels.
sync_arrows() {  # cx cy r colour
  if awk -v r="$3" -v s="$S" 'BEGIN { exit !(r * s / 48 < 2.5) }'; then
    printf 'push graphic-context\nfill none\nstroke %s\nstroke-width %s\nellipse %s,%s %s,%s 0,360\npop graphic-context\n' \
      "$4" "$(w 1)" "$1" "$2" "$3" "$3"
    return
  fi
  arc_arrow "$1" "$2" "$3" 200 320 "$(w "$(awk -v r="$3" 'BEGIN{printf "%.3f", r * 0.34}')")" \
    "$(awk -v r="$3" 'BEGIN{printf "%.3f", r * 0.42}')" "$4"
  arc_arrow "$1" "$2" "$3" 20 140 "$(w "$(awk -v r="$3" 'BEGIN{printf "%.3f", r * 0.34}')")" \
    "$(awk -v r="$3" 'BEGIN{printf "%.3f", r * 0.42}')" "$4"
}

# ---------------------------------------------------------------------------------------------------------------
# Shared parts

folder() {  # body back outline highlight
  cat <<EOF
stroke $3
stroke-width $(w 1.5)
stroke-linejoin round
fill $2
path 'M 4.5 10.5 L 16.5 10.5 L 19.5 13.5 L 43.5 13.5 L 43.5 40.5 L 4.5 40.5 Z'
fill $1
roundrectangle 4.5,19.5 43.5,40.5 2,2
stroke $4
stroke-width $(w 1)
line 6.5,22.5 41.5,22.5
EOF
}
blue_folder() { folder "$BLUE" "$BLUE_D" "$BLUE_D" '#6FA6F2'; }
amber_folder() { folder "$AMBER" "$AMBER_B" "$AMBER_O" "$AMBER_H"; }

cloud_shapes() {
  cat <<EOF
ellipse 15.5,19 6.5,6.5 0,360
ellipse 24.5,14.5 9,9 0,360
ellipse 33,19.5 7,7 0,360
roundrectangle 9,16 40,28 6,6
EOF
}

phone() {  # screen colour
  cat <<EOF
stroke none
fill $GREY_D
roundrectangle 12,3 36,45 4.5,4.5
fill $1
rectangle 15,9 33,39
fill $GREY
ellipse 24,42 1.5,1.5 0,360
stroke $GREY
stroke-width $(w 1)
stroke-linecap round
line 21,6 27,6
EOF
}

page() {
  cat <<EOF
stroke $GREY_L
stroke-width $(w 1.5)
stroke-linejoin round
fill $WHITE
path 'M 7.5 4.5 L 31.5 4.5 L 40.5 13.5 L 40.5 43.5 L 7.5 43.5 Z'
fill #E4E9EF
polygon 31.5,4.5 31.5,13.5 40.5,13.5
EOF
}

# Overlay badges live in the lower-left quarter (x 0-24, y 24-48) with a white rim to lift them off the picture.
badge() {  # fill cx cy r (a touch larger below 24 pixels, where the quarter is only a few pixels wide)
  local r=$4
  ((S < 24)) && r=$(awk -v r="$4" 'BEGIN { print r + 1 }')
  cat <<EOF
stroke $WHITE
stroke-width $(wpx 1.5 0.5)
fill $1
ellipse $2,$3 $r,$r 0,360
EOF
}

check_mark() {  # x0 y0 x1 y1 x2 y2 width
  cat <<EOF
push graphic-context
fill none
stroke $WHITE
stroke-width $(w "$7")
stroke-linecap round
stroke-linejoin round
polyline $1,$2 $3,$4 $5,$6
pop graphic-context
EOF
}

# Small "shared" mark added to a state badge: white disc, three joined nodes.
share_mark() {
  cat <<EOF
push graphic-context
stroke $BLUE
stroke-width $(w 0.8)
fill $WHITE
ellipse 18.3,29.7 3.9,3.9 0,360
stroke-width $(w 0.6)
line 16.6,29.7 20,27.9
line 16.6,29.7 20,31.5
stroke none
fill $BLUE
ellipse 16.6,29.7 1,1 0,360
ellipse 20,27.9 1,1 0,360
ellipse 20,31.5 1,1 0,360
pop graphic-context
EOF
}

# ---------------------------------------------------------------------------------------------------------------
# Module icons

d_cloud_disk() {
  cat <<EOF
stroke #8E9AAA
stroke-width $(w 1.5)
fill #EEF2F7
roundrectangle 4.5,28.5 43.5,43.5 3.5,3.5
stroke #B8C1CC
stroke-width $(w 2)
stroke-linecap round
line 10.5,37.5 25.5,37.5
stroke none
fill $BLUE
ellipse 37,37.5 2.2,2.2 0,360
stroke $WHITE
stroke-width $(w2 2.5)
fill $WHITE
EOF
  cloud_shapes
  printf 'stroke %s\nstroke-width %s\nfill %s\n' "$BLUE_D" "$(w2 1.2)" "$BLUE_D"
  cloud_shapes
  printf 'stroke none\nfill %s\n' "$BLUE"
  cloud_shapes
}

d_sync_folder() { blue_folder; sync_arrows 24 30 6.5 "$WHITE"; }

d_ordinary_folder() { amber_folder; }

d_my_files() {
  blue_folder
  local rim=$BLUE_D
  ((S <= 32)) && rim=$WHITE  # a dark rim would blur into the folder and leave a page of a few pixels
  cat <<EOF
stroke $rim
stroke-width $(w 1)
stroke-linejoin round
fill $WHITE
path 'M 16.5 22.5 L 28.5 22.5 L 31.5 25.5 L 31.5 37.5 L 16.5 37.5 Z'
stroke $BLUE
stroke-width $(hw 1.3)
EOF
  if ((S <= 32)); then
    echo "line 19.5,28.5 28.5,28.5"; echo "line 19.5,34.5 28.5,34.5"
  else
    echo "line 19.5,28.5 28.5,28.5"; echo "line 19.5,31.5 28.5,31.5"; echo "line 19.5,34.5 25.5,34.5"
  fi
}

d_received_shares() {
  blue_folder
  cat <<EOF
stroke none
fill $WHITE
ellipse 18.5,26.7 3.3,3.3 0,360
path 'M 12.2 38 Q 12.2 31.5 18.5 31.5 Q 24.8 31.5 24.8 38 Z'
stroke $WHITE
stroke-width $(w 2.2)
stroke-linecap round
line 38,30 31,30
stroke none
polygon 27.5,30 32,26 32,34
EOF
}

d_phone_pictures() {
  phone "$BLUE_L"
  cat <<EOF
stroke none
fill $AMBER
ellipse 28.5,15 2.8,2.8 0,360
fill $BLUE
polygon 15,39 15,33 20.5,24 25,30.5 28,27 33,33.5 33,39
EOF
}

d_phone_videos() {
  phone "$BLUE_D"
  cat <<EOF
stroke none
fill $WHITE
polygon 20.5,17 20.5,30 31,23.5
stroke #7FA9E6
stroke-width $(w 1)
line 18,34.5 30,34.5
stroke $WHITE
line 18,34.5 23,34.5
EOF
}

d_phone_backup() {
  phone "$WHITE"
  cat <<EOF
stroke none
fill $BLUE
polygon 24,12 31,19.5 27,19.5 27,30 21,30 21,19.5 17,19.5
stroke $BLUE
stroke-width $(w 2)
stroke-linecap round
line 18.5,34.5 29.5,34.5
EOF
}

d_messages() {
  local shapes="roundrectangle 4.5,7.5 43.5,34.5 7,7
polygon 11,32 9,43 22,32"
  cat <<EOF
stroke $BLUE_D
stroke-width $(w2 1.2)
stroke-linejoin round
fill $BLUE_D
$shapes
stroke none
fill $BLUE
$shapes
fill $WHITE
ellipse 14.5,21 2.7,2.7 0,360
ellipse 24,21 2.7,2.7 0,360
ellipse 33.5,21 2.7,2.7 0,360
EOF
}

d_calendar() {
  cat <<EOF
stroke none
fill $WHITE
roundrectangle 7.5,10.5 40.5,43.5 3,3
fill $BLUE
roundrectangle 7.5,10.5 40.5,18 3,3
rectangle 7.5,15 40.5,18
fill none
stroke $GREY_L
stroke-width $(w 1.5)
roundrectangle 7.5,10.5 40.5,43.5 3,3
stroke none
fill $GREY_D
roundrectangle 15,6 18,13.5 1.5,1.5
roundrectangle 30,6 33,13.5 1.5,1.5
fill $GREY_C
EOF
  # Two rows of three days, one marked; cells on the 3-unit grid stay whole pixels at 16x16.
  local x y
  for y in 24 33; do
    for x in 12 21 30; do
      if [[ $x == 21 && $y == 24 ]]; then continue; fi
      echo "rectangle $x,$y $((x + 6)),$((y + 6))"
    done
  done
  printf 'fill %s\nrectangle 21,24 27,30\n' "$BLUE"
}

d_contacts() {
  cat <<EOF
stroke $GREY_L
stroke-width $(w 1.5)
fill $WHITE
roundrectangle 4.5,10.5 43.5,37.5 3.5,3.5
stroke none
fill $BLUE
ellipse 15.5,19.8 4.5,4.5 0,360
path 'M 8 33 Q 8 26.3 15.5 26.3 Q 23 26.3 23 33 Z'
stroke #B8C2CE
stroke-width $(hw 2.4)
stroke-linecap round
line 27.5,16.5 38.5,16.5
line 27.5,22.5 38.5,22.5
line 27.5,28.5 34.5,28.5
EOF
}

d_notes() {
  cat <<EOF
stroke none
fill $WHITE
roundrectangle 10.5,4.5 37.5,43.5 2.5,2.5
fill $BLUE
roundrectangle 10.5,4.5 37.5,12 2.5,2.5
rectangle 10.5,9 37.5,12
fill none
stroke $GREY_L
stroke-width $(w 1.5)
roundrectangle 10.5,4.5 37.5,43.5 2.5,2.5
stroke #B8C2CE
stroke-width $(hw 1.6)
stroke-linecap round
line 15,19.5 33,19.5
line 15,25.5 33,25.5
line 15,31.5 33,31.5
line 15,37.5 27,37.5
EOF
}

d_sync_dir() {
  amber_folder
  cat <<EOF
stroke $WHITE
stroke-width $(w 1.5)
fill $GREEN
ellipse 36,36 8.5,8.5 0,360
EOF
  check_mark 31.8 36.3 34.8 39.3 40.2 32.9 2.4
}

# ---------------------------------------------------------------------------------------------------------------
# State overlays

d_SharedFlag() {
  badge "$BLUE" 12 36 10
  if ((S < 24)); then  # one figure: two would merge into a blot
    printf 'stroke none\nfill %s\nellipse 12,32.6 2.6,2.6 0,360\n' "$WHITE"
    echo "path 'M 7 41.5 Q 7 36.4 12 36.4 Q 17 36.4 17 41.5 Z'"
    return
  fi
  cat <<EOF
stroke none
fill $WHITE
ellipse 15.2,32.2 2.2,2.2 0,360
path 'M 11.4 40.8 Q 11.4 35.6 15.2 35.6 Q 19 35.6 19 40.8 Z'
stroke $BLUE
stroke-width $(w 0.8)
ellipse 9.4,33 2.6,2.6 0,360
path 'M 4.9 42 Q 4.9 36.6 9.4 36.6 Q 13.9 36.6 13.9 42 Z'
EOF
}

d_SharedLinkFlag() {
  badge "$BLUE" 12 36 10
  if ((S < 24)); then  # a single slanted bar reads better than links three pixels long
    printf 'stroke %s\nstroke-width %s\nstroke-linecap round\nline 8.5,39.5 15.5,32.5\n' "$WHITE" "$(w 2)"
    return
  fi
  cat <<EOF
push graphic-context
translate 12,36
rotate -45
fill none
stroke $WHITE
stroke-width $(w 1.8)
roundrectangle -7.2,-2.6 0.8,2.6 2.6,2.6
roundrectangle -0.8,-2.6 7.2,2.6 2.6,2.6
pop graphic-context
EOF
}

d_NewFlag() {
  badge "$RED" 12 36 10
  cat <<EOF
stroke none
fill $WHITE
EOF
  # Bars of whole pixels either side of the badge centre, which sits on a pixel corner at every size.
  if ((S < 24)); then
    echo "rectangle 9,30 15,42"; echo "rectangle 6,33 18,39"
  else
    echo "rectangle 10,30 14,42"; echo "rectangle 6,34 18,38"
  fi
}

d_VDSyncDirOk() { badge "$GREEN" 12 36 10; check_mark 7.3 36.6 10.6 39.9 16.8 32.4 2.6; }

d_VDSyncDirSyning() { badge "$BLUE" 12 36 10; sync_arrows 12 36 5.8 "$WHITE"; }

d_VDSyncDirSynPause() {
  badge "$GREY" 12 36 10
  cat <<EOF
stroke none
fill $WHITE
EOF
  if ((S < 24)); then
    echo "rectangle 6,30 9,42"; echo "rectangle 15,30 18,42"
  else
    echo "rectangle 6,30 10,42"; echo "rectangle 14,30 18,42"
  fi
}

d_SynOkAndOther() { badge "$GREEN" 11 36.5 9; check_mark 6.8 37 9.8 40 15.4 33.3 2.4; share_mark; }

d_SyningAndOther() { badge "$BLUE" 11 36.5 9; sync_arrows 11 36.5 5.2 "$WHITE"; share_mark; }

# ---------------------------------------------------------------------------------------------------------------
# File type pictures

d_exe() {
  page
  cat <<EOF
stroke #6B7685
stroke-width $(w 1.5)
fill #F4F6F9
roundrectangle 13.5,19.5 34.5,37.5 1.5,1.5
stroke none
fill #6B7685
rectangle 13.5,19.5 34.5,24
EOF
}

d_rar() {
  page
  cat <<EOF
stroke none
fill $PURPLE
rectangle 12,18 36,24
fill $BLUE
rectangle 12,24 36,30
fill $GOLD
rectangle 12,30 36,36
fill $GREY_D
rectangle 21,16.5 27,37.5
EOF
}

d_xml() {
  page
  cat <<EOF
fill none
stroke $GREEN
stroke-width $(w 2.4)
stroke-linecap round
stroke-linejoin round
polyline 19.5,22.5 14,29 19.5,35.5
polyline 29.5,22.5 35,29 29.5,35.5
line 26.5,21.5 22.5,36.5
EOF
}

d_pdf() {
  page
  cat <<EOF
stroke $GREY_C
stroke-width $(hw 1.6)
stroke-linecap round
line 12,10.5 27,10.5
line 12,16.5 36,16.5
line 12,22.5 36,22.5
stroke none
fill $RED
rectangle 3,27 36,36
fill $RED_D
rectangle 3,35 36,36
EOF
}

d_null() { page; }

# ---------------------------------------------------------------------------------------------------------------

render() {  # design size out.png
  S=$2
  local k mvg
  k=$(awk -v s="$S" 'BEGIN { printf "%.6f", s / 48 }')
  mvg="translate -0.5,-0.5
scale $k,$k
$("$1")"
  "$IM" -size "${S}x${S}" xc:none -draw "$mvg" "PNG32:$3"
}

make_ico() {  # out design sizes...
  local out=$1 design=$2 s
  shift 2
  local pngs=()
  for s in "$@"; do
    render "$design" "$s" "$TMP/$s.png"
    pngs+=("$TMP/$s.png")
  done
  # TrueColorAlpha keeps every entry 32-bit: a picture with few colours would otherwise be written palettised.
  "$IM" "${pngs[@]}" -type TrueColorAlpha "ICO:$out"
  rm -f "${pngs[@]}"
}

for name in cloud_disk sync_folder ordinary_folder my_files received_shares phone_pictures phone_videos messages \
            calendar contacts notes phone_backup sync_dir; do
  make_ico "$OUT/$name.ico" "d_$name" 16 32 48
done

mkdir -p "$OUT/state"
for name in SharedFlag SharedLinkFlag NewFlag VDSyncDirOk VDSyncDirSyning SynOkAndOther SyningAndOther; do
  make_ico "$OUT/state/$name.ico" "d_$name" 16 24 32 48 96
done
# The installed file really has the doubled extension and the module loads it by that name.
make_ico "$OUT/state/VDSyncDirSynPause.ico.ico" d_VDSyncDirSynPause 16 24 32 48 96

for name in exe rar xml pdf null; do
  make_ico "$OUT/state/$name.ico" "d_$name" 16 32 48
done

# Loading animation: six dots on a ring, the dark one steps clockwise one place per frame. Plain 24-bit BMP3
# (40-byte header, no alpha) on white: the frames are BITMAP resources, and that is the form every loader takes.
for i in 0 1 2 3 4 5; do
  dots=$(awk -v cur="$i" -v on="$BLUE_D" -v off="#D3D8DF" 'BEGIN {
    d = atan2(0, -1) / 180
    for (j = 0; j < 6; j++) {
      a = (-90 + 60 * j) * d
      printf "fill %s\nellipse %.3f,%.3f 2.7,2.7 0,360\n", (j == cur ? on : off), 16 + 10.5 * cos(a), 16 + 10.5 * sin(a)
    }
  }')
  "$IM" -size 32x32 xc:white -draw "translate -0.5,-0.5
$dots" -alpha off -type TrueColor "BMP3:$OUT/loading_$i.bmp"
done
