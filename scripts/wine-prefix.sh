#!/bin/bash
# wine-prefix.sh setup|cleanup PREFIX
# Makes a fresh 64-bit prefix in the Chinese locale (ANSI code page 936) with
# a CJK font mapped for the UI, keeps its wineserver alive for the run and
# starts Xvfb for tests that create windows. Its settings go to PREFIX.env,
# which the wine-run wrapper reads.
set -euo pipefail
action=$1
prefix=$(realpath -m "$2")
export WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8

stop_all() {
  wineserver -k 2>/dev/null || true
  if [ -f "$prefix.xvfb.pid" ]; then
    kill "$(cat "$prefix.xvfb.pid")" 2>/dev/null || true
    rm -f "$prefix.xvfb.pid"
  fi
}

case "$action" in
setup)
  stop_all
  rm -rf "$prefix" "$prefix.env"
  mkdir -p "$prefix"
  display=""
  for n in $(seq 90 140); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=":$n"; break; fi
  done
  [ -n "$display" ] || { echo "no free X display" >&2; exit 1; }
  setsid Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 </dev/null &
  echo $! > "$prefix.xvfb.pid"
  export DISPLAY="$display"
  start=$(date +%s.%N)
  wineserver -p >/dev/null 2>&1 </dev/null
  wineboot -i >/dev/null 2>&1 </dev/null
  # Wine links the user's folders (Desktop, Documents, ...) to $HOME; a test
  # prefix keeps its own, so runs do not share caches through the real home.
  for link in "$prefix"/drive_c/users/*/*; do
    if [ -L "$link" ]; then rm "$link" && mkdir -p "$link"; fi
  done
  # Chinese UI text draws as boxes unless the UI fonts map to an installed CJK font.
  reg="$prefix/fonts.reg"
  {
    printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes]\r\n'
    for f in "MS Shell Dlg" "MS Shell Dlg 2" "Tahoma" "SimSun" "Microsoft YaHei"; do
      printf '"%s"="WenQuanYi Micro Hei"\r\n' "$f"
    done
    printf '"\xcb\xce\xcc\xe5"="WenQuanYi Micro Hei"\r\n'   # 宋体 in code page 936
  } > "$reg"
  wine regedit /S "$reg" >/dev/null 2>&1
  echo "export DISPLAY=$display" > "$prefix.env"
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" -v p="$prefix" -v d="$display" 'BEGIN { printf "prefix %s ready on DISPLAY %s in %.1f s\n", p, d, b - a }'
  ;;
cleanup)
  stop_all
  ;;
*)
  echo "usage: $0 setup|cleanup PREFIX" >&2; exit 2 ;;
esac
