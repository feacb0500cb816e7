#!/bin/bash
# `make fuzz`: installs clang and its fuzzer runtime when missing, builds the
# fuzz targets in build-fuzz, and runs each for FUZZ_SECONDS on a copy of its
# committed seed corpus.  Exits non-zero when any target finds a crash, a
# sanitizer report, a leak or a timeout; the reproducer is left in
# build-fuzz/artifacts/ and the target's log is printed.
#
#   FUZZ_SECONDS   time per target (default 60)
#   FUZZ_TARGETS   names to run (default: every fuzz/*_fuzz.cpp)
#   FUZZ_BUILD     build directory (default build-fuzz)
#   FUZZ_JOBS      targets run at once (default: the number of CPUs)
set -u
cd "$(dirname "$0")/.."
FUZZ_SECONDS=${FUZZ_SECONDS:-60}
FUZZ_BUILD=$(realpath -m "${FUZZ_BUILD:-build-fuzz}")
FUZZ_JOBS=${FUZZ_JOBS:-$(nproc)}
JOBS=${JOBS:-$(nproc)}

# A libFuzzer program links only with clang's runtime: check by building one.
fuzzer_toolchain_works() {
  command -v clang++ >/dev/null 2>&1 || return 1
  local probe
  probe=$(mktemp -d)
  printf '%s\n' '#include <cstddef>' '#include <cstdint>' \
    'extern "C" int LLVMFuzzerTestOneInput(const uint8_t *, size_t) { return 0; }' >"$probe/p.cpp"
  clang++ -fsanitize=fuzzer,address,undefined "$probe/p.cpp" -o "$probe/p" >/dev/null 2>&1
  local rc=$?
  rm -rf "$probe"
  return $rc
}

if ! fuzzer_toolchain_works; then
  echo "fuzz: installing clang and its fuzzer runtime"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq >/dev/null
  apt-get install -y -qq clang libclang-rt-dev >/dev/null 2>&1 ||
    apt-get install -y -qq clang libclang-rt-14-dev >/dev/null 2>&1
  if ! fuzzer_toolchain_works; then
    echo "fuzz: clang with -fsanitize=fuzzer is not usable" >&2
    exit 1
  fi
fi

cmake -S . -B "$FUZZ_BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DZOR_FUZZ=ON \
  >"$FUZZ_BUILD.configure.log" 2>&1 || { cat "$FUZZ_BUILD.configure.log"; exit 1; }
rm -f "$FUZZ_BUILD.configure.log"
cmake --build "$FUZZ_BUILD" --target fuzzers -j "$JOBS" || exit 1

# Targets held back from the default run while a finding of theirs in code
# owned elsewhere is open: each line of fuzz/held_back is "target reason".
# Naming a target in FUZZ_TARGETS runs it all the same.
held_back_reason() {
  [ -f fuzz/held_back ] && sed -n "s/^$1 //p" fuzz/held_back | head -1
}

if [ -n "${FUZZ_TARGETS:-}" ]; then
  targets=$FUZZ_TARGETS
else
  targets=
  for name in $(ls fuzz/*_fuzz.cpp | xargs -n1 basename | sed 's/\.cpp$//'); do
    reason=$(held_back_reason "$name")
    if [ -n "$reason" ]; then
      echo "fuzz: $name held back: $reason"
    else
      targets="$targets $name"
    fi
  done
fi

mkdir -p "$FUZZ_BUILD/artifacts" "$FUZZ_BUILD/logs"
# Longest input of each target: a block of up to 32 KB and its prefix, a
# script or file of a few kilobytes, a short text.
max_len_of() {
  case $1 in
    row_decode_fuzz | block_fields_fuzz | block_dump_fuzz) echo 32772 ;;
    segment_walk_fuzz) echo 32776 ;;
    lob_walk_fuzz) echo 33028 ;;
    shell_fuzz | value_format_fuzz) echo 4096 ;;
    rowid_fuzz) echo 64 ;;
    asm_metadata_fuzz) echo 262144 ;;
    convert_option_fuzz) echo 512 ;;
    *) echo 16384 ;;
  esac
}

run_target() {
  local name=$1
  # Absolute paths: a target may change its working directory.
  local work="$FUZZ_BUILD/corpus/$name"
  mkdir -p "$work"
  local seeds=()
  [ -d "fuzz/corpus/$name" ] && seeds=("$PWD/fuzz/corpus/$name")
  # New inputs go to the first directory (build-fuzz), never to the seeds.
  "$FUZZ_BUILD/$name" -max_total_time="$FUZZ_SECONDS" -timeout=10 -rss_limit_mb=2048 -max_len="$(max_len_of "$name")" \
    -print_final_stats=1 -artifact_prefix="$FUZZ_BUILD/artifacts/$name-" \
    "$work" "${seeds[@]}" >"$FUZZ_BUILD/logs/$name.log" 2>&1
  echo $? >"$FUZZ_BUILD/logs/$name.rc"
}

running=0
for name in $targets; do
  run_target "$name" &
  running=$((running + 1))
  if [ "$running" -ge "$FUZZ_JOBS" ]; then
    wait -n
    running=$((running - 1))
  fi
done
wait

failed=0
for name in $targets; do
  rc=$(cat "$FUZZ_BUILD/logs/$name.rc" 2>/dev/null || echo 1)
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$FUZZ_BUILD/logs/$name.log" | tail -1)
  if [ "$rc" -eq 0 ]; then
    printf 'fuzz: %-22s ok      %s runs in %ss\n' "$name" "${runs:-?}" "$FUZZ_SECONDS"
  else
    printf 'fuzz: %-22s FAILED  exit %s; log %s\n' "$name" "$rc" "$FUZZ_BUILD/logs/$name.log"
    grep -E "ERROR|SUMMARY|runtime error|Test unit written|deadly signal" "$FUZZ_BUILD/logs/$name.log" | head -20
    tail -40 "$FUZZ_BUILD/logs/$name.log"
    failed=$((failed + 1))
  fi
done
if [ "$failed" -ne 0 ]; then
  echo "fuzz: $failed target(s) failed; reproducers in $FUZZ_BUILD/artifacts/"
  exit 1
fi
echo "fuzz: every target ran ${FUZZ_SECONDS}s without a finding"
