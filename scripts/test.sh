#!/bin/bash
# Sets up the machine, builds both presets and runs every test, native and
# under Wine, with one ctest summary. Usage: scripts/test.sh [ctest args...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh
jobs=${VD_JOBS:-$(nproc)}

cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs"
cmake --preset win64 >/dev/null
cmake --build --preset win64 -j "$jobs"

# One test tree over both builds, so that one summary shows both kinds.
mkdir -p build/all
cat > build/all/CTestTestfile.cmake <<CTEST
subdirs("$root/build/native")
subdirs("$root/build/win64")
CTEST
ctest --test-dir build/all --output-on-failure -j "$jobs" "$@"
