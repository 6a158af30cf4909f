#!/usr/bin/env bash
# Re-runs what docs/reliability.md reports: the fault, hostile-value and process tests in a
# Debug build and in an AddressSanitizer + UndefinedBehaviorSanitizer build (build-hard,
# build-hard-asan), then a bounded fuzz run of every libFuzzer target (scripts/fuzz.sh).
#
#   scripts/reliability.sh          fuzzers 30 seconds each
#   scripts/reliability.sh 600      fuzzers ten minutes each
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
fuzz_seconds=${1:-30}
binaries=(tests/alerts/faults_test tests/data/database_faults_test tests/run/process_test
          tests/run/operator_test)

scripts/install-deps.sh
export CORVANE_REQUIRE_SERVICES=1  # a missing server fails a test instead of skipping it

run_variant() {
  local dir=$1
  shift
  cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j2 --target corvane-email-handler faults_test database_faults_test \
    process_test operator_test
  for binary in "${binaries[@]}"; do
    echo "== $(basename "$dir") $(basename "$binary")"
    timeout 1200 "$dir/$binary" --gtest_brief=1
  done
}

run_variant "$root/build-hard" -DCMAKE_BUILD_TYPE=Debug -DCORVANE_BUILD_TESTS=ON
(
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  run_variant "$root/build-hard-asan" -DCMAKE_BUILD_TYPE=Debug -DCORVANE_SANITIZE=ON \
    -DCORVANE_BUILD_TESTS=ON
)
scripts/fuzz.sh "$fuzz_seconds"
echo "reliability: every fault, hostile-value and process test passed in both builds; no fuzz failure"
