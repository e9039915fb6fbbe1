#!/usr/bin/env bash
# Builds every libFuzzer target with clang in build/fuzz and runs them,
# printing one table row per target.
#
# Usage: fuzz/run.sh [--smoke | --runs N | SECONDS] [TARGET ...]
#   SECONDS   run each target that long (default 600): a campaign
#   --runs N  run each target until it has executed N inputs
#   --smoke   30 seconds each, ends with one summary line (the test command's step)
#   TARGET    names from build/fuzz/fuzzers.txt (default: all of them)
# Targets run VD_FUZZ_PARALLEL at a time (default 2). Corpora grow in
# build/fuzz/corpus/<target>; crash inputs land in build/fuzz/artifacts/<target>.
# Seeds: build/fuzz/seeds/<target> (every <folder>/fuzz/make_seeds.py) and any
# <folder>/fuzz/seeds/<target> of the source tree.
# VD_FUZZ_SOURCE overrides the source tree, VD_FUZZ_BUILD the build folder,
# VD_FUZZ_JOBS the build jobs. Exits non-zero when a build fails or a target
# crashes, leaks, hangs or breaks one of its invariants.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
src=${VD_FUZZ_SOURCE:-$root}
build=${VD_FUZZ_BUILD:-$root/build/fuzz}
parallel=${VD_FUZZ_PARALLEL:-2}

mode=time
secs=600
runs=0
case "${1:-}" in
  --smoke) mode=smoke; secs=30; shift ;;
  --runs) mode=runs; runs=${2:?--runs needs a count}; secs=0; shift 2 ;;
  ''|-*) ;;
  *) secs=$1; shift ;;
esac
requested=("$@")

fail() {
  echo "fuzz: $*" >&2
  [ "$mode" = smoke ] && echo "fuzz smoke: FAILED ($*)"
  exit 1
}

mkdir -p "$build"
cmake -S "$src" -B "$build" -G Ninja \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVD_SANITIZE=ON -DVD_FUZZ=ON -DBUILD_TESTING=OFF \
  -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >"$build/configure.log" 2>&1 ||
  { tail -n 30 "$build/configure.log" >&2; fail "configure failed (log: $build/configure.log)"; }
[ -s "$build/fuzzers.txt" ] || fail "no fuzz targets declared ($build/fuzzers.txt)"
mapfile -t declared <"$build/fuzzers.txt"

