#!/bin/bash
# The main job: the reference cloud service with sample data, an installed
# layout in a Wine prefix (client and SDK in the install folder, the shell
# library one folder below), the desktop client signed in, the library
# registered, "Computer" and the cloud disk as the shell lists them, and
# screenshots of Wine's Explorer, then a local folder uploaded through the
# engine with its progress dialog on screen, a local folder dropped on a
# cloud catalog and a cloud file dragged out to a local folder through the
# library's own drag-and-drop objects. Everything it makes lands in
# build/demo.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh
jobs=${VD_JOBS:-$(nproc)}
cmake --preset native >/dev/null && cmake --build --preset native -j "$jobs" >/dev/null
cmake --preset win64 >/dev/null && cmake --build --preset win64 -j "$jobs" >/dev/null

out="$root/build/demo"
rm -rf "$out" && mkdir -p "$out"
bin="$root/build/win64/bin"
install="$out/Veyra"
run="$root/build/win64/wine-run"
winpath() { echo "Z:$(realpath "$1" | sed 's|/|\\|g')"; }

echo "== Reference cloud service"
setsid build/native/cloudserver/cloudserver serve --data "$out/cloud" --port 0 --seed --bench-entries 100000 \
  </dev/null >"$out/cloudserver.log" 2>&1 &
server=$!
export VD_WINEPREFIX="$out/wineprefix"
cleanup() {
  "$run" "$install/Nimbra.exe" --quit >/dev/null 2>&1 || true
  kill "$server" 2>/dev/null || true
  bash scripts/wine-prefix.sh cleanup "$VD_WINEPREFIX" >/dev/null 2>&1 || true
}
trap cleanup EXIT
port=""
for _ in $(seq 100); do
  port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$out/cloudserver.log" | head -1)
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "the service did not start:"; cat "$out/cloudserver.log"; exit 1; }
echo "listening on 127.0.0.1:$port, accounts alice and bob seeded, alice's bench_100000 holds 100,000 files"

echo "== Wine prefix (Chinese locale)"
bash scripts/wine-prefix.sh setup "$VD_WINEPREFIX"
. "$VD_WINEPREFIX.env"

echo "== Installed layout: $install"
mkdir -p "$install/Shell"
cp "$bin/Nimbra.exe" "$bin/CorbelSdk64.dll" "$bin/misc64.dll" "$install/"
cp "$bin/Pandrel64.dll" "$bin/CorbelSdk64.dll" "$bin/misc64.dll" "$install/Shell/"
cp -r "$bin/images" "$install/"
printf '[Service]\nHost=127.0.0.1\nPort=%s\n' "$port" >"$install/sdkconfig.ini"
# What the installer records: the install folder, where the library finds its images.
"$run" reg add 'HKLM\SOFTWARE\Wow6432Node\Larkmere\ORLO' /v setup /t REG_SZ /d "$(winpath "$install")" /f >/dev/null

echo "== Desktop client signs in as alice"
"$run" "$install/Nimbra.exe" --host 127.0.0.1 --port "$port" --account alice --password alice-pass \
  </dev/null >"$out/nimbra.log" 2>&1 &
for _ in $(seq 120); do
  "$run" reg query 'HKCU\SOFTWARE\Larkmere' /v RCSLoginInfo >/dev/null 2>&1 && break
  sleep 0.5
done
"$run" reg query 'HKCU\SOFTWARE\Larkmere' /v RCSLoginInfo 2>/dev/null | tr -d '\r' | sed -n 's/^ *RCSLoginInfo/RCSLoginInfo/p'
"$run" reg query 'HKCU\SOFTWARE\Larkmere\ORLO' 2>/dev/null | tr -d '\r' | sed -n 's/^ \{4\}\([A-Za-z_]*\) .*REG_SZ *\(.*\)/\1 = \2/p'

echo "== regsvr32 Pandrel64.dll"
"$run" regsvr32 /s "$(winpath "$install/Shell/Pandrel64.dll")" && echo "registered"

echo "== \"Computer\" as the shell lists it"
"$run" "$bin/shell_list.exe" 2>/dev/null | sed 's/^/  /'

echo "== The cloud disk's root as the shell lists it"
"$run" "$bin/shell_list.exe" '::{20D04FE0-3AEA-1069-A2D8-08002B30309D}\::{CB5DEC9E-175E-45DF-B647-BCBEE0669FE6}' \
  readme.txt 2>/dev/null | sed 's/^/  /'

echo "== Wine's Explorer"
"$run" explorer </dev/null >/dev/null 2>&1 &
sleep 6
# Open "Computer" (我的电脑) in the tree: the window opens at the top left.
DISPLAY="$DISPLAY" xdotool mousemove 33 127 click 1 2>/dev/null || true
sleep 2
DISPLAY="$DISPLAY" xdotool mousemove 98 127 click --repeat 2 --delay 120 1 2>/dev/null || true
sleep 3
xwd -display "$DISPLAY" -root -silent | convert xwd:- "$out/explorer.png"
echo "screenshot: $out/explorer.png"
# Open "Veyra云盘" from the list of "Computer" (the third row).
DISPLAY="$DISPLAY" xdotool mousemove 202 144 click --repeat 2 --delay 120 1 2>/dev/null || true
sleep 5
xwd -display "$DISPLAY" -root -silent | convert xwd:- "$out/cloud-disk.png"
echo "screenshot: $out/cloud-disk.png"

