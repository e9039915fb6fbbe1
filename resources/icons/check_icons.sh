#!/usr/bin/env bash
# Verifies the pictures make_icons.sh writes: every file is there and nothing else, each icon has exactly its entry
# sizes as 32-bit bitmap (not PNG) entries with real transparency, overlays keep to the lower-left quarter, and the
# loading frames are 24-bit BMP3 with the dark dot one place further round each frame. Exits non-zero on any fault.
set -uo pipefail

DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [[ -n ${CONVERT:-} ]]; then IM=$CONVERT
elif command -v convert-im6.q16 >/dev/null 2>&1; then IM=convert-im6.q16
else IM=convert; fi
if command -v identify-im6.q16 >/dev/null 2>&1; then ID=identify-im6.q16; else ID=identify; fi

MODULE=(cloud_disk sync_folder ordinary_folder my_files received_shares phone_pictures phone_videos messages
        calendar contacts notes phone_backup sync_dir)
BADGES=(SharedFlag SharedLinkFlag NewFlag VDSyncDirOk VDSyncDirSyning SynOkAndOther SyningAndOther
        VDSyncDirSynPause.ico)
TYPES=(exe rar xml pdf null)

faults=0
fail() { echo "FAIL: $*" >&2; faults=$((faults + 1)); }

# Little-endian unsigned integer of n bytes at an offset.
le() {  # file offset n
  local v=0 i=0 b
  for b in $(od -An -tu1 -v -j "$2" -N "$3" "$1"); do v=$((v + (b << (8 * i)))); i=$((i + 1)); done
  echo "$v"
}

# 1 when the fx expression holds for the picture (an ICO entry given as file[i]).
fx() { "$IM" "$1" "${@:3}" -format "%[fx:$2]" info: 2>/dev/null; }

check_ico() {  # relative path, expected sizes...
  local rel=$1 f="$DIR/$1"
  shift
  local want=("$@")
  [[ -f $f ]] || { fail "$rel missing"; return; }
  local got
  got=$("$ID" -format '%wx%h ' "$f" 2>/dev/null)
  local expect="" s
  for s in "${want[@]}"; do expect+="${s}x$s "; done
  [[ $got == "$expect" ]] || { fail "$rel entries are '$got', want '$expect'"; return; }

  local fsize n
  fsize=$(stat -c %s "$f")
  [[ $(le "$f" 0 2) == 0 && $(le "$f" 2 2) == 1 ]] || { fail "$rel is not an icon file"; return; }
  n=$(le "$f" 4 2)
  [[ $n == "${#want[@]}" ]] || { fail "$rel directory holds $n entries"; return; }
  local i base w bits size off
  for ((i = 0; i < n; i++)); do
    base=$((6 + 16 * i))
    w=${want[$i]}
    bits=$(le "$f" $((base + 6)) 2)
    size=$(le "$f" $((base + 8)) 4)
    off=$(le "$f" $((base + 12)) 4)
    [[ $(le "$f" "$base" 1) == "$w" && $(le "$f" $((base + 1)) 1) == "$w" ]] || fail "$rel entry $i size byte"
    [[ $bits == 32 ]] || fail "$rel entry $i directory says $bits bits"
    ((off + size <= fsize)) || { fail "$rel entry $i runs past the end"; continue; }
    # A bitmap entry starts with a 40-byte BITMAPINFOHEADER (a PNG one with its signature), twice as tall as the
    # picture for the AND mask, uncompressed.
    [[ $(le "$f" "$off" 4) == 40 ]] || { fail "$rel entry $i is not a bitmap (PNG-compressed?)"; continue; }
    [[ $(le "$f" $((off + 4)) 4) == "$w" && $(le "$f" $((off + 8)) 4) == $((2 * w)) ]] || fail "$rel entry $i header size"
    [[ $(le "$f" $((off + 14)) 2) == 32 ]] || fail "$rel entry $i bitmap is not 32-bit"
    [[ $(le "$f" $((off + 16)) 4) == 0 ]] || fail "$rel entry $i bitmap is compressed"
    # Real transparency: some pixels fully clear, some fully opaque.
    [[ $(fx "${f}[$i]" 'minima==0 && maxima==1' -alpha extract) == 1 ]] || fail "$rel entry $i lacks clear and opaque pixels"
  done
}