targets=()
if [ ${#requested[@]} -eq 0 ]; then
  targets=("${declared[@]}")
else
  for t in "${requested[@]}"; do
    printf '%s\n' "${declared[@]}" | grep -qx "$t" || fail "unknown target $t (declared: ${declared[*]})"
    targets+=("$t")
  done
fi

# One build of everything asked for; a target that does not build fails the run.
if [ ${#requested[@]} -eq 0 ]; then
  build_targets=(vd_fuzzers)
else
  build_targets=("${targets[@]/#/fuzz_}")
fi
echo "fuzz: building ${#targets[@]} targets in $build"
cmake --build "$build" -j"${VD_FUZZ_JOBS:-2}" --target "${build_targets[@]}" >"$build/build.log" 2>&1 ||
  { grep -E 'error|FAILED' "$build/build.log" | head -n 40 >&2; fail "build failed (log: $build/build.log)"; }

for seeder in "$here/make_seeds.py" "$src"/*/fuzz/make_seeds.py; do
  python3 "$seeder" "$build/seeds" || fail "seeds could not be written ($seeder)"
done

# Longest input per target: enough for the format, short enough to stay fast.
max_len_of() {
  case "$1" in
    pidl_*) echo 8192 ;;
    ini_profile|sdk_config|http_headers|sdk_json) echo 1024 ;;
    record_text|view_record|client_record) echo 2048 ;;
    sign_in_values) echo 2100 ;;  # just past the 2048-byte bound of a value
    cloudserver_*) echo 4096 ;;  # a request script or a small image
    *) echo 0 ;;  # libFuzzer's own choice from the corpus
  esac
}

# Runs one target; writes its table row to $build/results/<target>.
run_one() {
  local t=$1
  local exe corpus artifacts log row limit rc execs crashes cov ft started elapsed seeds=()
  exe=$(find "$build" -type f -name "fuzz_$t" -perm -u+x | head -n 1)
  corpus="$build/corpus/$t"
  artifacts="$build/artifacts/$t"
  log="$build/logs/$t.log"
  row="$build/results/$t"
  rm -rf "$artifacts"
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")" "$(dirname "$row")"
  [ -d "$build/seeds/$t" ] && seeds+=("$build/seeds/$t")
  for d in "$src"/*/fuzz/seeds/"$t" "$src"/fuzz/seeds/"$t"; do
    [ -d "$d" ] && seeds+=("$d")
  done
  limit=()
  if [ "$mode" = runs ]; then limit=(-runs="$runs"); else limit=(-max_total_time="$secs"); fi
  local len
  len=$(max_len_of "$t")
  [ "$len" != 0 ] && limit+=(-max_len="$len")
  started=$(date +%s)
  if [ -z "$exe" ]; then
    echo "no executable fuzz_$t" >"$log"
    rc=127
  else
    ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1} \
      "$exe" "${limit[@]}" -timeout=25 -rss_limit_mb=2560 -print_final_stats=1 \
      -artifact_prefix="$artifacts/" "$corpus" "${seeds[@]}" >"$log" 2>&1
    rc=$?
  fi
  elapsed=$(( $(date +%s) - started ))
  execs=$(grep -m1 'stat::number_of_executed_units' "$log" | awk '{print $2}')
  crashes=$(find "$artifacts" -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
  cov=$(grep -E '^#[0-9]+' "$log" | tail -n 1 | grep -o 'cov: [0-9]*' | awk '{print $2}')
  ft=$(grep -E '^#[0-9]+' "$log" | tail -n 1 | grep -o 'ft: [0-9]*' | awk '{print $2}')
  local result=ok
  if [ "$rc" -ne 0 ] || [ "$crashes" -ne 0 ]; then result=FAILED; fi
  printf '%-24s %12s %8s %8s %8s %8s  %-6s %s\n' "$t" "${execs:-?}" "$elapsed" "$crashes" "${cov:-?}" "${ft:-?}" \
    "$result" "$log" >"$row"
}

header=$(printf '%-24s %12s %8s %8s %8s %8s  %-6s %s' target executions seconds crashes cov ft result log)
if [ "$mode" = runs ]; then
  echo "fuzz: ${#targets[@]} targets, $runs executions each, $parallel at a time"
else
  echo "fuzz: ${#targets[@]} targets, $secs s each, $parallel at a time"
fi
rm -rf "$build/results"
running=0
for t in "${targets[@]}"; do
  if [ "$running" -ge "$parallel" ]; then
    wait -n
    running=$((running - 1))
  fi
  run_one "$t" &
  running=$((running + 1))
done
wait

echo "$header"
failed=()
for t in "${targets[@]}"; do
  if [ -f "$build/results/$t" ]; then
    cat "$build/results/$t"
    grep -q ' FAILED ' "$build/results/$t" && failed+=("$t")
  else
    printf '%-24s %s\n' "$t" "no result"
    failed+=("$t")
  fi
done
for t in "${failed[@]}"; do
  echo "--- $t: $(find "$build/artifacts/$t" -type f 2>/dev/null | head -n 3 | tr '\n' ' ')"
  grep -m1 -E 'ERROR|runtime error|deadly signal' "$build/logs/$t.log" 2>/dev/null
done
if [ "$mode" = smoke ]; then
  echo "fuzz smoke: ${#targets[@]} targets for ${secs} s each, $(( ${#targets[@]} - ${#failed[@]} )) clean, ${#failed[@]} crashed${failed[*]:+ (${failed[*]})}"
fi
[ ${#failed[@]} -eq 0 ]