echo "== A local folder uploads into the cloud disk (vdupload.exe, the upload engine and its dialogs)"
cp "$bin/vdupload.exe" "$install/"
src="$out/upload-source"
mkdir -p "$src/照片" "$src/文档/草稿"
printf '上传演示：这个文件夹经上传引擎进入云盘。\r\n' >"$src/说明.txt"
convert -size 640x480 plasma:fractal "$src/照片/风景.jpg" 2>/dev/null || head -c 200000 /dev/urandom >"$src/照片/风景.jpg"
printf 'draft\r\n' >"$src/文档/草稿/第一稿.txt"
: >"$src/文档/空文件.txt"
head -c $((512 * 1024 * 1024)) /dev/urandom >"$src/大文件.bin"
"$run" "$install/vdupload.exe" "$(winpath "$src")" "演示上传" </dev/null >"$out/vdupload.log" 2>&1 &
upload=$!
sleep 4
xwd -display "$DISPLAY" -root -silent | convert xwd:- "$out/upload-progress.png"
echo "screenshot: $out/upload-progress.png"
wait "$upload" && tr -d '\r' <"$out/vdupload.log"
# Up to "Computer" and into the cloud disk again, twice: the first visit
# lists the cache and starts a fresh listing in the background, the second
# shows what it found.
for _ in 1 2; do
  DISPLAY="$DISPLAY" xdotool mousemove 81 40 click 1 2>/dev/null || true
  sleep 2
  DISPLAY="$DISPLAY" xdotool mousemove 202 144 click --repeat 2 --delay 120 1 2>/dev/null || true
  sleep 3
done
xwd -display "$DISPLAY" -root -silent | convert xwd:- "$out/after-upload.png"
echo "screenshot: $out/after-upload.png"
"$run" "$bin/shell_list.exe" '::{20D04FE0-3AEA-1069-A2D8-08002B30309D}\::{CB5DEC9E-175E-45DF-B647-BCBEE0669FE6}' \
  演示上传 2>/dev/null | sed 's/^/  /'

echo "== A local folder dropped on the catalog 我的文档 (vddragdrop.exe in: the folder's own drop target)"
drop="$out/拖入演示"
mkdir -p "$drop/资料/.git"
printf '拖放上传：文件夹放到云盘的目录上。\r\n' >"$drop/资料/说明.txt"
printf 'ignored\r\n' >"$drop/资料/.git/config"
printf 'draft\r\n' >"$drop/资料/~临时.tmp"
head -c $((384 * 1024 * 1024)) /dev/urandom >"$drop/资料/录像.bin"
"$run" "$bin/vddragdrop.exe" in "$(winpath "$drop/资料")" 我的文档 </dev/null >"$out/drag-in.log" 2>&1 &
dragin=$!
sleep 4
xwd -display "$DISPLAY" -root -silent | convert xwd:- "$out/drag-in-progress.png"
echo "screenshot: $out/drag-in-progress.png"
wait "$dragin" && tr -d '\r' <"$out/drag-in.log"

echo "== A cloud file dragged out to a local folder (vddragdrop.exe out: the data object and the copy hook)"
dragout="$out/拖出到这里"
mkdir -p "$dragout"
"$run" "$bin/vddragdrop.exe" out 演示上传 大文件.bin "$(winpath "$dragout")" </dev/null >"$out/drag-out.log" 2>&1 &
dragged=$!
sleep 4
xwd -display "$DISPLAY" -root -silent | convert xwd:- "$out/drag-out-progress.png"
echo "screenshot: $out/drag-out-progress.png"
wait "$dragged" && tr -d '\r' <"$out/drag-out.log"
cmp "$src/大文件.bin" "$dragout/大文件.bin" && echo "大文件.bin arrived byte for byte"

echo "== Both folders afterwards (vdview.exe: a folder's view in a window of its own)"
# The folders' views are hosted in windows of their own, placed beside
# Wine's Explorer.
cloud='::{20D04FE0-3AEA-1069-A2D8-08002B30309D}\::{CB5DEC9E-175E-45DF-B647-BCBEE0669FE6}'
"$run" "$bin/vdview.exe" 650 24 20 "$cloud" 我的文档 资料 </dev/null >"$out/view-cloud.log" 2>&1 &
views=$!
sleep 8
xwd -display "$DISPLAY" -root -silent | convert xwd:- "$out/after-drag-in.png"
echo "screenshot: $out/after-drag-in.png"
"$run" "$bin/vdview.exe" 650 420 12 "$(winpath "$dragout")" </dev/null >"$out/view-local.log" 2>&1 &
views="$views $!"
sleep 6
xwd -display "$DISPLAY" -root -silent | convert xwd:- "$out/after-drag-out.png"
echo "screenshot: $out/after-drag-out.png"
# shellcheck disable=SC2086
wait $views
tr -d '\r' <"$out/view-cloud.log" | sed 's/^/  /'
tr -d '\r' <"$out/view-local.log" | sed 's/^/  /'

echo "== The cloud view of 图片 with its thumbnails, and of bench_100000 while it fills (vdview.exe)"
"$run" "$bin/vdview.exe" 0 430 16 "$cloud" 图片 </dev/null >"$out/view-pictures.log" 2>&1 &
views=$!
sleep 8
"$run" "$bin/vdview.exe" 620 430 14 "$cloud" bench_100000 </dev/null >"$out/view-large.log" 2>&1 &
views="$views $!"
sleep 4
xwd -display "$DISPLAY" -root -silent | convert xwd:- "$out/large-folder-filling.png"
echo "screenshot: $out/large-folder-filling.png (图片 with thumbnails on the left, bench_100000 filling on the right)"
# shellcheck disable=SC2086
wait $views
echo "  bench_100000 showed $(tr -d '\r' <"$out/view-large.log" | grep -c '^  ') rows when its window closed"

"$run" "$install/Nimbra.exe" --sign-out >/dev/null 2>&1 && echo "signed out"
