#!/bin/bash
# `make damage`: builds ZOR with AddressSanitizer and UndefinedBehaviorSanitizer
# (the `make asan` configuration) and the campaign driver, then rescues
# DAMAGE_RUNS damaged copies of the forge's sample database.  Exits non-zero
# on a crash, a hang, a sanitizer report, a datafile written, or a row of an
# intact block not recovered; failed runs are kept under DAMAGE_WORK/failed/.
#
#   DAMAGE_RUNS     damaged databases (default 300)
#   DAMAGE_SEED     seed of the first run; run k uses DAMAGE_SEED + k (default 1)
#   DAMAGE_TIMEOUT  seconds one rescue session may take (default 30)
#   DAMAGE_BUILD    sanitizer build directory (default build-asan)
#   DAMAGE_WORK     scratch directory (default DAMAGE_BUILD/damage)
set -u
cd "$(dirname "$0")/../.."
DAMAGE_RUNS=${DAMAGE_RUNS:-300}
DAMAGE_SEED=${DAMAGE_SEED:-1}
DAMAGE_TIMEOUT=${DAMAGE_TIMEOUT:-30}
DAMAGE_BUILD=${DAMAGE_BUILD:-build-asan}
DAMAGE_WORK=${DAMAGE_WORK:-$DAMAGE_BUILD/damage}
JOBS=${JOBS:-$(nproc)}

cmake -S . -B "$DAMAGE_BUILD" -DCMAKE_BUILD_TYPE=Debug -DZOR_SANITIZE=ON >/dev/null || exit 1
cmake --build "$DAMAGE_BUILD" -j "$JOBS" --target zor damage_campaign >/dev/null || {
  cmake --build "$DAMAGE_BUILD" -j 1 --target zor damage_campaign
  exit 1
}
# The driver's own leak check is of no interest; ZOR's is (the driver sets it).
ASAN_OPTIONS=detect_leaks=0 "$DAMAGE_BUILD/damage_campaign" --zor "$DAMAGE_BUILD/zor" --runs "$DAMAGE_RUNS" \
  --seed "$DAMAGE_SEED" --timeout "$DAMAGE_TIMEOUT" --work "$DAMAGE_WORK"
