#!/usr/bin/env bash
# Builds the identifier fuzzers with clang in build/fuzz and runs each one.
# Usage: fuzz/run.sh [seconds per target (default 600)] [target ...]
# Targets: pidl_names pidl_ids pidl_detail pidl_list (default: all).
# VD_FUZZ_SOURCE overrides the source tree, VD_FUZZ_JOBS the build jobs.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
src=${VD_FUZZ_SOURCE:-$root}
build=${VD_FUZZ_BUILD:-$root/build/fuzz}
secs=${1:-600}
shift $(( $# > 0 ? 1 : 0 ))
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(pidl_names pidl_ids pidl_detail pidl_list)
fi

cmake -S "$src" -B "$build" -G Ninja \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVD_SANITIZE=ON -DBUILD_TESTING=OFF \
  -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null || exit 1
cmake --build "$build" -j"${VD_FUZZ_JOBS:-2}" --target "${targets[@]/#/fuzz_}" || exit 1

python3 "$here/make_seeds.py" "$build/seeds" || exit 1

status=0
for t in "${targets[@]}"; do
  exe=$(find "$build" -type f -name "fuzz_$t" -perm -u+x | head -n 1)
  corpus="$build/corpus/$t"
  artifacts="$build/artifacts/$t"
  log="$build/logs/$t.log"
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
  "$exe" -max_total_time="$secs" -max_len=8192 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "$corpus" "$build/seeds" >"$log" 2>&1
  rc=$?
  execs=$(grep -m1 'stat::number_of_executed_units' "$log" | awk '{print $2}')
  crashes=$(find "$artifacts" -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
  cov=$(grep -E '^#[0-9]+' "$log" | tail -n 1 | grep -o 'cov: [0-9]*' || true)
  printf '%-12s seconds=%s executions=%s crashes=%s %s exit=%s log=%s\n' \
    "$t" "$secs" "${execs:-?}" "$crashes" "$cov" "$rc" "$log"
  if [ "$rc" -ne 0 ] || [ "$crashes" -ne 0 ]; then
    status=1
  fi
done
exit $status
