#!/bin/bash
# Sets up the machine, builds both presets and runs every test, native and
# under Wine, with one ctest summary; then a smoke run of every fuzz target
# (fuzz/run.sh --smoke, its own clang build in build/fuzz). Both always run;
# the script fails when either does. Usage: scripts/test.sh [ctest args...]
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
ctest_status=0
ctest --test-dir build/all --output-on-failure -j "$jobs" "$@" 2>&1 | tee build/all/ctest.log || ctest_status=$?

fuzz_status=0
VD_FUZZ_JOBS="$jobs" bash fuzz/run.sh --smoke || fuzz_status=$?

# ctest's summary last, so it closes the output as it closes the run.
grep -E '^[0-9]+% tests passed|^Total Test time' build/all/ctest.log || true
if [ "$ctest_status" -ne 0 ] || [ "$fuzz_status" -ne 0 ]; then
  echo "test: failed (ctest exit $ctest_status, fuzz smoke exit $fuzz_status)" >&2
  exit 1
fi