check_badge() {  # relative path: besides check_ico, only the lower-left quarter may be drawn on
  local rel=$1 f="$DIR/$1" i s h
  [[ -f $f ]] || return
  i=0
  for s in 16 24 32 48 96; do
    h=$((s / 2))
    [[ $(fx "${f}[$i]" 'maxima' -alpha extract -crop "${s}x$h+0+0" +repage) == 0 ]] || fail "$rel ${s}px draws in the top half"
    [[ $(fx "${f}[$i]" 'maxima' -alpha extract -crop "${h}x$s+$h+0" +repage) == 0 ]] || fail "$rel ${s}px draws in the right half"
    [[ $(fx "${f}[$i]" 'maxima' -alpha extract -crop "${h}x$h+0+$h" +repage) == 1 ]] || fail "$rel ${s}px has no badge"
    i=$((i + 1))
  done
}

check_frame() {  # index
  local rel="loading_$1.bmp" f="$DIR/loading_$1.bmp"
  [[ -f $f ]] || { fail "$rel missing"; return; }
  [[ $("$ID" -format '%m %wx%h' "$f" 2>/dev/null) == "BMP3 32x32" ]] || fail "$rel is not a 32x32 BMP3"
  [[ $(le "$f" 0 2) == $((0x4D42)) && $(le "$f" 14 4) == 40 ]] || fail "$rel header is not BITMAPINFOHEADER"
  [[ $(le "$f" 28 2) == 24 && $(le "$f" 30 4) == 0 ]] || fail "$rel is not uncompressed 24-bit"
  [[ $(fx "$f" 'p{0,0}.r==1 && p{0,0}.g==1 && p{0,0}.b==1') == 1 ]] || fail "$rel background is not white"
  # The dark dot's centre must sit at -90 + 60 * index degrees round the ring (clockwise on screen).
  local angle
  angle=$("$IM" "$f" -depth 8 txt:- | awk -F'[,: ()]+' 'NR > 1 && $3 < 90 && $5 > 140 { x += $1; y += $2; n++ }
    END { if (n == 0) { print "none"; exit } printf "%d", atan2(y / n - 15.5, x / n - 15.5) * 180 / atan2(0, -1) }')
  [[ $angle != none ]] || { fail "$rel has no dark dot"; return; }
  local target=$((-90 + 60 * $1)) diff
  ((target > 180)) && target=$((target - 360))
  diff=$(((angle - target + 540) % 360 - 180))
  ((diff >= -10 && diff <= 10)) || fail "$rel dark dot at $angle degrees, want $target"
}

expected=()
for n in "${MODULE[@]}"; do check_ico "$n.ico" 16 32 48; expected+=("$n.ico"); done
for n in "${BADGES[@]}"; do
  check_ico "state/$n.ico" 16 24 32 48 96
  check_badge "state/$n.ico"
  expected+=("state/$n.ico")
done
for n in "${TYPES[@]}"; do check_ico "state/$n.ico" 16 32 48; expected+=("state/$n.ico"); done
for i in 0 1 2 3 4 5; do check_frame "$i"; expected+=("loading_$i.bmp"); done

# No stale or stray picture beside them (the folder also holds the resource script and these tools).
while IFS= read -r rel; do
  case " ${expected[*]} " in
    *" $rel "*) ;;
    *) fail "unexpected picture $rel" ;;
  esac
done < <(cd "$DIR" && find . -type f \( -name '*.ico' -o -name '*.bmp' \) | sed 's|^\./||' | sort)

total=$(cd "$DIR" && cat "${expected[@]}" 2>/dev/null | wc -c)
((total < 1024 * 1024)) || fail "pictures total $total bytes, over 1 MiB"

if ((faults)); then
  echo "check_icons: $faults fault(s)" >&2
  exit 1
fi
echo "check_icons: ${#expected[@]} files, $total bytes, all entries as expected"
