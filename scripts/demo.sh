#!/bin/bash
# The main job. Until the cloud disk can be shown end to end this sets up,
# builds both presets and reports what was built and whether it loads.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh
jobs=${VD_JOBS:-$(nproc)}
cmake --preset native >/dev/null && cmake --build --preset native -j "$jobs" >/dev/null
cmake --preset win64 >/dev/null && cmake --build --preset win64 -j "$jobs" >/dev/null

echo
echo "== Built"
echo "native: $(find build/native -maxdepth 4 -name '*_test' -type f | wc -l) test programs"
echo "win64:  $(find build/win64 -name '*.dll' -not -path '*/wineprefix/*' | sed "s|^build/win64/||" | sort | tr '\n' ' ')"
echo "        $(find build/win64 -name '*_test.exe' | wc -l) test programs"
echo
echo "== Wine"
prefix="$root/build/win64/wineprefix"
bash scripts/wine-prefix.sh setup "$prefix"
trap 'bash scripts/wine-prefix.sh cleanup "$prefix"' EXIT
run="$root/build/win64/wine-run"
"$run" cmd /c "echo ANSI code page: & chcp" 2>/dev/null | tr -d '\r'
dll=build/win64/bin/comtest.dll
if [ -n "$dll" ]; then
  windll="Z:$(realpath "$dll" | sed 's|/|\\|g')"
  if "$run" regsvr32 /s "$windll"; then
    echo "regsvr32 comtest.dll: registered"
    "$run" reg query 'HKCR\CLSID\{8E2B1C7A-5D3F-4A61-9C0E-2F7B6D4A1E93}\InprocServer32' 2>/dev/null | tr -d '\r' | sed '/^$/d'
    "$run" regsvr32 /s /u "$windll" && echo "regsvr32 /u comtest.dll: unregistered"
  fi
fi
